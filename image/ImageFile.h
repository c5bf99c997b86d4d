// The image the download sends, read either from a disk file (a BIN image, read
// packet by packet during the transfer) or from memory (a decoded STB image).
// Both modes keep the read and seek results the download engine was built on:
//  - disk mode: Read returns the number of bytes read (0 at the end); Seek
//    returns the new position;
//  - memory mode: Read returns 1 when all bytes were copied and 0 when the end
//    came first (the bytes before the end are copied, the position parks at the
//    end); Seek returns 1 and a seek past the end parks on the LAST byte.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

class CImageFile
{
public:
    enum class Origin
    {
        Begin,
        Current,
        End,
    };

    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Releases what the object held, then opens the file read-only in disk mode. Nonzero when
    // the file is open; on failure GetErrorText() holds the system's reason. Only a regular
    // file is opened: a folder, a pipe, a FIFO or a device is refused with what it is, and a
    // FIFO without a writer does not block the call.
    int OpenFile(const std::string& strPath);
    // Releases what the object held and switches to memory mode over n zero bytes at position 0.
    // 0 (GetErrorText() "Memory Assign Error") when the memory cannot be had.
    int Allocate(std::uint32_t nLength);
    // Releases what the object held and switches to memory mode over the given bytes (a decoded
    // image), position 0. Images longer than 32 bits can count are refused with 0.
    int Assign(std::vector<std::uint8_t>&& data);

    int Read(void* pBuffer, std::uint32_t nCount);
    // Disk mode: the new position, or -1 when the file is not open or the seek fails.
    // Memory mode: 1. From the start the position is the offset, from the end the length plus the
    // offset; a position before the start becomes 0 and one at or past the end the last byte.
    std::int64_t Seek(std::int64_t nOffset, Origin origin = Origin::Current);
    void Rewind();
    std::uint64_t GetLength() const;
    // Disk mode: true when the file was shortened or written to since it was
    // opened, so what is read now may not be the image that was chosen (or the
    // file can no longer be examined). Memory mode: false.
    bool ChangedSinceOpened() const;
    // Disk mode: closes the file. Memory mode: releases the image; a second Close does nothing.
    void Close();

    bool IsDiskMode() const { return m_bDiskMode != 0; }
    bool IsOpen() const { return m_bDiskMode ? m_fd >= 0 : !m_data.empty(); }
    const std::string& GetPath() const { return m_strPath; }
    // The last failure's reason; in disk mode a Read clears it first, so it is
    // empty after a read that did not fail.
    const std::string& GetErrorText() const { return m_strErrorText; }
    // The memory image (empty in disk mode), e.g. to fill after Allocate.
    std::uint8_t* GetData() { return m_data.data(); }

private:
    void Release();

    int m_fd = -1;              // the disk file, -1 when none is open
    std::string m_strPath;      // path of the disk file, for messages
    std::string m_strErrorText; // the last failure's reason
    struct stat m_openedInfo{}; // the disk file as it was when opened

    std::vector<std::uint8_t> m_data; // the memory image
    int m_bDiskMode = 1;
    std::uint32_t m_nPosition = 0; // next byte of the memory image
    std::uint32_t m_nLength = 0;   // length of the memory image
};

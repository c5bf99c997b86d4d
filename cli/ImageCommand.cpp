// kavdm image info|decode|encode|make-samples: image files without a receiver.
#include "cli/Commands.h"

#include "image/ImageLoader.h"
#include "image/ImageScan.h"
#include "image/ModuleKind.h"
#include "image/ModuleWalk.h"
#include "image/OutputPath.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"
#include "image/UploadFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace
{
// A decoding failure as STB tools have always printed it: BEL, the message, then the notice.
void PrintDecodingError(const std::string& strMessage)
{
    std::cerr << '\a' << " -> Error: " << strMessage << '\n' << " Execution terminated..." << "\n\n";
}

int Fail(const std::string& strMessage)
{
    std::cerr << "kavdm image: " << strMessage << '\n';
    return kExitFailed;
}

bool ReadWholeFile(const std::string& strPath, std::vector<std::uint8_t>& bytes, std::string& strError)
{
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(strPath, ec);
    if (ec)
    {
        strError = "cannot read " + strPath + ": " + ec.message();
        return false;
    }
    if (nSize > kMaxStbImageBytes)
    {
        strError = strPath + " holds " + std::to_string(nSize) + " bytes, more than the " +
                   std::to_string(kMaxStbImageBytes) + " bytes (256 MiB) an image may have";
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(strPath.c_str(), "rb"), &std::fclose);
    if (!file)
    {
        strError = "cannot read " + strPath + ": " + std::strerror(errno);
        return false;
    }
    bytes.resize(nSize);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    {
        strError = "cannot read " + strPath + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

// Writes beside the target and renames it into place, so a failure never
// leaves half a file, and only ever replaces a regular file.
bool WriteWholeFile(const std::string& strPath, const std::vector<std::uint8_t>& bytes, std::string& strError)
{
    CUploadFile file;
    if (file.Open(strPath) && file.Write(bytes.data(), bytes.size()) && file.Commit())
        return true;
    strError = file.LastErrorText();
    if (!strError.empty())
        strError[0] = char(std::tolower(static_cast<unsigned char>(strError[0])));
    file.Discard();
    return false;
}

// An output that is its input (by another name, a link or another path) would
// be replaced before it was read in full.
bool RefuseOutputOverInput(const std::string& strIn, const std::string& strOut)
{
    if (!IsSameFile(strIn, strOut))
        return false;
    Fail("cannot write " + strOut + ": it is the input file " + strIn);
    return true;
}

std::string Printable(std::string_view text)
{
    std::string out;
    for (const char c : text)
        out += (c >= 0x20 && c < 0x7F) ? c : '.';
    return out;
}

std::string Hex(std::uint64_t value, int nDigits)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", nDigits, static_cast<unsigned long long>(value));
    return text;
}

void PrintModuleRow(const ModuleInfo& module)
{
    const std::string_view kind = HasUnclassifiableKindBytes(module.header)
                                      ? std::string_view("unknown")
                                      : ModuleKindName(ModuleKindOf(module.header));
    char row[200];
    std::snprintf(row, sizeof row, "%3d  %10llu  %-14.*s  %10u  0x%02X  %-19s  %s", module.nNumber,
                  static_cast<unsigned long long>(module.nOffset), int(kind.size()), kind.data(),
                  module.nDataLength, module.header.bytes[0], Printable(module.header.makerText()).c_str(),
                  Hex(module.nCrc, 8).c_str());
    std::cout << row << '\n';
}

int RunInfo(const std::string& strPath)
{
    CImageFile image;
    const bool bStb = IsStbPath(strPath);
    if (bStb)
    {
        StbDecodeResult decoded = DecodeStbFile(strPath);
        if (!decoded.ok())
        {
            if (!decoded.detail.empty())
                std::cerr << "kavdm image: " << strPath << ": " << decoded.detail << '\n';
            PrintDecodingError(decoded.error);
            return kExitFailed;
        }
        image.Assign(std::move(decoded.image));
    }
    else if (!image.OpenFile(strPath))
    {
        return Fail("cannot open " + strPath + ": " + image.GetErrorText());
    }

    const ModuleWalk walk = WalkImageModules(image, true);
    std::cout << strPath << ": " << (bStb ? "STB, " : "BIN, ") << walk.nImageLength
              << (bStb ? " bytes decoded\n" : " bytes\n");
    std::cout << "  #      offset  kind                length  lead  maker                CRC-32\n";
    std::uint64_t nDataBytes = 0;
    for (const ModuleInfo& module : walk.modules)
    {
        PrintModuleRow(module);
        nDataBytes += module.nDataLength;
    }
    if (!walk.IsComplete())
        return Fail(walk.strProblem);
    std::cout << "modules: " << walk.modules.size() << ", data bytes: " << nDataBytes << '\n';

    const ImageScanResult scan = ScanImageForDownload(image);
    if (scan.nFunctionCode == 0)
    {
        std::cout << "download: refused (" << (bStb ? "STB" : "BIN") << " file is invalid.)\n";
        return Fail("the download would refuse this image: " + scan.strInvalidReason);
    }
    std::cout << "download: function code 0x" << Hex(scan.nFunctionCode, 2) << " ("
              << FunctionNameForKinds(scan.nModuleKinds) << "), total " << scan.nTotalBytes << " bytes\n";
    return kExitOk;
}

int RunDecode(const std::string& strIn, const std::string& strOut)
{
    if (RefuseOutputOverInput(strIn, strOut))
        return kExitFailed;
    const StbDecodeResult decoded = DecodeStbFile(strIn);
    if (!decoded.ok())
    {
        if (!decoded.detail.empty())
            std::cerr << "kavdm image: " << strIn << ": " << decoded.detail << '\n';
        PrintDecodingError(decoded.error);
        return kExitFailed;
    }
    std::string strError;
    if (!WriteWholeFile(strOut, decoded.image, strError))
        return Fail(strError);
    std::cout << strOut << ": " << decoded.image.size() << " bytes\n";
    return kExitOk;
}

int RunEncode(const std::string& strIn, const std::string& strOut)
{
    if (RefuseOutputOverInput(strIn, strOut))
        return kExitFailed;
    std::vector<std::uint8_t> bytes;
    std::string strError;
    if (!ReadWholeFile(strIn, bytes, strError))
        return Fail(strError);
    const StbEncodeResult encoded = EncodeStb(bytes);
    if (!encoded.ok())
        return Fail(encoded.error);
    if (!WriteWholeFile(strOut, encoded.stream, strError))
        return Fail(strError);
    // Any bytes can be coded; say so when the download would refuse them.
    CImageFile image;
    image.Assign(std::move(bytes));
    const ModuleWalk walk = WalkImageModules(image, false);
    if (!walk.IsComplete())
        std::cerr << "kavdm image: note: " << walk.strProblem << '\n';
    std::cout << strOut << ": " << encoded.stream.size() << " bytes from " << walk.nImageLength << '\n';
    return kExitOk;
}

int RunMakeSamples(const std::string& strFolder)
{
    std::error_code ec;
    std::filesystem::create_directories(strFolder, ec);
    if (ec)
        return Fail("cannot create " + strFolder + ": " + ec.message());
    for (const SampleFile& sample : MakeSampleFiles())
    {
        const std::string strPath = (std::filesystem::path(strFolder) / sample.name).string();
        std::string strError;
        if (!WriteWholeFile(strPath, sample.bytes, strError))
            return Fail(strError);
        std::cout << strPath << ": " << sample.bytes.size() << " bytes\n";
    }
    return kExitOk;
}
} // namespace

void AddImageCommand(CLI::App& app, CommandAction& action)
{
    auto* image = app.add_subcommand("image", "Inspect, decode and encode image files (BIN and STB)");
    image->require_subcommand(1);

    auto infoPath = std::make_shared<std::string>();
    auto* info = image->add_subcommand(
        "info", "One row per module (offset, kind, data length, lead byte, maker text, CRC-32 of the data), "
                "the totals and the function code a download would announce");
    info->add_option("IMAGE", *infoPath, "BIN or STB image (STB when the name ends in STB, any case)")->required();
    info->callback([&action, infoPath] { action = [infoPath] { return RunInfo(*infoPath); }; });

    auto decodePaths = std::make_shared<std::pair<std::string, std::string>>();
    auto* decode = image->add_subcommand("decode", "Decode an STB file into the plain image bytes");
    decode->add_option("IN", decodePaths->first, "STB file")->required();
    decode->add_option("OUT", decodePaths->second, "plain image to write")->required();
    decode->callback(
        [&action, decodePaths] { action = [decodePaths] { return RunDecode(decodePaths->first, decodePaths->second); }; });

    auto encodePaths = std::make_shared<std::pair<std::string, std::string>>();
    auto* encode = image->add_subcommand("encode", "Code a plain image as an STB file");
    encode->add_option("IN", encodePaths->first, "plain image (BIN)")->required();
    encode->add_option("OUT", encodePaths->second, "STB file to write")->required();
    encode->callback(
        [&action, encodePaths] { action = [encodePaths] { return RunEncode(encodePaths->first, encodePaths->second); }; });

    auto sampleFolder = std::make_shared<std::string>();
    auto* samples = image->add_subcommand("make-samples", "Write the demonstration images into a folder");
    samples->add_option("FOLDER", *sampleFolder, "where to write them")->required();
    samples->callback([&action, sampleFolder] { action = [sampleFolder] { return RunMakeSamples(*sampleFolder); }; });
}

// kavdm image info|decode|encode|make-samples: image files without a receiver.
// "-" as a file name is standard input or output; an input that is no regular
// file (a pipe, a FIFO, a device) is read as a stream, as standard input is;
// `info --json` prints JSON.
#include "cli/Commands.h"
#include "cli/StandardOutput.h"

#include "image/FileKind.h"
#include "image/ImageLoader.h"
#include "image/ImageScan.h"
#include "image/ImageStream.h"
#include "image/ModuleKind.h"
#include "image/ModuleWalk.h"
#include "image/OutputPath.h"
#include "image/SampleImages.h"
#include "image/StbCodec.h"
#include "image/UploadFile.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
constexpr const char* kStandardStream = "-";

// A decoding failure: BEL, the message, then the notice, in this fixed form so scripts can match it.
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
    if (strIn == "-" || strOut == "-" || !IsSameFile(strIn, strOut))
        return false;
    Fail("cannot write " + strOut + ": it is the input file " + strIn);
    return true;
}

// Standard input ("-") or a file that is not a regular one (a pipe such as
// `<(cat fw.bin)` or /dev/fd/N, a FIFO, a device): read to its end as a stream.
bool IsStreamInput(const std::string& strPath)
{
    return strPath == kStandardStream || !NonRegularFileKind(strPath).empty();
}

// Reads a stream input to its end, refusing more than an image may hold.
bool ReadStreamInput(const std::string& strPath, std::vector<std::uint8_t>& bytes, std::string& strError)
{
    return strPath == kStandardStream ? ReadImageStream(STDIN_FILENO, "standard input", bytes, strError)
                                      : ReadImageStream(strPath, bytes, strError);
}

bool ReadInput(const std::string& strPath, std::vector<std::uint8_t>& bytes, std::string& strError)
{
    return IsStreamInput(strPath) ? ReadStreamInput(strPath, bytes, strError) : ReadWholeFile(strPath, bytes, strError);
}

// Writes to standard output for "-", else to the file. Image bytes are not
// sent to a terminal, where they would only garble it.
bool WriteOutput(const std::string& strPath, const std::vector<std::uint8_t>& bytes, std::string& strError)
{
    if (strPath != kStandardStream)
        return WriteWholeFile(strPath, bytes, strError);
    if (isatty(STDOUT_FILENO))
    {
        strError = "standard output is a terminal: redirect it to a file or a pipe";
        return false;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
    {
        strError = std::string("cannot write standard output: ") + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

// Where the one-line summary goes: stdout, unless the image itself went there.
std::ostream& SummaryStream(const std::string& strOut)
{
    return strOut == kStandardStream ? std::cerr : std::cout;
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

std::string_view KindName(const ModuleInfo& module)
{
    return HasUnclassifiableKindBytes(module.header) ? std::string_view("unknown")
                                                     : ModuleKindName(ModuleKindOf(module.header));
}

void PrintModuleRow(const ModuleInfo& module)
{
    const std::string_view kind = KindName(module);
    char row[200];
    std::snprintf(row, sizeof row, "%3d  %10llu  %-14.*s  %10u  0x%02X  %-19s  %s", module.nNumber,
                  static_cast<unsigned long long>(module.nOffset), int(kind.size()), kind.data(),
                  module.nDataLength, module.header.bytes[0], Printable(module.header.makerText()).c_str(),
                  Hex(module.nCrc, 8).c_str());
    std::cout << row << '\n';
}

struct InfoArguments
{
    std::string path;
    bool stb = false;  // the input is STB whatever its name (for "-")
    bool json = false; // print JSON instead of the table
};

// Loads the image `info` looks at; reports and returns false when it cannot.
bool LoadForInfo(const InfoArguments& args, bool bStb, CImageFile& image)
{
    const bool bStream = IsStreamInput(args.path);
    std::vector<std::uint8_t> bytes;
    std::string strError;
    if (bStream && !ReadStreamInput(args.path, bytes, strError))
        return Fail(strError), false;
    if (bStb)
    {
        StbDecodeResult decoded = bStream ? DecodeStb(bytes) : DecodeStbFile(args.path);
        if (!decoded.ok())
        {
            if (!decoded.detail.empty())
                std::cerr << "kavdm image: " << args.path << ": " << decoded.detail << '\n';
            PrintDecodingError(decoded.error);
            return false;
        }
        image.Assign(std::move(decoded.image));
    }
    else if (bStream)
    {
        image.Assign(std::move(bytes));
    }
    else if (!image.OpenFile(args.path))
    {
        return Fail("cannot open " + args.path + ": " + image.GetErrorText()), false;
    }
    return true;
}

int PrintInfoJson(const InfoArguments& args, bool bStb, const ModuleWalk& walk, const ImageScanResult& scan)
{
    nlohmann::ordered_json info;
    info["file"] = args.path;
    info["format"] = bStb ? "stb" : "bin";
    info["bytes"] = walk.nImageLength;
    info["modules"] = nlohmann::ordered_json::array();
    std::uint64_t nDataBytes = 0;
    for (const ModuleInfo& module : walk.modules)
    {
        nDataBytes += module.nDataLength;
        info["modules"].push_back({{"number", module.nNumber},
                                   {"offset", module.nOffset},
                                   {"kind", KindName(module)},
                                   {"length", module.nDataLength},
                                   {"lead", module.header.bytes[0]},
                                   {"maker", Printable(module.header.makerText())},
                                   {"crc32", Hex(module.nCrc, 8)}});
    }
    info["data_bytes"] = nDataBytes;
    info["complete"] = walk.IsComplete();
    if (!walk.IsComplete())
        info["problem"] = walk.strProblem;
    else if (scan.nFunctionCode == 0)
        info["download"] = {{"refused", scan.strInvalidReason}};
    else
        info["download"] = {{"function_code", scan.nFunctionCode},
                            {"function", FunctionNameForKinds(scan.nModuleKinds)},
                            {"total_bytes", scan.nTotalBytes}};
    std::cout << info.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    if (!walk.IsComplete())
        return Fail(walk.strProblem);
    if (scan.nFunctionCode == 0)
        return Fail("the download would refuse this image: " + scan.strInvalidReason);
    return kExitOk;
}

int RunInfo(const InfoArguments& args)
{
    const bool bStb = args.stb || (args.path != kStandardStream && IsStbPath(args.path));
    CImageFile image;
    if (!LoadForInfo(args, bStb, image))
        return kExitFailed;

    const ModuleWalk walk = WalkImageModules(image, true);
    const ImageScanResult scan = walk.IsComplete() ? ScanImageForDownload(image) : ImageScanResult{};
    if (args.json)
        return PrintInfoJson(args, bStb, walk, scan);

    std::cout << args.path << ": " << (bStb ? "STB, " : "BIN, ") << walk.nImageLength
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
    std::vector<std::uint8_t> stream;
    std::string strError;
    const bool bStream = IsStreamInput(strIn);
    if (bStream && !ReadStreamInput(strIn, stream, strError))
        return Fail(strError);
    const StbDecodeResult decoded = bStream ? DecodeStb(stream) : DecodeStbFile(strIn);
    if (!decoded.ok())
    {
        if (!decoded.detail.empty())
            std::cerr << "kavdm image: " << strIn << ": " << decoded.detail << '\n';
        PrintDecodingError(decoded.error);
        return kExitFailed;
    }
    if (!WriteOutput(strOut, decoded.image, strError))
        return Fail(strError);
    SummaryStream(strOut) << strOut << ": " << decoded.image.size() << " bytes\n";
    return kExitOk;
}

int RunEncode(const std::string& strIn, const std::string& strOut)
{
    if (RefuseOutputOverInput(strIn, strOut))
        return kExitFailed;
    std::vector<std::uint8_t> bytes;
    std::string strError;
    if (!ReadInput(strIn, bytes, strError))
        return Fail(strError);
    const StbEncodeResult encoded = EncodeStb(bytes);
    if (!encoded.ok())
        return Fail(encoded.error);
    if (!WriteOutput(strOut, encoded.stream, strError))
        return Fail(strError);
    // Any bytes can be coded; say so when the download would refuse them.
    CImageFile image;
    image.Assign(std::move(bytes));
    const ModuleWalk walk = WalkImageModules(image, false);
    if (!walk.IsComplete())
        std::cerr << "kavdm image: note: " << walk.strProblem << '\n';
    SummaryStream(strOut) << strOut << ": " << encoded.stream.size() << " bytes from " << walk.nImageLength << '\n';
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

    auto infoArgs = std::make_shared<InfoArguments>();
    auto* info = image->add_subcommand(
        "info", "One row per module (offset, kind, data length, lead byte, maker text, CRC-32 of the data), "
                "the totals and the function code a download would announce");
    info->add_option("IMAGE", infoArgs->path,
                     "BIN or STB image (STB when the name ends in STB, any case); - for standard input")
        ->required();
    info->add_flag("--stb", infoArgs->stb, "the image is STB whatever its name (for standard input)");
    info->add_flag("--json", infoArgs->json, "print the same as a JSON object");
    info->callback(
        [&action, infoArgs] { action = [infoArgs] { return FinishStandardOutput(RunInfo(*infoArgs), "image"); }; });

    auto decodePaths = std::make_shared<std::pair<std::string, std::string>>();
    auto* decode = image->add_subcommand("decode", "Decode an STB file into the plain image bytes");
    decode->add_option("IN", decodePaths->first, "STB file, - for standard input")->required();
    decode->add_option("OUT", decodePaths->second, "plain image to write, - for standard output")->required();
    decode->callback([&action, decodePaths] {
        action = [decodePaths] {
            return FinishStandardOutput(RunDecode(decodePaths->first, decodePaths->second), "image");
        };
    });

    auto encodePaths = std::make_shared<std::pair<std::string, std::string>>();
    auto* encode = image->add_subcommand("encode", "Code a plain image as an STB file");
    encode->add_option("IN", encodePaths->first, "plain image (BIN), - for standard input")->required();
    encode->add_option("OUT", encodePaths->second, "STB file to write, - for standard output")->required();
    encode->callback([&action, encodePaths] {
        action = [encodePaths] {
            return FinishStandardOutput(RunEncode(encodePaths->first, encodePaths->second), "image");
        };
    });

    auto sampleFolder = std::make_shared<std::string>();
    auto* samples = image->add_subcommand("make-samples", "Write the demonstration images into a folder");
    samples->add_option("FOLDER", *sampleFolder, "where to write them")->required();
    samples->callback([&action, sampleFolder] {
        action = [sampleFolder] { return FinishStandardOutput(RunMakeSamples(*sampleFolder), "image"); };
    });
    AddImageCompareCommand(*image, action);
}

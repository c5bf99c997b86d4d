// kavdm image compare A B: whether two images (BIN or STB, "-" for standard
// input on one side) hold the same data, module by module. Exit 0 the same
// data, 1 different, 2 a usage error or an image that cannot be read.
#include "cli/Commands.h"
#include "cli/StandardOutput.h"

#include "image/FileKind.h"
#include "image/ImageCompare.h"
#include "image/ImageLoader.h"
#include "image/ImageStream.h"
#include "image/StbCodec.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
constexpr const char* kStandardInput = "-";
constexpr int kExitDifferent = 1;
constexpr int kExitUnreadable = 2;

struct CompareArguments
{
    std::string first, second;
    bool bHeaders = false; // header blocks count
    bool bJson = false;
    bool bStb = false; // standard input is STB
};

int Fail(const std::string& strMessage)
{
    std::cerr << "kavdm image compare: " << strMessage << '\n';
    return kExitUnreadable;
}

bool Load(const std::string& strPath, bool bStdinStb, CImageFile& image, bool& bStb)
{
    // Standard input, and a file that is no regular one (a pipe, a FIFO), are
    // read to their end as streams, as `image info` reads them.
    std::vector<std::uint8_t> bytes;
    const bool bStdin = strPath == kStandardInput;
    const bool bStream = bStdin || !NonRegularFileKind(strPath).empty();
    std::string strError;
    if (bStream && !(bStdin ? ReadImageStream(STDIN_FILENO, "standard input", bytes, strError)
                            : ReadImageStream(strPath, bytes, strError)))
        return Fail(strError), false;
    const CompareImageLoad loaded =
        LoadImageToCompare(bStdin ? std::string("standard input") : strPath, image,
                           bStdin ? bStdinStb : IsStbPath(strPath), bStream ? &bytes : nullptr);
    if (!loaded.ok())
        return Fail(loaded.error), false;
    bStb = loaded.bStb;
    return true;
}

std::string Hex(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string Cell(const std::optional<ComparedModule>& side, std::uint32_t ComparedModule::*field, bool bHex)
{
    if (!side)
        return "-";
    return bHex ? Hex((*side).*field) : std::to_string((*side).*field);
}

std::string Shown(const std::string& strPath)
{
    return strPath == kStandardInput ? std::string("standard input") : strPath;
}

void PrintTable(const CompareArguments& args, const ImageComparison& comparison, bool bStbA, bool bStbB)
{
    std::cout << "A: " << Shown(args.first) << (bStbA ? " (STB)\n" : " (BIN)\n");
    std::cout << "B: " << Shown(args.second) << (bStbB ? " (STB)\n" : " (BIN)\n");
    std::cout << " #A  #B  kind              length A    length B  CRC-32 A  CRC-32 B  result\n";
    for (const ModuleComparison& module : comparison.modules)
    {
        const std::string_view kind = ModuleKindName(module.kind);
        char row[160];
        std::snprintf(row, sizeof row, "%3s %3s  %-14.*s  %10s  %10s  %-8s  %-8s  ",
                      module.first ? std::to_string(module.first->nNumber).c_str() : "-",
                      module.second ? std::to_string(module.second->nNumber).c_str() : "-", int(kind.size()),
                      kind.data(), Cell(module.first, &ComparedModule::nLength, false).c_str(),
                      Cell(module.second, &ComparedModule::nLength, false).c_str(),
                      Cell(module.first, &ComparedModule::nCrc, true).c_str(),
                      Cell(module.second, &ComparedModule::nCrc, true).c_str());
        std::cout << row << DescribeModuleResult(module, comparison.bHeadersCount) << '\n';
    }
    std::cout << "result: " << DescribeComparison(comparison)
              << (comparison.bHeadersCount ? "" : " (header blocks not compared; --headers compares them)") << '\n';
}

nlohmann::ordered_json SideJson(const std::optional<ComparedModule>& side)
{
    if (!side)
        return nullptr;
    return {{"number", side->nNumber}, {"offset", side->nOffset}, {"length", side->nLength},
            {"crc32", Hex(side->nCrc)}};
}

void PrintJson(const CompareArguments& args, const ImageComparison& comparison, bool bStbA, bool bStbB)
{
    nlohmann::ordered_json out;
    out["a"] = {{"file", args.first}, {"format", bStbA ? "stb" : "bin"}};
    out["b"] = {{"file", args.second}, {"format", bStbB ? "stb" : "bin"}};
    out["headers_compared"] = comparison.bHeadersCount;
    out["modules"] = nlohmann::ordered_json::array();
    for (const ModuleComparison& module : comparison.modules)
    {
        nlohmann::ordered_json entry = {{"kind", ModuleKindName(module.kind)},
                                        {"a", SideJson(module.first)},
                                        {"b", SideJson(module.second)},
                                        {"differs", module.Differs(comparison.bHeadersCount)},
                                        {"result", DescribeModuleResult(module, comparison.bHeadersCount)}};
        if (module.HasCounterpart())
        {
            entry["header_equal"] = module.bHeaderEqual;
            entry["differing_bytes"] = module.nDifferingBytes;
            entry["first_difference"] =
                module.DataEqual() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(module.nFirstDifference);
        }
        out["modules"].push_back(entry);
    }
    out["same"] = comparison.Same();
    if (!comparison.strError.empty())
        out["error"] = comparison.strError;
    std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

int RunCompare(const CompareArguments& args)
{
    if (args.first == kStandardInput && args.second == kStandardInput)
    {
        std::cerr << "kavdm image compare: only one of the two images can be standard input (-)\n";
        return kExitUsage;
    }
    CImageFile first, second;
    bool bStbA = false, bStbB = false;
    if (!Load(args.first, args.bStb, first, bStbA) || !Load(args.second, args.bStb, second, bStbB))
        return kExitUnreadable;
    const ImageComparison comparison = CompareImages(first, second, args.bHeaders);
    if (args.bJson)
        PrintJson(args, comparison, bStbA, bStbB);
    else
        PrintTable(args, comparison, bStbA, bStbB);
    if (!comparison.strError.empty())
        return Fail(comparison.strError);
    return comparison.Same() ? kExitOk : kExitDifferent;
}
} // namespace

void AddImageCompareCommand(CLI::App& image, CommandAction& action)
{
    auto args = std::make_shared<CompareArguments>();
    auto* compare = image.add_subcommand(
        "compare", "Compare two images module by module (matched by kind and order): both lengths, both CRC-32s, "
                   "and equal or the first differing offset and the count of differing bytes. Exit 0 the same "
                   "data, 1 different, 2 usage or an unreadable image");
    compare->add_option("A", args->first, "BIN or STB image (STB when the name ends in STB); - for standard input")
        ->required();
    compare->add_option("B", args->second, "the image to compare it with; - for standard input")->required();
    compare->add_flag("--headers", args->bHeaders,
                      "a difference in the 64-byte header blocks counts too (an upload writes the receiver's "
                      "record there, so by default they are only reported)");
    compare->add_flag("--stb", args->bStb, "standard input is STB");
    compare->add_flag("--json", args->bJson, "print the comparison as a JSON object");
    compare->callback(
        [&action, args] { action = [args] { return FinishStandardOutput(RunCompare(*args), "image"); }; });
}

#include "cli/ReadBackReport.h"

#include <cstdio>

namespace
{
std::string Hex(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}
} // namespace

const char* ReadBackResultName(const ReadBackCheck* check)
{
    if (!check)
        return "not-checked";
    return check->Verified() ? "verified" : "different";
}

std::string ReadBackTable(const ReadBackCheck& check, const std::string& imagePath)
{
    std::string table = "image: " + imagePath + "\n";
    table += "  #  kind                length  CRC-32    result\n";
    for (const ModuleReadBack& module : check.modules)
    {
        const std::string_view kind = ModuleKindName(module.kind);
        char row[96];
        std::snprintf(row, sizeof row, "%3d  %-14.*s  %10u  %-8s  ", module.nNumber, int(kind.size()), kind.data(),
                      unsigned(module.nLength), Hex(module.nCrc).c_str());
        table += row + DescribeModuleReadBack(module) + "\n";
    }
    return table + "result: " + DescribeReadBack(check) + "\n";
}

std::string ReadBackFailure(const ReadBackCheck& check)
{
    if (!check.strError.empty())
        return check.strError;
    const ModuleReadBack* first = nullptr;
    for (const ModuleReadBack& module : check.modules)
        if (module.Failed() && !first)
            first = &module;
    if (!first)
        return "no module could be verified";
    std::string text = "module " + std::to_string(first->nNumber) + " (" + std::string(ModuleKindName(first->kind)) +
                       ") " + DescribeModuleReadBack(*first);
    if (const int more = check.FailedModules() - 1; more > 0)
        text += ", and " + std::to_string(more) + (more == 1 ? " more module" : " more modules");
    return text;
}

nlohmann::ordered_json ReadBackEventFields(const ReadBackCheck* check, UploadKind kind, const std::string& reason)
{
    nlohmann::ordered_json modules = nlohmann::ordered_json::array();
    for (const ModuleReadBack& module : check ? check->modules : std::vector<ModuleReadBack>{})
    {
        const bool differs = module.state == ReadBackState::Differs;
        modules.push_back({{"index", module.nNumber},
                           {"kind", ModuleKindName(module.kind)},
                           {"bytes", module.nLength},
                           {"crc32", Hex(module.nCrc)},
                           {"result", ReadBackStateName(module.state)},
                           {"first_difference", differs ? nlohmann::ordered_json(module.nFirstDifference) : nullptr},
                           {"differing_bytes", module.nDifferingBytes}});
    }
    return {{"result", ReadBackResultName(check)},
            {"reason", reason},
            {"upload", UploadKindName(kind)},
            {"modules", modules}};
}

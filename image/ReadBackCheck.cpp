#include "image/ReadBackCheck.h"

#include "image/ImageCompare.h"

#include <algorithm>
#include <map>

namespace
{
std::string Count(std::size_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}
} // namespace

int ReadBackCheck::CheckedModules() const
{
    return int(std::count_if(modules.begin(), modules.end(), [](const ModuleReadBack& m) { return m.Checked(); }));
}

int ReadBackCheck::FailedModules() const
{
    return int(std::count_if(modules.begin(), modules.end(), [](const ModuleReadBack& m) { return m.Failed(); }));
}

std::optional<UploadKind> UploadKindToCheck(const ModuleWalk& walk)
{
    bool bDigital = false, bAnalog = false;
    for (const ModuleInfo& module : walk.modules)
    {
        const ModuleKind kind = ModuleKindOf(module.header);
        bDigital |= kind == ModuleKind::DigitalFlash || kind == ModuleKind::DigitalEeprom;
        bAnalog |= kind == ModuleKind::Analog;
    }
    if (bDigital && bAnalog)
        return UploadKind::All;
    if (bDigital)
        return UploadKind::Digital;
    if (bAnalog)
        return UploadKind::Analog;
    return std::nullopt;
}

ReadBackCheck CheckReadBack(CImageFile& image, CImageFile& memory)
{
    ReadBackCheck check;
    const ModuleWalk sent = WalkImageModules(image, true);
    const ModuleWalk held = WalkImageModules(memory, false);
    if (!sent.IsComplete())
        check.strError = "the image cannot be read: " + sent.strProblem;
    else if (!held.IsComplete())
        check.strError = "the memory read back is not whole: " + held.strProblem;
    if (!check.strError.empty())
        return check;

    std::map<ModuleKind, const ModuleInfo*> lastSent, firstHeld;
    for (const ModuleInfo& module : sent.modules)
        lastSent[ModuleKindOf(module.header)] = &module;
    for (const ModuleInfo& module : held.modules)
        firstHeld.try_emplace(ModuleKindOf(module.header), &module);

    for (const ModuleInfo& module : sent.modules)
    {
        ModuleReadBack result;
        result.nNumber = module.nNumber;
        result.kind = ModuleKindOf(module.header);
        result.nLength = module.nDataLength;
        result.nCrc = module.nCrc;
        const ModuleInfo* last = lastSent[result.kind];
        const auto memoryOfKind = firstHeld.find(result.kind);
        if (result.kind == ModuleKind::Firmware)
            result.state = ReadBackState::Firmware;
        else if (last != &module)
        {
            result.state = ReadBackState::WrittenOver;
            result.nWrittenOverBy = last->nNumber;
        }
        else if (memoryOfKind == firstHeld.end())
            result.state = ReadBackState::Missing;
        else
        {
            const ModuleInfo& other = *memoryOfKind->second;
            ModuleComparison pair;
            pair.first = ComparedModule{module.nNumber, module.nOffset, module.nDataLength, module.nCrc};
            pair.second = ComparedModule{other.nNumber, other.nOffset, other.nDataLength, 0};
            if (!CompareModulePair(image, memory, pair, true, check.strError))
                break;
            result.state = pair.nDifferingBytes == 0 ? ReadBackState::Verified : ReadBackState::Differs;
            result.nFirstDifference = pair.nFirstDifference;
            result.nDifferingBytes = pair.nDifferingBytes;
        }
        check.modules.push_back(result);
    }
    image.Rewind();
    memory.Rewind();
    return check;
}

std::string DescribeModuleReadBack(const ModuleReadBack& module)
{
    switch (module.state)
    {
    case ReadBackState::Verified:
        return "verified";
    case ReadBackState::Differs:
        return "differs at offset " + std::to_string(module.nFirstDifference) + " (" +
               Count(module.nDifferingBytes, "byte") + ")";
    case ReadBackState::Missing:
        return "not in the receiver's memory";
    case ReadBackState::Firmware:
        return "not verifiable: firmware cannot be read back";
    case ReadBackState::WrittenOver:
        return "not verifiable: module " + std::to_string(module.nWrittenOverBy) +
               ", of the same kind, is written over it";
    }
    return "unknown";
}

std::string DescribeReadBack(const ReadBackCheck& check)
{
    const std::size_t unverifiable = check.modules.size() - std::size_t(check.CheckedModules());
    const std::string note = unverifiable == 0 ? "" : " (" + Count(unverifiable, "module") + " not verifiable)";
    if (!check.strError.empty())
        return "incomplete: " + check.strError;
    if (check.CheckedModules() == 0)
        return "nothing verifiable" + note;
    if (check.Verified())
        return "verified: " + Count(std::size_t(check.CheckedModules()), "module") + note;
    return "different: " + std::to_string(check.FailedModules()) + " of " +
           Count(std::size_t(check.CheckedModules()), "module") + note;
}

const char* ReadBackStateName(ReadBackState state)
{
    switch (state)
    {
    case ReadBackState::Verified:
        return "verified";
    case ReadBackState::Differs:
        return "differs";
    case ReadBackState::Missing:
        return "missing";
    case ReadBackState::Firmware:
        return "firmware";
    case ReadBackState::WrittenOver:
        return "written-over";
    }
    return "unknown";
}

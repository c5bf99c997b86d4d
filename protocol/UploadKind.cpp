#include "protocol/UploadKind.h"

#include "protocol/WireFormat.h"

std::uint8_t UploadFunctionCode(UploadKind kind)
{
    switch (kind)
    {
    case UploadKind::Analog:
        return FUNC_UPLOAD_ANALOG;
    case UploadKind::All:
        return FUNC_UPLOAD_BOTH;
    case UploadKind::Digital:
        break;
    }
    return FUNC_UPLOAD_DIGITAL;
}

int UploadExpectedBytes(UploadKind kind)
{
    constexpr int kDigital = kFlashModuleLength + kEepromModuleLength;
    switch (kind)
    {
    case UploadKind::Analog:
        return kAnalogModuleLength;
    case UploadKind::All:
        return kDigital + kAnalogModuleLength;
    case UploadKind::Digital:
        break;
    }
    return kDigital;
}

int UploadModuleCount(UploadKind kind)
{
    switch (kind)
    {
    case UploadKind::Analog:
        return 1;
    case UploadKind::All:
        return 3;
    case UploadKind::Digital:
        break;
    }
    return 2;
}

std::string_view UploadFunctionText(UploadKind kind)
{
    switch (kind)
    {
    case UploadKind::Analog:
        return "upload analog only";
    case UploadKind::All:
        return "upload digital&analog";
    case UploadKind::Digital:
        break;
    }
    return "upload digital only";
}

std::string_view UploadKindName(UploadKind kind)
{
    switch (kind)
    {
    case UploadKind::Analog:
        return "analog";
    case UploadKind::All:
        return "all";
    case UploadKind::Digital:
        break;
    }
    return "digital";
}

std::optional<UploadKind> ParseUploadKind(std::string_view name)
{
    for (const UploadKind kind : {UploadKind::Digital, UploadKind::Analog, UploadKind::All})
        if (name == UploadKindName(kind))
            return kind;
    return std::nullopt;
}

#include "ui/TransferEnd.h"

const char* TransferEndKindName(TransferEndKind kind)
{
    switch (kind)
    {
    case TransferEndKind::Complete:
        return "complete";
    case TransferEndKind::StatusReport:
        return "status-report";
    case TransferEndKind::Refused:
        return "refused";
    case TransferEndKind::PortLost:
        return "port-lost";
    case TransferEndKind::ImageError:
        return "image-error";
    case TransferEndKind::OutputError:
        return "output-error";
    case TransferEndKind::TimedOut:
        return "timed-out";
    case TransferEndKind::Reset:
        return "reset";
    case TransferEndKind::Interrupted:
        return "interrupted";
    case TransferEndKind::Different:
        return "different";
    }
    return "unknown";
}

std::string DescribeTransferEnd(const TransferEnd& end)
{
    std::string text;
    switch (end.kind)
    {
    case TransferEndKind::Complete:
        text = "complete";
        break;
    case TransferEndKind::StatusReport:
        text = "ended by the receiver's status report";
        break;
    case TransferEndKind::Refused:
        text = "the receiver refused the function";
        break;
    case TransferEndKind::PortLost:
        text = "the port was lost";
        break;
    case TransferEndKind::ImageError:
        text = "the image could not be read";
        break;
    case TransferEndKind::OutputError:
        text = "the output file could not be written";
        break;
    case TransferEndKind::TimedOut:
        text = "the receiver was silent for the --wait time";
        break;
    case TransferEndKind::Reset:
        text = "reset";
        break;
    case TransferEndKind::Interrupted:
        text = "interrupted";
        break;
    case TransferEndKind::Different:
        text = "the receiver's memory differs from the image";
        break;
    }
    if (!end.reason.empty())
        text += ": " + end.reason;
    return text;
}

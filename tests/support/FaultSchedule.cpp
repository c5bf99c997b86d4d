#include "support/FaultSchedule.h"

#include "image/ModuleKind.h"
#include "protocol/Clock.h"
#include "protocol/WireFormat.h"
#include "receiver/DownloadRole.h"
#include "receiver/ReceiverImage.h"
#include "receiver/UploadRole.h"
#include "support/RecordingLine.h"
#include "ui/ControlIds.h"
#include "ui/DownloadPage.h"
#include "ui/LinkSettings.h"
#include "ui/NullWindow.h"
#include "ui/UploadPage.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

namespace testsupport
{
unsigned CByteChoices::Pick(unsigned n)
{
    if (n <= 1 || m_offset >= m_size)
        return 0;
    unsigned value = m_data[m_offset++];
    if (n > 256 && m_offset < m_size)
        value = value << 8 | m_data[m_offset++];
    return value % n;
}

namespace
{
using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

constexpr int kMaxFaults = 6;                     // faults in one schedule, at most
constexpr int kFaultPercent = 12;                 // chance that a receiver write meets a fault
constexpr std::int64_t kGiveUpMs = 5 * 60 * 1000; // virtual time a schedule may take
constexpr int kMaxPowerCycles = 5;
constexpr int kMaxDelivery = 100;                 // bytes per delivery, as the serial monitor hands them on
constexpr int kWireRate = 115200;                 // for the bytes' time on the wire (10 bits each)

// The window layer the schedules need: the page timer, the end of a transfer. Boxes close at once.
class CScheduleWindow : public CNullWindow
{
public:
    explicit CScheduleWindow(const CVirtualClock& clock) : m_clock(clock) {}
    void SetTimer(int id, int periodMs) override
    {
        if (id == kPageTimerId)
        {
            timerPeriodMs = periodMs;
            nextTickMs = m_clock.NowMs() + periodMs;
        }
    }
    void KillTimer(int id) override
    {
        if (id == kPageTimerId)
            nextTickMs = kNever;
    }
    void TransferEnded(const TransferEnd& end) override
    {
        if (end.Completed())
            ++completions;
        else
            ++failures;
    }

    bool TimerRunning() const { return nextTickMs != kNever; }

    std::int64_t nextTickMs = kNever;
    int timerPeriodMs = 0;
    int completions = 0;
    int failures = 0;

private:
    const CVirtualClock& m_clock;
};

// Bytes on their way from the receiver to the page.
struct Arrival
{
    std::int64_t atMs = 0;
    Bytes bytes;
};

std::string Hex(const Bytes& bytes, std::size_t limit = 8)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i)
    {
        text += i ? " " : "";
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    if (bytes.size() > limit)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes PatternBytes(std::size_t length, unsigned seed)
{
    Bytes data(length);
    for (std::size_t i = 0; i < length; ++i)
        data[i] = std::uint8_t(i * 31 + seed * 17 + (i >> 8));
    return data;
}

// Two digital EEPROM modules of two packets each: small enough for thousands
// of runs, and each holds what its kind does, so the file reads back as an image.
std::vector<ReceiverModule> UploadMemory()
{
    std::vector<ReceiverModule> modules;
    for (unsigned seed : {1u, 2u})
    {
        ReceiverModule eeprom;
        eeprom.header = MakeModuleHeader(ModuleKind::DigitalEeprom);
        eeprom.data = PatternBytes(kEepromModuleLength, seed);
        modules.push_back(eeprom);
    }
    return modules;
}

// Two firmware modules: three packets and two, the last of each partly filled.
std::vector<ReceiverModule> DownloadImage()
{
    std::vector<ReceiverModule> modules;
    unsigned seed = 3;
    for (std::uint32_t length : {3000u, 1500u})
    {
        ReceiverModule module;
        module.header = MakeModuleHeader(ModuleKind::Firmware, length);
        module.data = PatternBytes(length, seed++);
        modules.push_back(module);
    }
    return modules;
}

// The file a fault-free upload of UploadMemory() writes: each module's header
// block as the page fills it (lead byte, kind bytes, the kind's length), then its data.
Bytes ExpectedUploadFile(const std::vector<ReceiverModule>& memory)
{
    Bytes file;
    for (const ReceiverModule& module : memory)
    {
        ModuleHeader header = InitialModuleHeader();
        header.bytes[0] = module.header.bytes[0] ? module.header.bytes[0] : 1;
        header.bytes[31] = 0;
        header.bytes[32] = module.header.digital();
        header.bytes[33] = module.header.flash();
        const std::uint32_t size = module.header.flash() ? kFlashModuleLength : kEepromModuleLength;
        for (int i = 0; i < 4; ++i)
            header.bytes[36 + i] = std::uint8_t(size >> (8 * i));
        const auto block = BuildControlMessage(header);
        file.insert(file.end(), block.begin(), block.end());
        file.insert(file.end(), module.data.begin(), module.data.end());
    }
    return file;
}

class CScheduleRun
{
public:
    CScheduleRun(ScheduleRole role, CChoiceSource& choices, const std::string& folder, unsigned faultClasses,
                 bool verbose)
        : m_role(role), m_choices(choices), m_folder(folder), m_faultClasses(faultClasses), m_bVerbose(verbose)
    {
    }

    ScheduleResult Run();

private:
    void StartReceiver();
    void TakeReceiverActions();
    void Inject(Bytes bytes);
    void Queue(Bytes bytes);
    void Deliver(const Bytes& bytes);
    void OnPageSent(const std::uint8_t* data, std::size_t length);
    void CheckSends(const char* event);
    void CheckTimer();
    void CheckCompletion();
    void Fail(const std::string& rule);
    std::int64_t Now() const { return m_clock.NowMs(); }
    std::int64_t WireMs(std::size_t bytes) const { return std::int64_t(bytes) * 10 * 1000 / kWireRate; }

    ScheduleRole m_role;
    CChoiceSource& m_choices;
    std::string m_folder;
    unsigned m_faultClasses;
    bool m_bVerbose;

    CVirtualClock m_clock;
    CScheduleWindow m_window{m_clock};
    CRecordingLine m_line;
    std::unique_ptr<CInfoPage> m_page;
    std::unique_ptr<CReceiverEngine> m_receiver;
    ReceiverOptions m_options;
    std::vector<ReceiverModule> m_modules; // the image sent, or the memory served
    Bytes m_expectedFile;
    std::string m_outputPath;

    std::deque<Arrival> m_arrivals;
    std::int64_t m_receiverCursorMs = 0; // when the receiver's next write leaves it
    std::int64_t m_frozenUntilMs = 0;    // a silent receiver does nothing until then
    Bytes m_heldForReceiver;             // what the page sent meanwhile, read when it wakes
    Bytes m_sentInEvent;                 // what the page sent during the current event
    std::uint8_t m_lastDelivered = 0;    // the last byte of the delivery before
    Bytes m_delivery;                    // the current delivery, behind the byte before it
    std::int64_t m_startMs = 0;
    int m_nFaults = 0;
    int m_nCompletionsSeen = 0;
    ScheduleResult m_result;
};

void CScheduleRun::Fail(const std::string& rule)
{
    if (m_result.violation.empty())
        m_result.violation = rule + " (at " + std::to_string(Now() - m_startMs) + " ms, page state " +
                             std::to_string(m_page ? m_page->State() : -1) + ")";
}

void CScheduleRun::StartReceiver()
{
    if (m_role == ScheduleRole::Download)
        m_receiver = std::make_unique<CDownloadRole>(m_options);
    else
        m_receiver = std::make_unique<CUploadRole>(m_options);
    m_receiverCursorMs = Now();
    m_receiver->Start(Now());
    TakeReceiverActions();
}

void CScheduleRun::TakeReceiverActions()
{
    for (ReceiverAction& action : m_receiver->TakeActions())
    {
        m_receiverCursorMs = std::max(m_receiverCursorMs, Now());
        if (action.kind == ReceiverAction::Kind::Pause)
            m_receiverCursorMs += action.nMilliseconds;
        else if (action.kind == ReceiverAction::Kind::Send)
            Inject(std::move(action.bytes));
        // SetRate: both ends are modelled at one rate; the page's reopen is checked by the unit tests.
    }
}

void CScheduleRun::Queue(Bytes bytes)
{
    m_receiverCursorMs += WireMs(bytes.size());
    const std::int64_t at = std::max(m_receiverCursorMs,
                                     m_arrivals.empty() ? std::int64_t(0) : m_arrivals.back().atMs);
    // The serial monitor hands the page at most 100 bytes at a time.
    for (std::size_t offset = 0; offset < bytes.size(); offset += kMaxDelivery)
    {
        const std::size_t count = std::min<std::size_t>(kMaxDelivery, bytes.size() - offset);
        m_arrivals.push_back({at, Bytes(bytes.begin() + long(offset), bytes.begin() + long(offset + count))});
    }
}

void CScheduleRun::Inject(Bytes bytes)
{
    // High picks mean a fault, so choices that have run out (0) leave the line alone.
    const bool bFault = m_nFaults < kMaxFaults && m_choices.Pick(100) >= unsigned(100 - kFaultPercent);
    if (!bFault)
    {
        Queue(std::move(bytes));
        return;
    }
    const unsigned fault = 1u << m_choices.Pick(7);
    if ((fault & m_faultClasses) == 0)
    {
        Queue(std::move(bytes));
        return;
    }
    // The upload's 3-byte module header carries no check of its own, so a noise
    // byte that lands where a header is expected cannot be told from its lead
    // byte; the page relies on the packets' mark and CRC. Noise in an upload
    // therefore changes bytes of a packet, or the receiver's error report takes
    // a packet's place: never a byte more on the line.
    const bool bPacket = bytes.size() == std::size_t(kPacketSize);
    if (m_role == ScheduleRole::Upload && !bPacket && (fault & (kFaultJunk | kFaultStrayReady | kFaultStatus)))
    {
        Queue(std::move(bytes));
        return;
    }
    ++m_nFaults;
    const std::string of = Hex(bytes);
    std::string what;
    switch (fault)
    {
    case kFaultDrop:
        what = "drop";
        break;
    case kFaultDouble:
        what = "double";
        Queue(bytes);
        Queue(std::move(bytes));
        break;
    case kFaultSplit:
    {
        const std::size_t at = bytes.size() > 1 ? 1 + m_choices.Pick(unsigned(bytes.size() - 1)) : 0;
        what = "split at " + std::to_string(at);
        if (at > 0)
        {
            Queue(Bytes(bytes.begin(), bytes.begin() + long(at)));
            Queue(Bytes(bytes.begin() + long(at), bytes.end()));
        }
        else
            Queue(std::move(bytes));
        break;
    }
    case kFaultJunk:
    {
        if (m_role == ScheduleRole::Upload)
        {
            const std::size_t at = m_choices.Pick(unsigned(bytes.size()));
            bytes[at] ^= std::uint8_t(1 + m_choices.Pick(255));
            what = "byte " + std::to_string(at) + " changed";
            Queue(std::move(bytes));
            break;
        }
        Bytes junk(1 + m_choices.Pick(4));
        for (auto& byte : junk)
            byte = std::uint8_t(m_choices.Pick(256));
        what = "junk " + Hex(junk);
        Queue(std::move(junk));
        Queue(std::move(bytes));
        break;
    }
    case kFaultStrayReady:
        what = "stray ready";
        if (m_role == ScheduleRole::Upload)
        {
            const std::size_t at = m_choices.Pick(unsigned(bytes.size()));
            bytes[at] = VR520_READY;
            what += " in place of byte " + std::to_string(at);
        }
        else
            Queue({VR520_READY});
        Queue(std::move(bytes));
        break;
    case kFaultStatus:
    {
        if (m_role == ScheduleRole::Upload)
        {
            what = "error report instead";
            Queue({VR520_STATUS, VR520_STATUS, VR520_STATUS});
            break;
        }
        static const std::uint8_t letters[] = {'Q', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z'};
        Bytes report{VR520_STATUS, letters[m_choices.Pick(8)]};
        what = "status " + Hex(report);
        Queue(std::move(report));
        Queue(std::move(bytes));
        break;
    }
    case kFaultSilence:
    {
        // The receiver stops for a while (busy, say): this write and everything after it come later.
        const std::int64_t silence = 1000 + 500 * std::int64_t(m_choices.Pick(19));
        m_receiverCursorMs = std::max(m_receiverCursorMs, Now()) + silence;
        m_frozenUntilMs = m_receiverCursorMs;
        what = "silence of " + std::to_string(silence) + " ms";
        Queue(std::move(bytes));
        break;
    }
    default:
        break;
    }
    m_result.trace += std::to_string(Now() - m_startMs) + " ms: " + what + " (write " + of + ")\n";
}

void CScheduleRun::OnPageSent(const std::uint8_t* data, std::size_t length)
{
    m_sentInEvent.insert(m_sentInEvent.end(), data, data + length);
    if (Now() < m_frozenUntilMs)
        m_heldForReceiver.insert(m_heldForReceiver.end(), data, data + length);
    else if (m_receiver)
        m_receiver->OnReceive(data, length, Now());
}

void CScheduleRun::Deliver(const Bytes& bytes)
{
    m_delivery.assign(1, m_lastDelivered);
    m_delivery.insert(m_delivery.end(), bytes.begin(), bytes.end());
    if (!bytes.empty())
        m_lastDelivered = bytes.back();
    std::vector<char> buffer(bytes.begin(), bytes.end());
    buffer.push_back(0); // the zero byte behind every delivery
    m_sentInEvent.clear();
    if (m_bVerbose)
        m_result.trace += std::to_string(Now() - m_startMs) + " ms: state " + std::to_string(m_page->State()) +
                          " gets " + Hex(bytes) + "\n";
    m_page->OnReceive(buffer.data(), int(bytes.size()));
    CheckSends("delivery");
}

// The page's answer to one delivery (or one timer tick) must be asked for by it.
void CScheduleRun::CheckSends(const char* event)
{
    const Bytes& sent = m_sentInEvent;
    if (sent.empty())
        return;
    if (m_bVerbose)
        m_result.trace += std::to_string(Now() - m_startMs) + " ms: " + event + " answered " + Hex(sent) + "\n";
    const bool bDelivery = std::string(event) == "delivery";
    const auto asked = [&](std::uint8_t byte) {
        return bDelivery && std::find(m_delivery.begin(), m_delivery.end(), byte) != m_delivery.end();
    };
    bool bAsked = false;
    if (m_role == ScheduleRole::Download)
    {
        if (sent.size() == 1 && sent[0] == VR520_READY)
            bAsked = asked(VR520_READY) || asked(0x00);
        else if (sent.size() == 1)
            bAsked = asked(VR520_RATE) || asked(VR520_FUNC);
        else if (sent.size() == std::size_t(kHeaderBlockSize))
            bAsked = asked(VR520_HEADER2);
        else if (sent.size() == std::size_t(kPacketSize))
            bAsked = asked(VR520_DATA);
    }
    else
    {
        // Answers to the receiver, or one request: a header (0x70) or a packet (0x69 and its number).
        if (sent.size() == 1 && sent[0] == VR520_READY)
            bAsked = asked(VR520_READY);
        else if (sent.size() == 1 && sent[0] == FUNC_UPLOAD_DIGITAL)
            bAsked = asked(VR520_RATE) || asked(VR520_FUNC);
        else if (sent.size() == 1 && sent[0] == HEADER_REQUEST)
            bAsked = true;
        else if (sent.size() == 2 && sent[0] == PACKET_REQUEST)
            bAsked = true;
    }
    if (!bAsked)
        Fail("the page sent " + Hex(sent) + " unasked, on a " + event + " of " +
             (bDelivery ? Hex(Bytes(m_delivery.begin() + 1, m_delivery.end())) : std::string("the timer")));
}

void CScheduleRun::CheckTimer()
{
    if (m_role != ScheduleRole::Upload || m_window.TimerRunning())
        return;
    const int state = m_page->State();
    if (state == CUploadPage::ReceivePacket || state == CUploadPage::ReceiveModuleHeader)
        Fail("the upload page waits for the receiver (state " + std::to_string(state) + ") without its timer");
}

void CScheduleRun::CheckCompletion()
{
    if (m_window.completions == m_nCompletionsSeen)
        return;
    m_nCompletionsSeen = m_window.completions;
    if (m_role == ScheduleRole::Download)
    {
        const auto& received = m_receiver->ReceivedModules();
        bool bSame = m_receiver->Succeeded() && received.size() == m_modules.size();
        for (std::size_t i = 0; bSame && i < received.size(); ++i)
            bSame = received[i].data == m_modules[i].data;
        if (!bSame)
            Fail("the download reported completion but the receiver did not get every module");
    }
    else
    {
        const Bytes file = ReadAll(m_outputPath);
        if (file != m_expectedFile)
        {
            const auto differs = std::mismatch(file.begin(), file.end(), m_expectedFile.begin(), m_expectedFile.end());
            Fail("the upload reported completion but the file differs from what the receiver served (" +
                 std::to_string(file.size()) + " bytes for " + std::to_string(m_expectedFile.size()) +
                 ", first difference at " + std::to_string(differs.first - file.begin()) + ": " + Hex(Bytes(differs.first, file.end())) + " for " + Hex(Bytes(differs.second, m_expectedFile.end())) + ")");
        }
    }
    m_result.completed = true;
}

ScheduleResult CScheduleRun::Run()
{
    SetClock(&m_clock);
    m_startMs = Now();
    theLinkSettings = kInitialLinkSettings;
    theModuleHeader = InitialModuleHeader();
    theBytesLeft = 0;
    static const int rates[] = {9600, 57600, 115200};
    theLinkSettings.selectedBaudRate = rates[m_choices.Pick(3)];

    m_options.role = m_role == ScheduleRole::Download ? ReceiverRole::Download : ReceiverRole::Upload;
    m_options.nRate = m_choices.Pick(2) == 0 ? kReceiverAnyRate : kReceiverNoRate;
    m_line.onSend = [this](const std::uint8_t* data, std::size_t length) { OnPageSent(data, length); };
    // A purge drops what has reached the PC and was not yet handed to the page.
    m_line.onPurge = [this] {
        while (!m_arrivals.empty() && m_arrivals.front().atMs <= Now())
            m_arrivals.pop_front();
    };

    std::filesystem::create_directories(m_folder);
    if (m_role == ScheduleRole::Download)
    {
        m_modules = DownloadImage();
        const std::string imagePath = m_folder + "/image.bin";
        const Bytes image = BuildBinImage(m_modules);
        std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                          std::streamsize(image.size()));
        auto page = std::make_unique<CDownloadPage>(&m_window, nullptr, &m_line);
        page->OnInitDialog();
        page->OnBrowse(imagePath);
        m_page = std::move(page);
    }
    else
    {
        m_modules = UploadMemory();
        m_options.memory = m_modules;
        m_expectedFile = ExpectedUploadFile(m_modules);
        m_outputPath = m_folder + "/backup.bin";
        auto page = std::make_unique<CUploadPage>(&m_window, nullptr, &m_line);
        page->OnInitDialog();
        page->OnBrowse(m_outputPath);
        m_page = std::move(page);
    }
    m_page->SetBaudRate(theLinkSettings.selectedBaudRate);
    m_line.TakeAll();
    StartReceiver();

    int powerCycles = 0;
    while (m_result.violation.empty() && !m_result.completed)
    {
        const std::int64_t arrival = m_arrivals.empty() ? kNever : m_arrivals.front().atMs;
        const std::int64_t tick = m_window.nextTickMs;
        std::int64_t receiverDue = m_receiver->IsFinished() ? kNever : m_receiver->Deadline();
        if (receiverDue != kNever || !m_heldForReceiver.empty())
            receiverDue = std::max(receiverDue == kNever ? m_frozenUntilMs : receiverDue, m_frozenUntilMs);
        const std::int64_t next = std::min({arrival, tick, receiverDue});
        if (next == kNever)
        {
            // The receiver's session ended and nothing is under way: switch it off and on again.
            if (++powerCycles > kMaxPowerCycles)
            {
                m_result.stalled = "no transfer completed after " + std::to_string(kMaxPowerCycles) +
                                   " power cycles of the receiver, page state " + std::to_string(m_page->State());
                break;
            }
            m_result.trace += std::to_string(Now() - m_startMs) + " ms: receiver switched off and on (" +
                              m_receiver->ResultText() + ")\n";
            StartReceiver();
            continue;
        }
        if (next - m_startMs > kGiveUpMs)
        {
            m_result.stalled = "nothing completed within " + std::to_string(kGiveUpMs / 60000) +
                               " minutes, page state " + std::to_string(m_page->State());
            break;
        }
        if (next > Now())
            m_clock.Advance(int(next - Now()));
        if (next == arrival)
        {
            const Bytes bytes = std::move(m_arrivals.front().bytes);
            m_arrivals.pop_front();
            Deliver(bytes);
        }
        else if (next == receiverDue)
        {
            // Awake again: what the page sent meanwhile first, then its timers.
            if (!m_heldForReceiver.empty())
            {
                const Bytes held = std::move(m_heldForReceiver);
                m_heldForReceiver.clear();
                m_receiver->OnReceive(held.data(), held.size(), Now());
            }
            if (!m_receiver->IsFinished() && m_receiver->Deadline() <= Now())
                m_receiver->OnTick(Now());
        }
        else
        {
            m_window.nextTickMs = Now() + m_window.timerPeriodMs;
            m_sentInEvent.clear();
            m_page->OnTimer(kPageTimerId);
            CheckSends("timer tick");
        }
        TakeReceiverActions();
        CheckTimer();
        CheckCompletion();
    }

    m_result.faults = m_nFaults;
    m_page.reset();
    m_receiver.reset();
    SetClock(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
    return m_result;
}
} // namespace

ScheduleResult RunFaultSchedule(ScheduleRole role, CChoiceSource& choices, const std::string& folder,
                                unsigned faultClasses, bool verbose)
{
    CScheduleRun run(role, choices, folder, faultClasses, verbose);
    return run.Run();
}
} // namespace testsupport

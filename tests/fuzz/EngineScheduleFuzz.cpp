// libFuzzer target: the fault schedules of the unit test FaultScheduleTest, with
// the fuzzer's bytes as the schedule's choices (the first byte picks the
// engine). A schedule that breaks one of the engines' rules stops the run with
// the rule and the faults injected.
#include "support/FaultSchedule.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const std::string folder = "/tmp/kavdm-fuzz-schedules-" + std::to_string(::getpid());
    const auto role = data[0] & 1 ? testsupport::ScheduleRole::Upload : testsupport::ScheduleRole::Download;
    testsupport::CByteChoices choices(data + 1, size - 1);
    const testsupport::ScheduleResult result = testsupport::RunFaultSchedule(role, choices, folder);
    if (!result.violation.empty())
    {
        std::fprintf(stderr, "%s\n%s", result.violation.c_str(), result.trace.c_str());
        std::abort();
    }
    return 0;
}

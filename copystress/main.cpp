// vor32: the console data copy stress test.
#include "cmdline.h"
#include "log.h"
#include "platform.h"
#include "run.h"
#include "usage.h"

#include <cstdio>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    vor32::ReserveStandardDescriptors();
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    vor32::InstallStopSignals();

    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    vor32::ParseResult parsed = vor32::ParseCommandLine(args);
    if (parsed.outcome == vor32::ParseOutcome::Run) {
        return vor32::RunCopyStress(parsed.settings);
    }
    std::string refusal = vor32::RefusalText(parsed);
    vor32::ConsolePrintf("%s", refusal.c_str());
    if (vor32::ShowsUsage(parsed.outcome)) {
        vor32::Usage(parsed.outcome == vor32::ParseOutcome::Describe);
    }
    return 1;
}

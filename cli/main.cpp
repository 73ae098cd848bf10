// zebcli: the ZEB LAN stress tests without a window, for file servers, test hosts and
// scripts. The console is the message board; the exit status says whether a failure was
// posted.
#include "compatlogreader.h"
#include "fleet/fleetrun.h"
#include "options.h"
#include "processrun.h"
#include "runner.h"
#include "standardfds.h"
#include "summary.h"
#include "testfs.h"
#include "zebdll.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace zebcli;

int main(int argc, char** argv) {
    ReopenClosedStandardDescriptors();
    std::setlocale(LC_NUMERIC, "C");
    // Each message is a line, and a line is out as soon as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParseResult parsed = ParseArguments(args);
    if (!parsed.run) {
        if (parsed.exitStatus == kExitPassed) {
            std::fputs(parsed.message.c_str(), stdout);
        } else {
            std::fprintf(stderr, "zebcli: %s\n", parsed.message.c_str());
        }
        return parsed.exitStatus;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Log) {
        return DecodeLogCommand(options.logPath, options.logJson, stdout, stderr);
    }
    const std::vector<std::string> commandLine(argv, argv + argc);
    if (options.command == Command::Merge) {
        return fleet::RunMerge(options, commandLine);
    }

    if (options.command == Command::FileIo) {
        if (const int status = PrepareFileIo(options); status >= 0) {
            return status;
        }
        if (!options.clientCounts.empty()) {
            return fleet::RunClients(options, commandLine);
        }
    }
    return RunProcess(options, commandLine, nullptr);
}

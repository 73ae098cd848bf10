// zebcli: the ZEB LAN stress tests without a window, for file servers, test hosts and
// scripts. The console is the message board; the exit status is the engine's result code.
#include "console.h"
#include "options.h"
#include "runner.h"
#include "standardfds.h"
#include "summary.h"
#include "testfs.h"
#include "zebdll.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

constexpr int kUsageError = 64;
constexpr int kSummaryNotWritten = 1;

} // namespace

int main(int argc, char** argv) {
    ReopenClosedStandardDescriptors();
    std::setlocale(LC_NUMERIC, "C");
    // Each message is a line, and a line is out as soon as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const zebcli::ParseResult parsed = zebcli::ParseArguments(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "zebcli: %s\n", parsed.error.c_str());
        return kUsageError;
    }
    const zebcli::Options& options = parsed.options;
    if (options.command == zebcli::Command::Help) {
        const std::string_view usage = zebcli::UsageText();
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return 0;
    }

    // The engine's own clients read the authentication file named here.
    if (!options.authenticationFile.empty()) {
        ::setenv("ZEB_AUTHENTICATION_FILE", options.authenticationFile.c_str(), 1);
    }
    const bool onServer = zebcli::DescribeServer(options.path).has_value();
    if (options.command == zebcli::Command::FileIo && options.cacheMode == ZEB_CACHE_DIRECT &&
        !onServer) {
        const std::string refusal =
            zebcli::DirectRefusal(options.path, zebcli::SweepBufferSizes(options), options.ioMode);
        if (!refusal.empty()) {
            std::fprintf(stderr, "zebcli: %s\n", refusal.c_str());
            return kUsageError;
        }
    }

    zebcli::ConsoleBoard board(stdout);
    PassDynaResult(1);
    PassSaveResult(options.save ? 1 : 0);

    std::vector<zebcli::RunRecord> runs;
    switch (options.command) {
    case zebcli::Command::FileIo:
        runs = zebcli::RunFileIoSweep(options, board);
        break;
    case zebcli::Command::Send:
        runs = zebcli::RunSender(options, board);
        break;
    case zebcli::Command::Receive:
        runs = zebcli::RunReceiver(board);
        break;
    case zebcli::Command::Help:
        break;
    }

    const int resultCode = GetRetCode();
    if (!options.jsonPath.empty()) {
        std::optional<zebcli::TestedFileSystem> fileSystem;
        if (options.command == zebcli::Command::FileIo && !onServer) {
            fileSystem = zebcli::DescribeFileSystem(options.path);
        }
        const std::string error = zebcli::WriteWholeFile(
            options.jsonPath, zebcli::SummaryJson(options, runs, resultCode, fileSystem));
        if (!error.empty()) {
            std::fprintf(stderr, "zebcli: %s\n", error.c_str());
            return kSummaryNotWritten;
        }
    }
    return resultCode;
}

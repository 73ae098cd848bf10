#include "options.h"

#include "fields.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace zebcli {

namespace {

// The accepted ranges of the control dialog's fields.
constexpr fields::Range kFromRange{1, 65535};
constexpr fields::Range kToRange{2, 32000};
constexpr fields::Range kIncrementRange{2, 32000};
constexpr fields::Range kIterationRange{2, 32000};
constexpr fields::Range kBufferSizeRange{1, 65535};
constexpr fields::Range kBlocksRange{1, 32000};
constexpr std::size_t kModeTextLimit = 20;

constexpr std::string_view kUsage =
    "Usage: zebcli COMMAND [OPTIONS]\n"
    "Runs the ZEB LAN stress tests without a window; every message of the engine is one line\n"
    "on standard output.\n"
    "\n"
    "Commands:\n"
    "  fileio PATH   file I/O stress on the test file PATH, one pass per buffer size\n"
    "      --from N        first buffer size of the sweep, 1..65535 (1024)\n"
    "      --to N          last buffer size of the sweep, 2..32000 (2048)\n"
    "      --inc N         buffer size increment, 2..32000 (8)\n"
    "      --iterations N  operations per pass, 2..32000 (10)\n"
    "      --mode NAME     I/O mode, at most 20 characters (\"Overlay Write\"): Sequential Read,\n"
    "                      Sequential Write, Sequential R & W, Random Read, Random Write,\n"
    "                      Random R & W, Overlay Read, Overlay Write, Overlay R & W;\n"
    "                      any other text runs Random R & W\n"
    "      --cache MODE    how the passes reach the test file (plain): plain, through the\n"
    "                      client's cache; direct, with O_DIRECT; drop, every read and write\n"
    "                      made at the file system's server or disk\n"
    "  send          NetBIOS session stress as the sender\n"
    "      --blocks N      number of blocks, 1..32000 (1000)\n"
    "      --size N        block size in bytes, 1..65535 (65535)\n"
    "  recv          NetBIOS session stress as the receiver, until the sender hangs up\n"
    "\n"
    "Options of every command:\n"
    "  --save        append every message to report.txt in the current directory\n"
    "  --json FILE   write a machine-readable summary to FILE at the end\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 3 when no failure was posted, 2 after any failure, 64 for a usage error.\n"
    "The NetBIOS provider's settings (NETBIOS_LANAS, NETBIOS_BROADCAST, ...) come from the\n"
    "environment; see zebcli(1).\n";

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// Stores one number option with the dialog's rules; the message on failure names the option.
template <typename T, typename Store>
std::optional<std::string> StoreNumber(std::string_view option, std::string_view text,
                                       fields::Range range, T& stored, Store store) {
    const fields::StoreOutcome outcome = store(text, range, stored);
    if (outcome == fields::StoreOutcome::Stored) {
        return std::nullopt;
    }
    return std::string(option) + " " + Quoted(text) + ": " +
           fields::OutcomeMessage(outcome, range, 0);
}

std::optional<std::string> StoreUnsigned(std::string_view option, std::string_view text,
                                         fields::Range range, std::uint32_t& stored) {
    return StoreNumber(option, text, range, stored, fields::StoreUnsigned);
}

std::optional<std::string> StoreSigned(std::string_view option, std::string_view text,
                                       fields::Range range, std::int32_t& stored) {
    return StoreNumber(option, text, range, stored, fields::StoreSigned);
}

ParseResult Failure(std::string message) {
    ParseResult result;
    result.error = std::move(message);
    return result;
}

} // namespace

std::string_view UsageText() {
    return kUsage;
}

ParseResult ParseArguments(std::span<const std::string_view> args) {
    ParseResult result;
    Options& options = result.options;
    if (args.empty()) {
        return Failure("no command given (fileio, send or recv); see --help");
    }
    for (std::string_view arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.command = Command::Help;
            result.ok = true;
            return result;
        }
    }

    const std::string_view command = args[0];
    std::size_t at = 1;
    if (command == "fileio") {
        options.command = Command::FileIo;
        if (args.size() < 2 || args[1].starts_with("--")) {
            return Failure("fileio needs the test file's path");
        }
        options.path = std::string(args[1]);
        if (options.path.empty()) {
            return Failure("the test file's path is empty");
        }
        if (options.path.size() > kMaxPathBytes) {
            return Failure("the test file's path is longer than 200 bytes");
        }
        at = 2;
    } else if (command == "send") {
        options.command = Command::Send;
    } else if (command == "recv") {
        options.command = Command::Receive;
    } else {
        return Failure("unknown command " + Quoted(command) + " (fileio, send or recv)");
    }

    // Options of one command only; each number option takes the next argument.
    for (; at < args.size(); ++at) {
        const std::string_view option = args[at];
        if (option == "--save") {
            options.save = true;
            continue;
        }
        const bool fileIo = options.command == Command::FileIo;
        const bool send = options.command == Command::Send;
        const bool known =
            option == "--json" ||
            (fileIo && (option == "--from" || option == "--to" || option == "--inc" ||
                        option == "--iterations" || option == "--mode" || option == "--cache")) ||
            (send && (option == "--blocks" || option == "--size"));
        if (!known) {
            return Failure("unknown option " + Quoted(option) + " for " + std::string(command));
        }
        if (at + 1 >= args.size()) {
            return Failure(std::string(option) + " needs a value");
        }
        const std::string_view value = args[++at];
        std::optional<std::string> error;
        if (option == "--json") {
            if (value.empty()) {
                return Failure("--json needs a file name");
            }
            options.jsonPath = std::string(value);
        } else if (option == "--from") {
            error = StoreUnsigned(option, value, kFromRange, options.fromSize);
        } else if (option == "--to") {
            error = StoreUnsigned(option, value, kToRange, options.toSize);
        } else if (option == "--inc") {
            error = StoreUnsigned(option, value, kIncrementRange, options.sizeIncrement);
        } else if (option == "--iterations") {
            error = StoreUnsigned(option, value, kIterationRange, options.iteration);
        } else if (option == "--mode") {
            const auto outcome = fields::StoreText(value, kModeTextLimit, options.modeText);
            if (outcome != fields::StoreOutcome::Stored) {
                error = "--mode " + Quoted(value) + ": " +
                        fields::OutcomeMessage(outcome, {0, 0}, kModeTextLimit);
            }
        } else if (option == "--cache") {
            constexpr std::string_view kCacheModes[] = {"plain", "direct", "drop"};
            const auto* found = std::find(std::begin(kCacheModes), std::end(kCacheModes), value);
            if (found == std::end(kCacheModes)) {
                return Failure("--cache " + Quoted(value) + ": plain, direct or drop");
            }
            options.cacheText = std::string(value);
            options.cacheMode = static_cast<int>(found - std::begin(kCacheModes));
        } else if (option == "--blocks") {
            error = StoreSigned(option, value, kBlocksRange, options.blocks);
        } else if (option == "--size") {
            error = StoreUnsigned(option, value, kBufferSizeRange, options.bufferSize);
        }
        if (error) {
            return Failure(*error);
        }
    }
    options.ioMode = fields::IoModeFromText(options.modeText);
    result.ok = true;
    return result;
}

} // namespace zebcli

#include "options.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace zebcli {

namespace {

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
    "                      made at the file system's server or disk; smb:// and nfs:// test\n"
    "                      files are reached without a cache (\"none\")\n"
    "      --authentication-file FILE  user and password for smb:// (smbclient -A format);\n"
    "                      or the password in PASSWD\n"
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

// Stores one option with the dialog's rules for its field; the message on failure names the
// option.
std::optional<std::string> Refusal(const fields::Field& field, std::string_view text,
                                   fields::StoreOutcome outcome) {
    if (outcome == fields::StoreOutcome::Stored) {
        return std::nullopt;
    }
    return std::string(field.option) + " " + Quoted(text) + ": " + field.Message(outcome);
}

std::optional<std::string> Store(const fields::Field& field, std::string_view text,
                                 std::uint32_t& stored) {
    return Refusal(field, text, fields::StoreUnsigned(text, field.range, stored));
}

std::optional<std::string> Store(const fields::Field& field, std::string_view text,
                                 std::int32_t& stored) {
    return Refusal(field, text, fields::StoreSigned(text, field.range, stored));
}

std::optional<std::string> Store(const fields::Field& field, std::string_view text,
                                 std::string& stored) {
    return Refusal(field, text, fields::StoreText(text, field.limit, stored));
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
        const std::string authority = options.path.starts_with("smb://")
                                          ? options.path.substr(6, options.path.find('/', 6) - 6)
                                          : std::string();
        if (authority.find(':') < authority.find('@') && authority.find('@') != std::string::npos) {
            return Failure("the test file's URL holds a password: give it in PASSWD or "
                           "--authentication-file");
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
        using namespace fields;
        const bool known = option == "--json" ||
                           (fileIo && (option == kFromSize.option || option == kToSize.option ||
                                       option == kSizeIncrement.option ||
                                       option == kIteration.option || option == kModeText.option ||
                                       option == "--cache" || option == "--authentication-file")) ||
                           (send && (option == kBlocks.option || option == kBufferSize.option));
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
        } else if (option == kFromSize.option) {
            error = Store(kFromSize, value, options.fromSize);
        } else if (option == kToSize.option) {
            error = Store(kToSize, value, options.toSize);
        } else if (option == kSizeIncrement.option) {
            error = Store(kSizeIncrement, value, options.sizeIncrement);
        } else if (option == kIteration.option) {
            error = Store(kIteration, value, options.iteration);
        } else if (option == kModeText.option) {
            error = Store(kModeText, value, options.modeText);
        } else if (option == "--cache") {
            constexpr std::string_view kCacheModes[] = {"plain", "direct", "drop"};
            const auto* found = std::find(std::begin(kCacheModes), std::end(kCacheModes), value);
            if (found == std::end(kCacheModes)) {
                return Failure("--cache " + Quoted(value) + ": plain, direct or drop");
            }
            options.cacheText = std::string(value);
            options.cacheMode = static_cast<int>(found - std::begin(kCacheModes));
        } else if (option == "--authentication-file") {
            options.authenticationFile = std::string(value);
        } else if (option == kBlocks.option) {
            error = Store(kBlocks, value, options.blocks);
        } else if (option == kBufferSize.option) {
            error = Store(kBufferSize, value, options.bufferSize);
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

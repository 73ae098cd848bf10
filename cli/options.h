// The command line of zebcli: the test to run and its parameters, checked with the control
// dialog's ranges and messages.
#ifndef ZEBCLI_OPTIONS_H
#define ZEBCLI_OPTIONS_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zebcli {

enum class Command { Help, FileIo, Send, Receive };

struct Options {
    Command command = Command::Help;
    // File I/O sweep, with the dialog's defaults.
    std::string path;
    std::uint32_t fromSize = 1024;
    std::uint32_t toSize = 2048;
    std::uint32_t sizeIncrement = 8;
    std::uint32_t iteration = 10;
    std::string modeText = "Overlay Write";
    int ioMode = 7;
    // How the passes reach the test file: "plain", "direct" or "drop" (see SetFileCacheMode).
    std::string cacheText = "plain";
    int cacheMode = 0;
    // Session stress, with the dialog's defaults.
    std::int32_t blocks = 1000;
    std::uint32_t bufferSize = 65535;
    // Outputs.
    bool save = false;
    std::string jsonPath;
};

// Where parsing ended: the options, or the message that explains a usage error.
struct ParseResult {
    bool ok = false;
    Options options;
    std::string error;
};

// The longest test file path the runner accepts: a longer one would not fit the engine's
// message texts.
inline constexpr std::size_t kMaxPathBytes = 200;

// Parses the arguments after the program name.
ParseResult ParseArguments(std::span<const std::string_view> args);

// The usage text printed by --help.
std::string_view UsageText();

} // namespace zebcli

#endif

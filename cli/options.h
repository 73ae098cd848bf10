// The command line of zebcli: the test to run and its parameters, checked with the control
// dialog's ranges and messages.
#ifndef ZEBCLI_OPTIONS_H
#define ZEBCLI_OPTIONS_H

#include "fields.h"
#include "zebdll.h"

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
    std::uint32_t fromSize = fields::kFromSize.DefaultUnsigned();
    std::uint32_t toSize = fields::kToSize.DefaultUnsigned();
    std::uint32_t sizeIncrement = fields::kSizeIncrement.DefaultUnsigned();
    std::uint32_t iteration = fields::kIteration.DefaultUnsigned();
    std::string modeText{fields::kModeText.text};
    int ioMode = fields::IoModeFromText(fields::kModeText.text);
    // How the passes reach the test file: "plain", "direct" or "drop" (see SetFileCacheMode).
    std::string cacheText = "plain";
    int cacheMode = ZEB_CACHE_PLAIN;
    // An authentication file (smbclient -A format) for smb:// test files.
    std::string authenticationFile;
    // Session stress, with the dialog's defaults.
    std::int32_t blocks = fields::kBlocks.DefaultSigned();
    std::uint32_t bufferSize = fields::kBufferSize.DefaultUnsigned();
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

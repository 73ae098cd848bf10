#include "summary.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace zebcli {

namespace {

// The length of the UTF-8 sequence that starts at text[at], or 0 when none does.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    std::uint32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool ValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
        } else if (std::size_t length = Utf8Length(text, at)) {
            at += length;
        } else {
            return false;
        }
    }
    return true;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// One member of an object whose members stand at indent blanks.
void Field(std::string& out, const char* name, const std::string& json, bool& first,
           int indent = 4) {
    out += first ? "\n" : ",\n";
    out.append(static_cast<std::size_t>(indent), ' ');
    first = false;
    out += JsonString(name);
    out += ": ";
    out += json;
}

const char* CommandName(Command command) {
    switch (command) {
    case Command::FileIo:
        return "fileio";
    case Command::Send:
        return "send";
    case Command::Receive:
        return "recv";
    case Command::Help:
        break;
    }
    return "help";
}

std::string Parameters(const Options& options) {
    std::string out = "{";
    bool first = true;
    switch (options.command) {
    case Command::FileIo:
        Field(out, "path", JsonString(options.path), first);
        Field(out, "from", std::to_string(options.fromSize), first);
        Field(out, "to", std::to_string(options.toSize), first);
        Field(out, "increment", std::to_string(options.sizeIncrement), first);
        Field(out, "iterations", std::to_string(options.iteration), first);
        Field(out, "mode", JsonString(options.modeText), first);
        Field(out, "mode_index", std::to_string(options.ioMode), first);
        Field(out, "cache", JsonString(DescribeServer(options.path) ? "none" : options.cacheText),
              first);
        break;
    case Command::Send:
        Field(out, "blocks", std::to_string(options.blocks), first);
        Field(out, "size", std::to_string(options.bufferSize), first);
        break;
    case Command::Receive:
    case Command::Help:
        break;
    }
    Field(out, "save", options.save ? "true" : "false", first);
    return out + "\n  }";
}

std::string Run(const RunRecord& run) {
    std::string out = "{";
    bool first = true;
    if (run.bufferSize) {
        Field(out, "buffer_size", std::to_string(*run.bufferSize), first, 6);
    }
    Field(out, "start", JsonString(run.start), first, 6);
    Field(out, "elapsed_seconds", Number(run.elapsedSeconds), first, 6);
    Field(out, "outcome", JsonString(run.outcome), first, 6);
    if (run.engineResult) {
        Field(out, "engine_result", std::to_string(*run.engineResult), first, 6);
    }
    Field(out, "result_code", std::to_string(run.resultCode), first, 6);
    if (run.operationsPerSecond) {
        Field(out, "operations_per_second", Number(*run.operationsPerSecond), first, 6);
    }
    if (run.bytesRead) {
        Field(out, "bytes_read", std::to_string(*run.bytesRead), first, 6);
    }
    if (run.bytesWritten) {
        Field(out, "bytes_written", std::to_string(*run.bytesWritten), first, 6);
    }
    if (!run.summary.empty()) {
        Field(out, "summary", JsonString(run.summary), first, 6);
    }
    return out + "\n    }";
}

} // namespace

std::string JsonString(std::string_view text) {
    const bool utf8 = ValidUtf8(text);
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string SummaryJson(const Options& options, const std::vector<RunRecord>& runs, int resultCode,
                        const std::optional<TestedFileSystem>& fileSystem) {
    std::string out = "{\n  \"command\": ";
    out += JsonString(CommandName(options.command));
    out += ",\n  \"parameters\": ";
    out += Parameters(options);
    if (fileSystem) {
        std::string object = "{";
        bool first = true;
        Field(object, "type", JsonString(fileSystem->type), first);
        Field(object, "source", JsonString(fileSystem->source), first);
        Field(object, "mount_point", JsonString(fileSystem->mountPoint), first);
        out += ",\n  \"file_system\": " + object + "\n  }";
    }
    if (const std::optional<TestedServer> server =
            options.command == Command::FileIo ? DescribeServer(options.path) : std::nullopt) {
        std::string object = "{";
        bool first = true;
        Field(object, "backend", JsonString(server->backend), first);
        Field(object, "address", JsonString(server->address), first);
        out += ",\n  \"server\": " + object + "\n  }";
    }
    out += ",\n  \"runs\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += Run(runs[i]);
    }
    out += runs.empty() ? "]" : "\n  ]";
    out += ",\n  \"result_code\": ";
    out += std::to_string(resultCode);
    out += "\n}\n";
    return out;
}

std::string WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return "cannot create " + temporary + ": " + std::strerror(errno);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporary.c_str());
            return "cannot write " + temporary + ": " + std::strerror(error);
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        const int error = synced ? errno : syncError;
        ::unlink(temporary.c_str());
        return "cannot write " + temporary + ": " + std::strerror(error);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return "cannot rename " + temporary + " to " + path + ": " + std::strerror(error);
    }
    return {};
}

std::string UtcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis % 1000));
    return text;
}

} // namespace zebcli

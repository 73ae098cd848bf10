// What the results say of the target and the run, and the time as they record it.
#include "summary.h"

#include "url.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace zebcli {

TestTarget DescribeTarget(const Options& options) {
    const char* backend = "none"; // an URL of a scheme no backend serves
    switch (url::SchemeOf(options.path)) {
    case url::Scheme::Local:
        return {"posix", std::nullopt, options.cacheText};
    case url::Scheme::Smb:
        backend = "smb";
        break;
    case url::Scheme::Nfs:
        backend = "nfs";
        break;
    case url::Scheme::Unknown:
        break;
    }
    const url::Parsed parsed = url::Parse(options.path);
    return {backend, parsed.url ? std::optional(parsed.url->host) : std::nullopt, "none"};
}

RunContext CurrentContext(const std::vector<std::string>& commandLine) {
    RunContext context;
    context.start = UtcTimestamp();
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        context.host = host;
    }
    context.commandLine = commandLine;
    return context;
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

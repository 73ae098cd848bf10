#include "textutil.h"

#include "utf8.h"

#include <cstdio>

namespace zebcli {

std::string BoardUtf8(std::string_view text) {
    if (utf8::Valid(text)) {
        return std::string(text);
    }
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string CsvText(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string CsvRow(const std::vector<std::string>& cells) {
    std::string row;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        row += (i == 0 ? "" : ",") + cells[i];
    }
    return row + "\r\n";
}

std::string CsvNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string CsvRate(const std::optional<double>& value) {
    if (!value) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

} // namespace zebcli

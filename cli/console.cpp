#include "console.h"

#include <utility>

namespace zebcli {

namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

} // namespace

std::string BoardLine(const char* text) {
    std::string_view view(text);
    while (!view.empty() && IsLineEnd(view.front())) {
        view.remove_prefix(1);
    }
    while (!view.empty() && IsLineEnd(view.back())) {
        view.remove_suffix(1);
    }
    std::string line(view);
    for (char& c : line) {
        if (IsLineEnd(c)) {
            c = ' ';
        }
    }
    return line;
}

void ConsoleBoard::SetText(const char* text) {
    m_texts.emplace_back(text);
    Print(BoardLine(text));
}

void ConsoleBoard::ShowMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

void ConsoleBoard::Print(const std::string& line) {
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

std::vector<std::string> ConsoleBoard::TakeTexts() {
    return std::exchange(m_texts, {});
}

} // namespace zebcli

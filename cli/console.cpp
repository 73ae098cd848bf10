#include "console.h"

#include "progress.h"

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
    m_texts.push_back({text, std::chrono::steady_clock::now()});
    if (m_progress != nullptr) {
        m_progress->Text(text);
    }
    Print(BoardLine(text));
}

void ConsoleBoard::ShowMessageBox(const char* caption, const char* text) {
    const auto show = [&] {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
    };
    if (m_progress != nullptr) {
        m_progress->Around(show);
    } else {
        show();
    }
}

void ConsoleBoard::Print(const std::string& line) {
    if (!m_quiet) {
        PrintAlways(line);
    }
}

void ConsoleBoard::PrintAlways(const std::string& line) {
    const auto print = [&] {
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
    };
    if (m_progress != nullptr) {
        m_progress->Around(print);
    } else {
        print();
    }
}

std::vector<BoardText> ConsoleBoard::TakeTimedTexts() {
    return std::exchange(m_texts, {});
}

std::vector<std::string> ConsoleBoard::TakeTexts() {
    std::vector<std::string> texts;
    for (BoardText& t : TakeTimedTexts()) {
        texts.push_back(std::move(t.text));
    }
    return texts;
}

} // namespace zebcli

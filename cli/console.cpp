#include "console.h"

#include "enginetext.h"
#include "progress.h"

#include <utility>

namespace zebcli {

void ConsoleBoard::NoteBadPair(int expected, int actual) {
    m_expected = expected;
    m_actual = actual;
}

void ConsoleBoard::SetText(const char* text) {
    if (m_hook) {
        m_hook(text);
    }
    m_texts.push_back({text, std::chrono::steady_clock::now()});
    if (m_progress != nullptr) {
        m_progress->Text(text);
    }
    Print(BadPairLine(text, std::exchange(m_expected, -1), std::exchange(m_actual, -1)));
}

void ConsoleBoard::ShowMessageBox(const char* caption, const char* text) {
    const auto show = [&] {
        std::fprintf(stderr, "%s: %s\n", EngineLine(caption).c_str(), EngineLine(text).c_str());
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

// The console as the engine's message board: every text the engine shows on the board is
// printed as one line on standard output as it happens (unless quiet), rendered by
// enginetext.h, and kept with the time it came for the run's summary.
#ifndef ZEBCLI_CONSOLE_H
#define ZEBCLI_CONSOLE_H

#include "zebdll.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zebcli {

class Progress;

// A board text and when it was shown.
struct BoardText {
    std::string text;
    std::chrono::steady_clock::time_point at;
};

class ConsoleBoard final : public ZebWindow {
  public:
    // quiet: the engine's texts are kept but not printed. progress may be null.
    ConsoleBoard(std::FILE* out, bool quiet, Progress* progress = nullptr)
        : m_out(out), m_quiet(quiet), m_progress(progress) {}

    // The dialog and its board are the same console.
    ZebWindow* ChildWindow(int id) override { return id == ZEB_BOARD_ID ? this : nullptr; }
    void SetText(const char* text) override;
    // The console takes no input from the engine's point of view.
    void EnableInput(bool) override {}
    void DispatchPendingEvents() override {}
    // A message box is a line on standard error; nobody needs to dismiss it.
    void ShowMessageBox(const char* caption, const char* text) override;

    // The bytes of the damaged pair the engine's observer reported with the failure it is
    // about to post (-1: none), so that a report cut at a 0x00 byte shows whole.
    void NoteBadPair(int expected, int actual);

    // Prints a text of the runner's own, in the same form as the engine's, unless quiet.
    void Print(const std::string& line);
    // Prints a line whether quiet or not (the end summary, the failures).
    void PrintAlways(const std::string& line);

    // Called with each text as it comes, before it is kept and printed (empty: none).
    void SetTextHook(std::function<void(const char*)> hook) { m_hook = std::move(hook); }

    // The texts shown since the last call, oldest first.
    std::vector<BoardText> TakeTimedTexts();
    std::vector<std::string> TakeTexts();

  private:
    std::FILE* m_out;
    bool m_quiet;
    Progress* m_progress;
    int m_expected = -1;
    int m_actual = -1;
    std::vector<BoardText> m_texts;
    std::function<void(const char*)> m_hook;
};

} // namespace zebcli

#endif

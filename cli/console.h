// The console as the engine's message board: every text the engine shows on the board is
// printed as one line on standard output as it happens, and kept for the run's summary.
#ifndef ZEBCLI_CONSOLE_H
#define ZEBCLI_CONSOLE_H

#include "zebdll.h"

#include <cstdio>
#include <string>
#include <vector>

namespace zebcli {

// One line for a board text: line ends at either end are dropped and those inside become
// blanks, so that one posting is always one line.
std::string BoardLine(const char* text);

class ConsoleBoard final : public ZebWindow {
  public:
    explicit ConsoleBoard(std::FILE* out) : m_out(out) {}

    // The dialog and its board are the same console.
    ZebWindow* ChildWindow(int id) override { return id == ZEB_BOARD_ID ? this : nullptr; }
    void SetText(const char* text) override;
    // The console takes no input from the engine's point of view.
    void EnableInput(bool) override {}
    void DispatchPendingEvents() override {}
    // A message box is a line on standard error; nobody needs to dismiss it.
    void ShowMessageBox(const char* caption, const char* text) override;

    // Prints a text of the runner's own, in the same form as the engine's.
    void Print(const std::string& line);

    // The texts shown since the last call, oldest first.
    std::vector<std::string> TakeTexts();

  private:
    std::FILE* m_out;
    std::vector<std::string> m_texts;
};

} // namespace zebcli

#endif

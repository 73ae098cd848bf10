// The engine's texts as a terminal shows them, the same on the console board and in zebcli log:
// nothing the engine posts (a file name, a byte read back) can steer the terminal or leave
// invalid UTF-8 on it. The files the engine writes itself (report.txt, the compatibility log)
// keep its bytes; only what is printed is rendered.
#ifndef ZEBCLI_ENGINETEXT_H
#define ZEBCLI_ENGINETEXT_H

#include <string>
#include <string_view>

namespace zebcli {

// One posting as one line: line ends at either end dropped and those inside shown as blanks;
// printable UTF-8 as it is, a backslash as "\\", and every other byte as "\xHH": the control
// bytes (0x00-0x1F, 0x7F), each byte that is not part of valid UTF-8 (a Latin-1 byte
// included), and the two bytes of a C1 control (U+0080-U+009F) sent as UTF-8.
std::string EngineLine(std::string_view text);

// The engine reports a damaged pair as its label, a blank and the three bytes (the byte read,
// the byte expected after it, the byte read after it) as they are, so that a 0x00 among them
// ends the text the board gets. The line as it should have been shown, when text is that
// report cut at a 0x00; otherwise EngineLine(text). expected and actual are the bytes the
// engine's observer told of the failure (-1: not known).
std::string BadPairLine(std::string_view text, int expected, int actual);

} // namespace zebcli

#endif

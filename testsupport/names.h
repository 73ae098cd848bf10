// Readable names for the rows of parameterised tests, in place of gtest's index and byte dump:
//
//   INSTANTIATE_TEST_SUITE_P(Modes, EveryMode, ::testing::Values(...),
//                            zebtest::Named([](const ModeCase& c) { return "mode" + ...; }));
//
// A row is named by what describe says of it, cut to 48 characters, with '/', '-', '?' and
// '+' spelled "sl", "m", "q" and "p" and every other character but letters and digits made '_'
// (gtest allows nothing else). Named needs a different text
// for each row; NamedRows puts the row's number in front ("row3_args_4_8"), for rows such as
// command lines that may read alike once reduced.
#ifndef ZEB_TESTSUPPORT_NAMES_H
#define ZEB_TESTSUPPORT_NAMES_H

#include <string>
#include <vector>

namespace zebtest {

std::string TestName(const std::string& text);

template <class Describe> auto Named(Describe describe) {
    return [describe](const auto& info) { return TestName(describe(info.param)); };
}

template <class Describe> auto NamedRows(Describe describe) {
    return [describe](const auto& info) {
        return "row" + std::to_string(info.index) + "_" + TestName(describe(info.param));
    };
}

// Words joined by '_', behind a prefix: a command line as a name.
std::string Joined(const std::string& prefix, const std::vector<std::string>& words);

} // namespace zebtest

#endif

// Names for parameterised tests.
#include "names.h"

#include <cctype>

namespace zebtest {

std::string TestName(const std::string& text) {
    std::string name;
    for (char c : text.substr(0, 48)) {
        // The switch characters of command lines keep a trace; anything else becomes '_'.
        switch (c) {
        case '/':
            name += "sl";
            break;
        case '-':
            name += "m";
            break;
        case '?':
            name += "q";
            break;
        case '+':
            name += "p";
            break;
        default:
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
    }
    return name;
}

std::string Joined(const std::string& prefix, const std::vector<std::string>& words) {
    std::string joined = prefix;
    for (const std::string& w : words) {
        joined += "_" + w;
    }
    return joined;
}

} // namespace zebtest

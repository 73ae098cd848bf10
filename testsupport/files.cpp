// Scratch directories and whole files.
#include "files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zebtest {

TempDir::TempDir(const std::string& tag, const std::filesystem::path& parent) {
    const std::filesystem::path under =
        parent.empty() ? std::filesystem::temp_directory_path() : parent;
    std::string pattern = (under / (tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Make(const std::vector<std::string>& names) const {
    for (const std::string& name : names) {
        std::filesystem::create_directories(path_ / name);
    }
}

Scratch::Scratch(bool withCtlogs) : old_(std::filesystem::current_path()) {
    if (withCtlogs) {
        Make({"ctlogs"});
    }
    std::filesystem::current_path(path());
    setenv("WINDIR", path().c_str(), 1);
}

Scratch::~Scratch() {
    std::filesystem::current_path(old_);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    return Lines(ReadFile(path));
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

} // namespace zebtest

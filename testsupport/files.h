// Scratch directories, whole-file reads and writes, and the engine's test pattern, for tests.
#ifndef ZEB_TESTSUPPORT_FILES_H
#define ZEB_TESTSUPPORT_FILES_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace zebtest {

// size bytes, rounded down to even, of the engine's test pattern: pair k is 32 + k % 200
// and its complement.
template <typename Bytes = std::vector<unsigned char>> Bytes PairPattern(std::size_t size) {
    Bytes pattern(size & ~std::size_t{1}, 0);
    for (std::size_t i = 0; i < pattern.size(); i += 2) {
        pattern[i] = static_cast<typename Bytes::value_type>(32 + i / 2 % 200);
        pattern[i + 1] = static_cast<typename Bytes::value_type>(~(32 + i / 2 % 200));
    }
    return pattern;
}

// The test file as the engine makes it: 16 chunks of 65,534 bytes of the pattern.
inline std::string EngineTestFile() {
    std::string file;
    for (int k = 0; k < 16; ++k) {
        file += PairPattern<std::string>(65534);
    }
    return file;
}

// A fresh directory under the system's temporary folder (or under parent), removed with its
// content.
class TempDir {
  public:
    explicit TempDir(const std::string& tag = "zebtest", const std::filesystem::path& parent = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Makes the subdirectories named.
    void Make(const std::vector<std::string>& names) const;

  private:
    std::filesystem::path path_;
};

// A scratch directory that is, for the life of the object, the current directory (where
// report.txt goes) and $WINDIR (with ctlogs/ unless told otherwise, so that the compatibility
// log is written there).
class Scratch : public TempDir {
  public:
    explicit Scratch(bool withCtlogs = true);
    ~Scratch();
    std::filesystem::path Path(const std::string& name) const { return path() / name; }
    std::filesystem::path Log() const { return path() / "ctlogs" / "PLV.log"; }

  private:
    std::filesystem::path old_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The lines of a text, without their LF.
std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// Whitespace-separated words.
std::vector<std::string> Words(const std::string& line);

} // namespace zebtest

#endif

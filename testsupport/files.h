// Scratch directories and whole-file reads and writes for tests.
#ifndef ZEB_TESTSUPPORT_FILES_H
#define ZEB_TESTSUPPORT_FILES_H

#include <filesystem>
#include <string>
#include <vector>

namespace zebtest {

// A fresh directory under the system's temporary folder, removed with its content.
class TempDir {
  public:
    explicit TempDir(const std::string& tag = "zebtest");
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

// Helpers shared by the engine's tests: the compatibility log's records (through the kit's one
// decoder, common/compatlogdecoder.h), a recording window, and running a check in a child
// process with a freshly initialised engine state.
// It brings GoogleTest, the standard strings, containers and algorithms, process and mount
// calls, and the kit's files.h, names.h, netns.h and stations.h, which the engine tests use.
#ifndef ZEB_ENGINE_TEST_UTIL_H
#define ZEB_ENGINE_TEST_UTIL_H

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "compatlogdecoder.h"
#include "files.h"
#include "names.h"
#include "netns.h"
#include "stations.h"
#include "zebdll.h"

namespace zebtest {

// Texts in order: report lines, board texts, log records.
using Texts = std::vector<std::string>;

// The texts of the compatibility log's records; fails the test on a cut or damaged record.
inline std::vector<std::string> DecodeLog(const std::filesystem::path& path) {
    const std::string raw = ReadFile(path);
    std::vector<std::string> texts;
    for (const compatlog::Entry& e :
         compatlog::Decode({reinterpret_cast<const unsigned char*>(raw.data()), raw.size()})) {
        if (e.kind == compatlog::Entry::Kind::Record) {
            texts.push_back(e.text);
        } else {
            ADD_FAILURE() << path.string() << ": offset " << e.offset << ": " << e.problem;
        }
    }
    return texts;
}

// Starts body in a child process, where the engine's static state is as at load time unless
// the parent changed it. Failed expectations in the child make it exit with 100.
inline pid_t StartChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 100 : 0);
    }
    return pid;
}

// The child's exit status, or 128 and the number of the signal that ended it.
inline int WaitChild(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs body in a child process to its end; returns the child's exit status.
inline int InChild(const std::function<void()>& body) {
    return WaitChild(StartChild(body));
}

// InChild as a check: the child ran body to its end without a failed expectation.
inline ::testing::AssertionResult InChildPasses(const std::function<void()>& body) {
    const int status = InChild(body);
    if (status == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the child ended with status " << status;
}

// The heading a pass writes before its work.
inline std::string Heading(const std::string& path, unsigned b, int mode, unsigned iterations) {
    return "Test File: " + path + ", Buffer: " + std::to_string(b) +
           ", I/O Mode: " + std::to_string(mode) + ", Iteration: " + std::to_string(iterations);
}

// A window that records what the engine asks of it, in order: every call in the shared list,
// and of its own the texts it was given and how often it dispatched events.
class RecordingWindow final : public ZebWindow {
  public:
    explicit RecordingWindow(std::vector<std::string>* calls, bool hasBoard = true,
                             std::string name = "dialog")
        : calls_(calls), name_(std::move(name)),
          board_(hasBoard ? std::make_unique<RecordingWindow>(calls, false, "board") : nullptr) {}
    ZebWindow* ChildWindow(int id) override {
        calls_->push_back("child " + std::to_string(id));
        return id == ZEB_BOARD_ID ? board_.get() : nullptr;
    }
    void SetText(const char* text) override {
        texts_.emplace_back(text);
        calls_->push_back(name_ + " text " + text);
    }
    void EnableInput(bool enable) override {
        calls_->push_back(name_ + (enable ? " enable" : " disable"));
    }
    void DispatchPendingEvents() override {
        ++dispatches_;
        calls_->push_back(name_ + " dispatch");
    }
    void ShowMessageBox(const char* caption, const char* text) override {
        calls_->push_back(std::string("box ") + caption + ": " + text);
    }
    RecordingWindow* Board() { return board_.get(); }
    // The last text given ("" before the first), and all of them in order.
    std::string Text() const { return texts_.empty() ? "" : texts_.back(); }
    const Texts& Shown() const { return texts_; }
    int Dispatches() const { return dispatches_; }

  private:
    std::vector<std::string>* calls_;
    std::string name_;
    std::unique_ptr<RecordingWindow> board_;
    Texts texts_;
    int dispatches_ = 0;
};

// A recording window that is the engine's dialog for the life of the object.
struct EngineDialog {
    EngineDialog() { GetHWND(&window); }
    ~EngineDialog() { GetHWND(nullptr); }
    EngineDialog(const EngineDialog&) = delete;
    EngineDialog& operator=(const EngineDialog&) = delete;
    RecordingWindow* Board() { return window.Board(); }

    std::vector<std::string> calls;
    RecordingWindow window{&calls};
};

// The return code of a station at place that adds the receiver's name ("0x00" when the name
// was free); the station itself must end cleanly.
inline std::string ClaimReceiverName(const StationPlace& place) {
    ZebStation other(place, {"claim", "ZEBSTRESSRECVER"});
    EXPECT_EQ(other.Finish(), 0);
    return other.Value("claim");
}

} // namespace zebtest

#endif

// The kit's own faults that every user would inherit.
#include "netns.h"
#include "nmbdserver.h"

#include <functional>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process whose root is a plain directory holding the host's programs,
// as in a chroot: "/" is no mount point there. Returns what body wrote. The root's empty
// mount points are removed afterwards, one by one (rmdir, never a recursive removal).
std::string InChroot(const std::function<std::string()>& body) {
    static constexpr const char* kDirs[] = {"usr",  "bin", "sbin", "lib", "lib64", "etc",
                                            "proc", "sys", "dev",  "run", "tmp",   "var"};
    char root[] = "/tmp/zebchroot-XXXXXX";
    if (mkdtemp(root) == nullptr) {
        return "mkdtemp";
    }
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) {
        rmdir(root);
        return "pipe";
    }
    pid_t pid = fork();
    if (pid == 0) {
        bool ok = unshare(CLONE_NEWNS) == 0 &&
                  mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        for (const char* dir : kDirs) {
            const std::string inside = std::string(root) + "/" + dir;
            if (ok && std::filesystem::exists(std::string("/") + dir)) {
                std::filesystem::create_directory(inside);
                ok = mount((std::string("/") + dir).c_str(), inside.c_str(), nullptr,
                           MS_BIND | MS_REC, nullptr) == 0;
            }
        }
        std::string text = ok && chroot(root) == 0 && chdir("/") == 0 ? body() : "no chroot";
        if (write(pipe[1], text.data(), text.size()) < 0) {
            _exit(1);
        }
        _exit(0);
    }
    close(pipe[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(pipe[0], buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(pipe[0]);
    waitpid(pid, nullptr, 0);
    // The child's mounts ended with its mount namespace: what is left here are empty folders.
    for (const char* dir : kDirs) {
        rmdir((std::string(root) + "/" + dir).c_str());
    }
    rmdir(root);
    return text;
}

// Where no private mount namespace can be made, `ip netns exec` fails ("mount --make-rslave /
// failed"); the namespace and name server tests must skip there with a message, as the mount
// tests do, instead of failing.
TEST(Chroot, NamespaceTestsSkipWhereIpNetnsExecCannotRun) {
    if (std::string why = zebtest::NamespacesUnavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string ns = zebtest::Unique("zebchroot");
    const std::string seen = InChroot([&] {
        zebtest::ShellOutput exec = zebtest::Shell("ip netns add " + ns + " && ip netns exec " +
                                                   ns + " true; ip netns del " + ns);
        return exec.text + "\n|" + zebtest::NamespacesUnavailable() + "\n|" +
               zebtest::NmbdUnavailable() + "\n|" + zebtest::PrivateMounts();
    });
    EXPECT_NE(seen.find("make-rslave"), std::string::npos) << "ip netns exec ran: " << seen;
    EXPECT_NE(seen.find("\n|no private mount namespace here: \"/\" cannot be made a slave mount"),
              std::string::npos)
        << seen;
    EXPECT_EQ(seen.find("\n|\n"), std::string::npos) << "a helper saw no obstacle: " << seen;
    EXPECT_TRUE(seen.ends_with("(in a chroot?)")) << seen;
}

} // namespace

// The engine as a caller loads it: by name from libzebdll.so, its entry points only.
#include <dlfcn.h>

#include "engine_test_util.h"

using namespace zebtest;

TEST(EngineLibrary, ExportsItsEntryPointsAndNothingInternal) {
    void* lib = dlopen(ZEBDLL_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name : {"PassSaveResult", "PassDynaResult", "GetHWND", "GetMsgBuffer",
                             "GetRetCode", "SQL_Test", "SSendMain", "SRecvMain", "SetFileCacheMode",
                             "SetEventObserver", "EventClockName", "SetRandomSeedOffset"}) {
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    }
    for (const char* name : {"PostStatus", "MessageBuffer", "CompatLogWrite", "CheckPairs"}) {
        EXPECT_EQ(dlsym(lib, name), nullptr) << name;
    }
    dlclose(lib);
}

TEST(EngineLibrary, FreshlyLoadedEngineRunsAPassEndToEnd) {
    Scratch scratch;
    const std::string path = scratch.Path("TESTFILE").string();
    EXPECT_TRUE(InChildPasses([&] {
        void* lib = dlopen(ZEBDLL_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        auto save = reinterpret_cast<decltype(&PassSaveResult)>(dlsym(lib, "PassSaveResult"));
        auto test = reinterpret_cast<decltype(&SQL_Test)>(dlsym(lib, "SQL_Test"));
        auto ret = reinterpret_cast<decltype(&GetRetCode)>(dlsym(lib, "GetRetCode"));
        auto msg = reinterpret_cast<decltype(&GetMsgBuffer)>(dlsym(lib, "GetMsgBuffer"));
        EXPECT_EQ(ret(), 3);
        EXPECT_STREQ(msg(), "");
        EXPECT_EQ(save(1), 1);
        EXPECT_EQ(test(path.c_str(), 1024, 2048, 1024, 5, 100), 0);
        EXPECT_EQ(ret(), 3);
    }));
    EXPECT_EQ(std::filesystem::file_size(path), 1048544u);
    EXPECT_EQ(ReadLines(scratch.Path("report.txt")),
              (Texts{"Creating TESTFILE..", "Passed", Heading(path, 1024, 5, 100), "Passed",
                     "File I/O Passed"}));
    EXPECT_EQ(DecodeLog(scratch.Log()), (Texts{"Test File: " + path +
                                               ", Buffer: 1024 To 2048 With Inc. 1024 I/O Mode: 5, "
                                               "Iteration: 100\r\n"}));
}

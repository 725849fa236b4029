#include "CreatePathDirectories.h"

#include <gtest/gtest.h>

#include "FakeHost.h"
#include "TempDir.h"

namespace {

struct AttemptCase {
    std::string path;
    std::deque<bool> results;  // in attempt order; attempts beyond them fail
    std::vector<std::string> attempts;
    const char* why;
};

TEST(CreatePathDirectories, AttemptsInOrder) {
    const AttemptCase cases[] = {
        {"D:\\APPS\\TOOL",
         {false, true, true, false, false, false},
         {"D:\\APPS\\TOOL", "D:\\APPS", "D:\\APPS\\TOOL", "D:\\APPS\\TOOL", "D:\\APPS", "D:"},
         "two missing levels: six attempts"},
        {"", {}, {""}, "an empty path: one attempt, nothing to cut"},
        {"A\\B\\C", {}, {"A\\B\\C", "A\\B", "A"}, "everything exists: cut back to the first component"},
        {"D:\\APPS\\", {}, {"D:\\APPS\\", "D:\\APPS", "D:"},
         "a trailing backslash is tried whole, then cut alone"},
        {"D:\\APPS\\", {true}, {"D:\\APPS\\", "D:\\APPS\\", "D:\\APPS", "D:"},
         "a created directory restarts from the whole path"},
        {"A", {}, {"A"}, "one character, no separator"},
        {"A", {true}, {"A", "A"}, "one character created, then found existing"},
        {"\\", {}, {"\\", ""}, "a lone backslash is cut to the empty path"},
        {"\\APPS", {}, {"\\APPS"}, "a leading backslash is not cut while more follows"},
        {"A\\B\\C\\D",
         {false, false, true, false, true, true},
         {"A\\B\\C\\D", "A\\B\\C", "A\\B", "A\\B\\C\\D", "A\\B\\C", "A\\B\\C\\D", "A\\B\\C\\D",
          "A\\B\\C", "A\\B", "A"},
         "three missing levels, found one at a time"},
        {"D:\\LOCKED\\X", {}, {"D:\\LOCKED\\X", "D:\\LOCKED", "D:"},
         "a directory that cannot be made: failures are silent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        FakeHost host;
        host.createResults = c.results;
        host.createForReal = false;
        CreatePathDirectories(c.path.c_str(), host);
        std::vector<std::string> expected;
        for (const auto& attempt : c.attempts) expected.push_back("mkdir " + attempt);
        EXPECT_EQ(host.calls, expected) << host.Transcript();
        EXPECT_TRUE(host.createResults.empty()) << "fewer attempts than scripted";
    }
}

TEST(CreatePathDirectories, LongestPathIsTriedWhole) {
    std::string path = "D:";
    while (path.size() + 5 <= 255) path += "\\ABCD";
    path.resize(255, 'E');
    FakeHost host;
    host.createForReal = false;
    CreatePathDirectories(path.c_str(), host);
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls.front(), "mkdir " + path);
    EXPECT_EQ(host.calls.back(), "mkdir D:");
}

TEST(CreatePathDirectories, MakesRealDirectories) {
    TempDir dir;
    FakeHost host;
    const std::string path = dir.Path() + "\\one\\two\\three";
    CreatePathDirectories(path.c_str(), host);
    EXPECT_TRUE(DirectoryExists(dir / "one"));
    EXPECT_TRUE(DirectoryExists(JoinPath(dir / "one", "two")));
    EXPECT_TRUE(DirectoryExists(JoinPath(JoinPath(dir / "one", "two"), "three")));

    host.calls.clear();
    CreatePathDirectories(path.c_str(), host);
    ASSERT_GE(host.calls.size(), 4u);
    EXPECT_EQ(host.calls[0], "mkdir " + path) << "existing directories are tried, not made";
    EXPECT_EQ(ListTree(dir.Path()), (std::vector<std::string>{"one/", "one/two/", "one/two/three/"}));
}

}  // namespace

#include "SourceTree.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

struct LinkCase {
    bool follow;
    std::vector<std::string> members;
    std::vector<std::string> errors;  // a part of each error line, in order
    const char* why;
};

// src/real/file.txt, src/tofile -> real/file.txt, src/todir -> real, src/real/loop -> .., and
// src/dangling -> nowhere.
TEST(ScanSourceTree, LinksAreRefusedOrFollowedWithLoopsRefused) {
    const LinkCase cases[] = {
        {false, {"real\\file.txt"}, {"dangling: is a symbolic link", "real/loop: is a symbolic link",
                                     "todir: is a symbolic link", "tofile: is a symbolic link"},
         "by default every link is refused, on every platform alike"},
        {true, {"real\\file.txt", "todir\\file.txt", "tofile"},
         {"dangling: is a symbolic link that leads nowhere", "real/loop: is a symbolic link to",
          "todir/loop: is a symbolic link to"},
         "followed: targets under the links' names, loops and dangling links refused"},
    };
    TempDir dir;
    const fs::path src = fs::u8path(dir / "src");
    fs::create_directories(src / "real");
    WriteWholeFile((src / "real" / "file.txt").string(), "x");
    fs::create_symlink("real/file.txt", src / "tofile");
    fs::create_directory_symlink("real", src / "todir");
    fs::create_directory_symlink("..", src / "real" / "loop");
    fs::create_symlink("nowhere", src / "dangling");
    for (const LinkCase& c : cases) {
        ScanOptions options;
        options.followLinks = c.follow;
        std::vector<SourceFile> files;
        Diagnostics diagnostics;
        ScanSourceTree(src, "src", options, &files, &diagnostics);
        PrepareMembers(&files, {}, "src", &diagnostics);
        std::vector<std::string> names;
        for (const SourceFile& file : files) names.push_back(file.relativeName);
        EXPECT_EQ(names, c.members) << c.why;
        ASSERT_EQ(diagnostics.errors.size(), c.errors.size()) << c.why;
        for (size_t i = 0; i < c.errors.size(); ++i)
            EXPECT_NE(diagnostics.errors[i].find(c.errors[i]), std::string::npos)
                << c.why << ": " << diagnostics.errors[i];
    }
}

}  // namespace

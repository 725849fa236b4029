#include "SourceTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "Pack.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::vector<SourceFile>& files) {
    std::vector<std::string> names;
    for (const SourceFile& file : files) names.push_back(file.relativeName);
    return names;
}

// Scans and prepares dir's tree with the given options and rules.
std::vector<SourceFile> Pack(const std::string& root, const ScanOptions& options,
                             const MemberRules& rules, Diagnostics* diagnostics,
                             size_t* excluded = nullptr) {
    std::vector<SourceFile> files;
    const size_t left = ScanSourceTree(fs::u8path(root), root, options, &files, diagnostics);
    if (excluded) *excluded = left;
    PrepareMembers(&files, rules, root, diagnostics);
    return files;
}

TEST(ScanSourceTree, ASingleFileIsOneMemberNamedByItsFileName) {
    TempDir dir;
    WriteWholeFile(dir / "ATLAS.EXE", "program");
    Diagnostics diagnostics;
    const std::vector<SourceFile> files = Pack(dir / "ATLAS.EXE", {}, {}, &diagnostics);
    EXPECT_TRUE(diagnostics.errors.empty()) << diagnostics.errors[0];
    EXPECT_EQ(Names(files), std::vector<std::string>{"ATLAS.EXE"});
    EXPECT_EQ(files[0].facts.size, 7u);
}

TEST(ScanSourceTree, ExcludedEntriesAreLeftOutWithoutWarnings) {
    TempDir dir;
    MakeDirectories(dir / "src" + PathSeparator + "CVS");
    MakeDirectories(dir / "src" + PathSeparator + "docs" + PathSeparator + "old");
    const std::string src = dir / "src";
    for (const char* name : {"top.txt", "top.bak", "CVS/Entries", "docs/guide.txt", "docs/old/a.txt",
                             "docs/x.bak"}) {
        std::string path = src + PathSeparator + name;
        for (char& c : path)
            if (c == '/') c = PathSeparator;
        WriteWholeFile(path, "x");
    }
    ScanOptions options;
    options.excludes = {PathPattern("*.bak"), PathPattern("cvs"), PathPattern("docs/old/")};
    Diagnostics diagnostics;
    size_t excluded = 0;
    const std::vector<SourceFile> files = Pack(src, options, {}, &diagnostics, &excluded);
    EXPECT_TRUE(diagnostics.errors.empty());
    EXPECT_TRUE(diagnostics.warnings.empty()) << diagnostics.warnings[0];
    EXPECT_EQ(Names(files), (std::vector<std::string>{"docs\\guide.txt", "top.txt"}));
    EXPECT_EQ(excluded, 4u);  // top.bak, CVS, docs\old, docs\x.bak
}

// Reading a file moves its last-access time; recording it would make every pack different.
TEST(PrepareMembers, TimesAreReproducibleUnlessAccessTimesAreKept) {
    TempDir dir;
    MakeDirectories(dir / "src");
    WriteWholeFile(dir / "src" + PathSeparator + "a.txt", "abc");
    Diagnostics diagnostics;
    MemberRules rules;
    const std::vector<SourceFile> files = Pack(dir / "src", {}, rules, &diagnostics);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].facts.lastAccessTime, files[0].facts.lastWriteTime);
    if (!PlatformKeepsCreationTime) {
        EXPECT_EQ(files[0].facts.creationTime, files[0].facts.lastWriteTime);
    }

    rules.keepAccessTimes = true;
    const std::vector<SourceFile> kept = Pack(dir / "src", {}, rules, &diagnostics);
    EXPECT_EQ(kept[0].facts.lastAccessTime, kept[0].seen.lastAccessTime);
    EXPECT_EQ(kept[0].facts.creationTime, kept[0].seen.creationTime);

    // SOURCE_DATE_EPOCH still caps whatever is recorded.
    rules.keepAccessTimes = false;
    rules.clampTimes = true;
    rules.latestTime = FileTimeFromUnix(1000000000);
    const std::vector<SourceFile> capped = Pack(dir / "src", {}, rules, &diagnostics);
    EXPECT_EQ(capped[0].facts.lastWriteTime, rules.latestTime);
    EXPECT_EQ(capped[0].facts.lastAccessTime, rules.latestTime);
    EXPECT_EQ(capped[0].facts.creationTime, rules.latestTime);
}

// A file rewritten in place at the same size while it is read gives a torn copy: packing must
// see that its times moved.
TEST(SourceChange, SeesASameSizeRewriteAndNothingElse) {
    TempDir dir;
    MakeDirectories(dir / "src");
    const std::string path = dir / "src" + PathSeparator + "data.bin";
    WriteWholeFile(path, "0123456789");
    // An old modification time: the rewrite below cannot fall into the same clock tick.
    fs::last_write_time(fs::u8path(path), fs::file_time_type::clock::now() - std::chrono::hours(24));
    Diagnostics diagnostics;
    const std::vector<SourceFile> files = Pack(dir / "src", {}, {}, &diagnostics);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(SourceChange(files[0]), "");

    WriteWholeFile(path, "9876543210");
    EXPECT_NE(SourceChange(files[0]), "") << "a same-size rewrite went unseen";
    WriteWholeFile(path, "01234");
    EXPECT_NE(SourceChange(files[0]).find("size"), std::string::npos);
}

}  // namespace

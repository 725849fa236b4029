#include "DirectoryText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Proposal(char letter, const char* defaultDir) {
    char installDir[256];
    std::memset(installDir, 'x', sizeof installDir);
    ProposeInstallDir(letter, defaultDir, installDir);
    return installDir;
}

TEST(ProposeInstallDir, TheFirstCharacterBecomesTheChosenDrive) {
    EXPECT_EQ(Proposal('D', "C:\\APPS\\TOOL"), "D:\\APPS\\TOOL");
    EXPECT_EQ(Proposal('C', "C:\\APPS"), "C:\\APPS");
    // Whatever the default begins with is replaced, drive letter or not.
    EXPECT_EQ(Proposal('E', "\\TOOLS"), "ETOOLS");
    EXPECT_EQ(Proposal('D', ""), "D");
}

TEST(ProposeInstallDir, AnUnterminatedDefaultIsCutAt255Characters) {
    char longDefault[300];
    std::memset(longDefault, 'a', sizeof longDefault - 1);
    longDefault[sizeof longDefault - 1] = '\0';
    const std::string proposal = Proposal('D', longDefault);
    EXPECT_EQ(proposal.size(), 255u);
    EXPECT_EQ(proposal[0], 'D');
}

std::string Probe(const char* directory, size_t capacity = 256) {
    char path[256];
    return BuildProbePath(directory, "TEST", path, capacity) ? path : "<refused>";
}

TEST(BuildProbePath, OneBackslashBetweenDirectoryAndName) {
    EXPECT_EQ(Probe("D:\\APPS"), "D:\\APPS\\TEST");
    EXPECT_EQ(Probe("D:\\APPS\\"), "D:\\APPS\\TEST");
    EXPECT_EQ(Probe("D:\\"), "D:\\TEST");
    EXPECT_EQ(Probe(""), "\\TEST");  // the root of the current drive
}

TEST(BuildProbePath, ADirectoryWhoseProbeDoesNotFitIsRefusedNotOverrun) {
    // 250 characters, a backslash and TEST make 255 and the terminator: the longest that fits.
    const std::string fits(250, 'a');
    EXPECT_EQ(Probe(fits.c_str()), fits + "\\TEST");
    const std::string fitsWithBackslash = std::string(250, 'a') + "\\";
    EXPECT_EQ(Probe(fitsWithBackslash.c_str()), fitsWithBackslash + "TEST");
    const std::string tooLong(251, 'a');
    EXPECT_EQ(Probe(tooLong.c_str()), "<refused>");
    const std::string longest(255, 'a');
    EXPECT_EQ(Probe(longest.c_str()), "<refused>");
    char small[8] = "unset";
    EXPECT_FALSE(BuildProbePath("C:\\", "TEST", small, 7));  // 7 characters need 8 bytes
    EXPECT_STREQ(small, "");
}

}  // namespace

#include "ProgmanCommands.h"

#include <gtest/gtest.h>

#include <string>

#include "StubEdit.h"

namespace {

TEST(ProgmanCommands, TheGroupCommandIsSentAsItStands) {
    EXPECT_EQ(std::string(GroupCommand), "[CreateGroup(Vornhelm Software)][ShowGroup(New Group,1)]");
    EXPECT_EQ(sizeof GroupCommand, 57u) << "56 characters and the terminator";
}

TEST(ProgmanCommands, AGroupNameGivesTheCommandThatShowsTheGroupItCreates) {
    char command[GroupCommandCapacity];
    const std::string name(63, 'g');
    const int length = FormatGroupCommand(name.c_str(), command);
    const std::string expected = "[CreateGroup(" + name + ")][ShowGroup(" + name + ",1)]";
    EXPECT_EQ(std::string(command), expected);
    EXPECT_EQ(length, static_cast<int>(expected.size()));
}

// globpack refuses exactly the names the installer would not send: one table for both.
TEST(ProgmanCommands, GlobpackAndTheInstallerAgreeOnGroupNames) {
    struct Case {
        std::string name;
        bool usable;
    };
    std::vector<Case> cases = {
        {"Atlas", true},        {"Vornhelm Atlas 2.1", true}, {"A-B_C.D & E's", true},
        {std::string(63, 'x'), true}, {std::string(64, 'x'), false}, {"", false},
        {" Atlas", false},      {"Atlas ", false},           {"A\tB", false},
    };
    for (const char c : std::string("[](),\"\\/:*?<>|\x7f\x01\x1f"))
        cases.push_back({std::string("A") + c + "B", false});
    for (const Case& c : cases) {
        std::string bytes;
        const bool packed = GroupNameProblem(c.name, 1252, &bytes).empty();
        EXPECT_EQ(packed, c.usable) << "globpack on \"" << c.name << "\"";
        EXPECT_EQ(IsGroupName(c.name.data(), c.name.size()), c.usable) << "installer on \"" << c.name << "\"";
    }
    std::string bytes;
    EXPECT_TRUE(GroupNameProblem("Caf\xc3\xa9", 1252, &bytes).empty());
    EXPECT_EQ(bytes, "Caf\xe9") << "written in the code page";
    EXPECT_FALSE(GroupNameProblem("\xe2\x82\xac\xe2\x82\xac", 437, &bytes).empty()) << "the euro is not in 437";
}

TEST(ProgmanCommands, TheItemCommandInsertsItsFieldsUnquoted) {
    char command[ItemCommandCapacity];
    const int length = FormatItemCommand("D:\\APPS\\", "PROG.EXE", "Vornhelm Atlas", command);
    // installDir ends with a backslash by then, so two follow each other.
    EXPECT_STREQ(command, "[AddItem(D:\\APPS\\\\PROG.EXE,Vornhelm Atlas)]");
    EXPECT_EQ(length, static_cast<int>(std::strlen(command)));

    FormatItemCommand("C:\\A,B)", "X.EXE", "Name, with comma", command);
    EXPECT_STREQ(command, "[AddItem(C:\\A,B)\\X.EXE,Name, with comma)]");
}

TEST(ProgmanCommands, TheLongestFieldsStillGiveTheWholeCommand) {
    const std::string dir = "C:\\" + std::string(251, 'd') + "\\";  // 255 characters
    const std::string exe(63, 'e');
    const std::string name(63, 'n');
    char command[ItemCommandCapacity];
    const int length = FormatItemCommand(dir.c_str(), exe.c_str(), name.c_str(), command);
    const std::string expected = "[AddItem(" + dir + "\\" + exe + "," + name + ")]";
    EXPECT_EQ(std::string(command), expected);
    EXPECT_EQ(length, static_cast<int>(expected.size()));
    EXPECT_LT(length, ItemCommandCapacity);
}

}  // namespace

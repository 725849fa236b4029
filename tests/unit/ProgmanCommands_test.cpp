#include "ProgmanCommands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgmanCommands, TheGroupCommandIsSentAsItStands) {
    EXPECT_EQ(std::string(GroupCommand), "[CreateGroup(Vornhelm Software)][ShowGroup(New Group,1)]");
    EXPECT_EQ(sizeof GroupCommand, 57u) << "56 characters and the terminator";
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

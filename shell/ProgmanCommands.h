#pragma once

#include <cstdio>
#include <cstring>

// The two command texts sent to Program Manager, in its bracketed command language. They stay
// exactly as they are: the group command's ShowGroup names "New Group", not the group it creates.
constexpr const char GroupCommand[] = "[CreateGroup(Vornhelm Software)][ShowGroup(New Group,1)]";

// The group command's block holds one byte more than the text and its terminator; peers have
// always been given 58 bytes.
constexpr size_t GroupCommandBlockSize = 58;
static_assert(sizeof GroupCommand + 1 == GroupCommandBlockSize, "the group command's block");

// Room for the longest item command: a 255-character installDir, 63-character exeName and
// programName, and the brackets.
constexpr int ItemCommandCapacity = 512;

// "[AddItem(<installDir>\<exeName>,<programName>)]", the fields inserted as they stand. installDir
// already ends with a backslash by the time of the registration, so two appear in a row. Returns
// the text's length.
inline int FormatItemCommand(const char* installDir, const char* exeName, const char* programName,
                             char (&command)[ItemCommandCapacity]) {
    return std::snprintf(command, sizeof command, "[AddItem(%.255s\\%.63s,%.63s)]", installDir,
                         exeName, programName);
}

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

// A group of the installer's own (globpack --group) replaces the command above with
// "[CreateGroup(<group>)][ShowGroup(<group>,1)]", so that the item lands in the group created.
// The name is at most 63 bytes of the installer's code page, none of which would end a parameter,
// a command or a folder name: no control character and none of [ ] ( ) , " \ / : * ? < > |, and
// no space at either end.
constexpr int GroupNameCapacity = 64;
constexpr int GroupCommandCapacity = 2 * GroupNameCapacity + 40;

inline bool IsGroupName(const char* name, size_t length) {
    if (length == 0 || length >= GroupNameCapacity) return false;
    if (name[0] == ' ' || name[length - 1] == ' ') return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || std::strchr("[](),\"\\/:*?<>|", c)) return false;
    }
    return true;
}

// Entry: IsGroupName(group, strlen(group)). Returns the text's length.
inline int FormatGroupCommand(const char* group, char (&command)[GroupCommandCapacity]) {
    return std::snprintf(command, sizeof command, "[CreateGroup(%.63s)][ShowGroup(%.63s,1)]", group, group);
}

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

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IntegrityTable.h"

// What globpack changes in the stub it puts in front of the archive.
struct StubChanges {
    std::string licensePath;  // UTF-8 text file for the agreement text; empty: keep the stub's
    std::string iconPath;     // .ico file for icon group 1; empty: keep the stub's
    int codePage = 1252;      // the agreement text's code page
    // The Program Manager group (resource "PMGROUP" 107): groupName holds its bytes in the code
    // page, as GroupNameProblem made them.
    bool group = false;
    std::string groupName;
    // Room for the integrity data of this many members (resource "INTEGRITY" 106), filled in by
    // FillIntegrityTable once the members are coded; none without integrity.
    bool integrity = false;
    size_t integrityMembers = 0;
};

// Empty when text (UTF-8) can name the installer's Program Manager group, with *bytes set to it
// in codePage; else why not. The group command carries the name as it stands, and Program
// Manager peers make a folder of it: 1 to 63 bytes, no control character, none of
// [ ] ( ) , " \ / : * ? < > |, no space at either end.
std::string GroupNameProblem(const std::string& text, int codePage, std::string* bytes);

// Rewrites the stub's resources: the agreement text (resource "TXT" 105, made by
// PrepareAgreementText) and icon group 1, as changes asks. Without changes the stub is left byte
// for byte. The edited stub still leaves volume 0 room for the archive (at most MaxStubSize
// bytes). False with *error set ("<file>: what is wrong; what to do") and *stub unchanged when a
// file cannot be read or is unfit, or the stub is not a program whose resources can be grown.
bool CustomizeStub(const StubChanges& changes, const std::string& stubName,
                   std::vector<uint8_t>* stub, std::string* error);

// Writes table over the room CustomizeStub made for it (of the same member count) and fixes the
// stub's checksum. False when the stub has no such room.
bool FillIntegrityTable(const IntegrityTable& table, std::vector<uint8_t>* stub);

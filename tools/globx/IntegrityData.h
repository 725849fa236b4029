#pragma once

#include <cstdint>
#include <string>

#include "IntegrityTable.h"

// Reads the integrity table from the resources of an installer's stub: the bytes of volume 0 in
// front of the archive (archiveOffset - 1 of them). A stub that is no program with resources, or
// has no table in them, gives Absent. programGroup, when given, receives the Program Manager group
// globpack --group stored there (its bytes in the installer's code page), or is left empty.
IntegrityParse ReadIntegrityData(const std::string& installerPath, int32_t archiveOffset,
                                 IntegrityTable* table, std::string* programGroup = nullptr);

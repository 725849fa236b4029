#pragma once

#include <cstdint>

// The size text of FormatSizeText, in installState.sizeText; the next call overwrites it.
char* FormatSize(uint64_t size);

// The bytes free to this user on the drive whose root is "<letter>:\", 0 when it cannot be
// measured (no drive, no medium). 64 bits wide: 4 GiB free or more stays what it is.
uint64_t DriveFreeSpace(char letter);

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a whole file that globpack is given by name (--config, --license, --icon). Only a regular
// file of at most limit bytes is read: a FIFO would block the run and a device could be endless,
// so both are refused before they are opened, and reading stops one byte past the limit. False
// with *error set ("<name>: what is wrong; what to do"); what names the file's role in the hint
// ("agreement text").
bool ReadInputFile(const std::string& name, const char* what, size_t limit,
                   std::vector<uint8_t>* bytes, std::string* error);

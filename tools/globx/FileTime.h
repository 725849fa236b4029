#pragma once

#include <cstdint>
#include <string>

// FILETIME values (100 ns intervals since 1601-01-01 UTC) as text, always in UTC.

// ISO 8601 with all seven fractional digits: "2024-01-02T03:04:05.1234567Z". Empty for times past
// the end of year 9999, which a four-digit year cannot show.
std::string FileTimeToIso8601(uint64_t fileTime);

// "2024-01-02 03:04:05" for tables; "-" past year 9999.
std::string FileTimeToTableText(uint64_t fileTime);

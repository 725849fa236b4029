#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 as zip, PNG and zlib compute it (polynomial 0xEDB88320, reflected, initial and final
// value all ones). Crc32(0, ...) starts a checksum; passing the result back in continues it over
// further bytes: Crc32(Crc32(0, a, n), b, m) is the CRC of a followed by b.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

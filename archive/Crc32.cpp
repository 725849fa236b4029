#include "Crc32.h"

namespace {

// Eight tables: table[k][b] is the CRC contribution of byte b followed by k zero bytes, so the
// loop folds eight input bytes with eight independent lookups.
struct Tables {
    uint32_t t[8][256];
    Tables() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int i = 0; i < 8; ++i) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][b] = c;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
    const Tables& tables = GetTables();
    const uint32_t(*t)[256] = tables.t;
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        // Little-endian assembly byte by byte: no alignment or byte-order assumption.
        const uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                   uint32_t(p[3]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    while (size--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

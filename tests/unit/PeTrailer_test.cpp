#include "PeTrailer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "ExtractRun.h"
#include "TempDir.h"
#include "TestArchive.h"
#include "VolumeStream.h"

namespace {

constexpr size_t kPeHeader = 0x80;   // e_lfanew
constexpr size_t kOptional = kPeHeader + 24;
constexpr uint32_t kSectionsStart = 0x200;  // SizeOfHeaders; two sections follow, up to the stub's end

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Offset of the security directory entry (file offset, size) in the crafted headers.
size_t SecurityEntry(bool pe32Plus) { return kOptional + (pe32Plus ? 112 : 96) + 8 * 4; }

// Makes the first stubSize bytes of volume 0 the headers of a PE image whose two sections end
// exactly at stubSize, as in a packed installer: S - 1 == stubSize.
void WritePeHeaders(std::vector<uint8_t>& volume0, size_t stubSize, bool pe32Plus) {
    std::fill(volume0.begin(), volume0.begin() + kSectionsStart, 0);
    volume0[0] = 'M';
    volume0[1] = 'Z';
    Put32(volume0, 0x3C, kPeHeader);
    volume0[kPeHeader] = 'P';
    volume0[kPeHeader + 1] = 'E';
    Put16(volume0, kPeHeader + 4, pe32Plus ? 0x8664 : 0x14C);
    Put16(volume0, kPeHeader + 6, 2);                       // NumberOfSections
    const uint32_t optionalSize = pe32Plus ? 0xF0 : 0xE0;
    Put16(volume0, kPeHeader + 20, optionalSize);
    Put16(volume0, kOptional, pe32Plus ? 0x20B : 0x10B);
    Put32(volume0, kOptional + 60, kSectionsStart);         // SizeOfHeaders
    Put32(volume0, kOptional + (pe32Plus ? 108 : 92), 16);  // NumberOfRvaAndSizes
    const size_t table = kOptional + optionalSize;
    const uint32_t half = static_cast<uint32_t>((stubSize - kSectionsStart) / 2);
    const uint32_t raw[2][2] = {{half, kSectionsStart},
                                {static_cast<uint32_t>(stubSize - kSectionsStart - half),
                                 kSectionsStart + half}};
    for (int i = 0; i < 2; ++i) {
        Put32(volume0, table + 40 * i + 16, raw[i][0]);  // SizeOfRawData
        Put32(volume0, table + 40 * i + 20, raw[i][1]);  // PointerToRawData
    }
}

// Signs volume 0 as a signing tool does: zeros up to a multiple of 8, then a certificate table of
// one WIN_CERTIFICATE entry, named by the security directory. Returns the table's offset.
size_t Sign(std::vector<uint8_t>& volume0, bool pe32Plus = false, uint32_t tableSize = 0x5A8) {
    while (volume0.size() % 8 != 0) volume0.push_back(0);
    const size_t table = volume0.size();
    volume0.resize(table + tableSize, 0x30);
    Put32(volume0, table, tableSize);    // dwLength
    Put16(volume0, table + 4, 0x0200);   // wRevision
    Put16(volume0, table + 6, 0x0002);   // wCertificateType: PKCS#7 SignedData
    Put32(volume0, SecurityEntry(pe32Plus), static_cast<uint32_t>(table));
    Put32(volume0, SecurityEntry(pe32Plus) + 4, tableSize);
    return table;
}

// A packed, unsigned volume 0 with a 0x400-byte PE stub (S = 0x401) and streamLength bytes of
// stream: its length is 0x405 + streamLength.
std::vector<uint8_t> Volume0(size_t streamLength, bool pe32Plus = false) {
    std::vector<uint8_t> volume0(0x400, 0x41);
    WritePeHeaders(volume0, 0x400, pe32Plus);
    volume0.push_back(0xFF);
    for (size_t i = 0; i < streamLength; ++i) volume0.push_back(static_cast<uint8_t>(i * 7 + 1));
    volume0.insert(volume0.end(), {0x01, 0x04, 0x00, 0x00});  // S = 0x401: two zero bytes
    return volume0;
}

TrailerPlace Find(const std::vector<uint8_t>& volume0) {
    TempDir dir;
    const std::string path = dir / "SETUP.EXE";
    WriteWholeFile(path, volume0);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    const TrailerPlace place = FindTrailer(file, static_cast<int64_t>(volume0.size()));
    std::fclose(file);
    return place;
}

TEST(PeTrailer, FoundInFrontOfTheCertificateTableWhateverThePadding) {
    for (int padding = 0; padding < 8; ++padding) {
        for (bool pe32Plus : {false, true}) {
            SCOPED_TRACE("padding " + std::to_string(padding) + (pe32Plus ? ", PE32+" : ", PE32"));
            // 0x405 + length + padding is a multiple of 8.
            std::vector<uint8_t> volume0 = Volume0(100 + (8 - (0x405 + 100 + padding) % 8) % 8, pe32Plus);
            const size_t trailer = volume0.size() - TrailerSize;
            const size_t table = Sign(volume0, pe32Plus);
            ASSERT_EQ(table - trailer - TrailerSize, static_cast<size_t>(padding));
            const TrailerPlace place = Find(volume0);
            EXPECT_EQ(place.offset, static_cast<int64_t>(trailer));
            EXPECT_EQ(place.certificateSize, 0x5A8);
        }
    }
}

TEST(PeTrailer, AnFFInsideTheImageDoesNotMakeAShorterPaddingPlausible) {
    // With three bytes of padding, one byte less reads S = 4: the byte at offset 3 is inside the
    // image, so that offset is refused even though the byte there is 0xFF.
    std::vector<uint8_t> volume0 = Volume0(100 + (8 - (0x405 + 100 + 3) % 8) % 8);
    volume0[3] = 0xFF;
    const size_t trailer = volume0.size() - TrailerSize;
    Sign(volume0);
    EXPECT_EQ(Find(volume0).offset, static_cast<int64_t>(trailer));
}

// The last four bytes, as without a signature: a directory that is malformed or points
// elsewhere than the end of the file, or no plausible trailer in front of the table.
TEST(PeTrailer, FallsBackToTheLastFourBytes) {
    using Spoil = std::function<void(std::vector<uint8_t>&, size_t table)>;
    const struct {
        Spoil spoil;
        const char* why;
    } cases[] = {
        {[](std::vector<uint8_t>& v, size_t) { Put32(v, SecurityEntry(false) + 4, 0); },
         "unsigned: the directory's size is 0"},
        {[](std::vector<uint8_t>& v, size_t) { v.push_back(0); },
         "the table does not end the file"},
        {[](std::vector<uint8_t>& v, size_t) { v.resize(v.size() - 8); },
         "the table runs past the end of the file"},
        {[](std::vector<uint8_t>& v, size_t t) {
             Put32(v, SecurityEntry(false), static_cast<uint32_t>(t + 4));
             Put32(v, SecurityEntry(false) + 4, static_cast<uint32_t>(v.size() - t - 4));
         },
         "the table is not 8-byte aligned"},
        {[](std::vector<uint8_t>& v, size_t t) {
             Put32(v, SecurityEntry(false), static_cast<uint32_t>(t + 0xFFFFFF00));
         },
         "the offset wraps around"},
        {[](std::vector<uint8_t>& v, size_t t) { Put32(v, t, 0x5A8 + 8); },
         "the first entry is longer than the table"},
        {[](std::vector<uint8_t>& v, size_t t) { Put32(v, t, 4); },
         "the first entry is shorter than its own header"},
        {[](std::vector<uint8_t>& v, size_t) { Put32(v, kOptional + 92, 4); },
         "four data directories: there is no security directory"},
        {[](std::vector<uint8_t>& v, size_t) { Put16(v, kPeHeader + 20, 0x80); },
         "the optional header ends before the security directory"},
        {[](std::vector<uint8_t>& v, size_t) { Put16(v, kOptional, 0x107); },
         "not a PE32 or PE32+ optional header"},
        {[](std::vector<uint8_t>& v, size_t) { v[kPeHeader + 1] = 'X'; }, "no PE signature"},
        {[](std::vector<uint8_t>& v, size_t) { Put32(v, 0x3C, 0x7FFFFFF0); },
         "e_lfanew points past the end"},
        {[](std::vector<uint8_t>& v, size_t) { v[0] = 'Z'; }, "no MZ"},
        {[](std::vector<uint8_t>& v, size_t t) { v[t - 1] = 0x20; },
         "a padding byte is not zero"},
        {[](std::vector<uint8_t>& v, size_t) { v[0x400] = 0xFE; }, "no 0xFF in front of the stream"},
        {[](std::vector<uint8_t>& v, size_t) { Put32(v, kOptional + 60, 0x402); },
         "the trailer points into the headers"},
        {[](std::vector<uint8_t>& v, size_t) { Put32(v, kOptional + 0xE0 + 40 + 16, 0x101); },
         "the trailer points into the last section"},
        {[](std::vector<uint8_t>& v, size_t) { Put16(v, kPeHeader + 6, 0xFFFF); },
         "more sections than the loader takes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> volume0 = Volume0(104);  // three bytes of padding
        const size_t table = Sign(volume0);
        c.spoil(volume0, table);
        const TrailerPlace place = Find(volume0);
        EXPECT_EQ(place.offset, static_cast<int64_t>(volume0.size()) - TrailerSize);
        EXPECT_EQ(place.certificateSize, 0);
    }
}

TEST(PeTrailer, ShortFilesHaveNoTrailer) {
    for (size_t size : {0, 1, 3}) {
        EXPECT_EQ(Find(std::vector<uint8_t>(size, 0)).offset, -1);
    }
    EXPECT_EQ(Find(std::vector<uint8_t>(4, 0)).offset, 0);
}

// Extraction from signed installers: the certificate table is never data, so the end mark in
// volume 0 is followed by nothing, and every member comes out as from the unsigned installer.
TEST(PeTrailer, SignedInstallersExtractAsUnsigned) {
    const struct {
        size_t stubSize;
        size_t nameLength;  // moves the end of the stream, and so the signer's padding
        const char* why;
    } cases[] = {
        {0x400, 1, "one volume"},         {0x400, 2, "one volume"},
        {0x400, 3, "one volume"},         {0x400, 4, "one volume"},
        {0x400, 5, "one volume"},         {0x400, 6, "one volume"},
        {0x400, 7, "one volume"},         {0x400, 8, "one volume"},
        {StubSizeForBoundaryAt(500), 1, "the stream continues in GLOB1.DAT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.why) + ", name length " + std::to_string(c.nameLength));
        TestArchive archive;
        archive.Add(std::string(c.nameLength, 'R'), "Signed, sealed, delivered.");
        archive.Add("DATA\\TABLE.BIN", std::vector<uint8_t>(3000, 0x5C));
        archive.endMark = true;
        ExtractRun run;
        VolumeLayout layout;
        layout.stubSize = c.stubSize;
        run.Write(archive, layout);
        std::vector<uint8_t> volume0 = ReadWholeFile(run.files.exePath);
        WritePeHeaders(volume0, c.stubSize, false);
        Sign(volume0);
        WriteWholeFile(run.files.exePath, volume0);

        ASSERT_TRUE(run.Run());
        EXPECT_TRUE(run.result.Ok()) << run.Status();
        EXPECT_EQ(ReadWholeFile(run.OnDisk(archive.members[0].name)), archive.members[0].data);
        EXPECT_EQ(ReadWholeFile(run.OnDisk("DATA\\TABLE.BIN")), archive.members[1].data);
        EXPECT_EQ(run.files.volumes.size(), c.stubSize == 0x400 ? 1u : 2u);
    }
}

}  // namespace

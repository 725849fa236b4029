#include "PeImage.h"

#include <gtest/gtest.h>

#include <functional>

#include "PeResources.h"
#include "TempDir.h"

namespace {

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

void Put32(std::vector<uint8_t>* b, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(value >> (8 * i));
}

// The fields an edit must keep consistent, read straight from the bytes.
struct Layout {
    size_t optional, lastSection;
    uint32_t fileAlignment, sectionAlignment, sizeOfImage, initializedData, checksum;
    uint32_t resourceRva, resourceSize;
    uint32_t virtualSize, rva, rawSize, rawOffset;
};

Layout LayoutOf(const std::vector<uint8_t>& b) {
    Layout l;
    const size_t pe = Get32(b, 0x3C);
    l.optional = pe + 24;
    const size_t sections = l.optional + (b[pe + 20] | b[pe + 21] << 8);
    l.lastSection = sections + 40 * ((b[pe + 6] | b[pe + 7] << 8) - 1);
    l.initializedData = Get32(b, l.optional + 8);
    l.sectionAlignment = Get32(b, l.optional + 32);
    l.fileAlignment = Get32(b, l.optional + 36);
    l.sizeOfImage = Get32(b, l.optional + 56);
    l.checksum = Get32(b, l.optional + 64);
    l.resourceRva = Get32(b, l.optional + 96 + 16);
    l.resourceSize = Get32(b, l.optional + 96 + 20);
    l.virtualSize = Get32(b, l.lastSection + 8);
    l.rva = Get32(b, l.lastSection + 12);
    l.rawSize = Get32(b, l.lastSection + 16);
    l.rawOffset = Get32(b, l.lastSection + 20);
    return l;
}

class PeImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FileExists(GLOB_TEST_STUB_FILE)) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        stub = ReadWholeFile(GLOB_TEST_STUB_FILE);
    }
    std::vector<uint8_t> stub;
};

TEST_F(PeImageTest, LinkersChecksumIsReproduced) {
    // The MinGW linker stores a checksum: the same algorithm must give the same number.
    const Layout l = LayoutOf(stub);
    ASSERT_NE(l.checksum, 0u);
    EXPECT_EQ(PeChecksum(stub.data(), stub.size(), l.optional + 64), l.checksum);
}

TEST_F(PeImageTest, UneditedImageBuildsToTheSameBytes) {
    PeImage image;
    std::string error;
    ASSERT_TRUE(image.Open(stub, &error)) << error;
    EXPECT_EQ(image.Build(), stub);
}

TEST_F(PeImageTest, GrowingTheResourcesKeepsEveryHeaderConsistent) {
    const Layout before = LayoutOf(stub);
    for (const size_t size : {size_t(0), size_t(1), size_t(100), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        PeImage image;
        std::string error;
        ASSERT_TRUE(image.Open(stub, &error)) << error;
        const std::vector<uint8_t> data = RandomBytes(size, 7);
        uint32_t offset = 0;
        ASSERT_TRUE(image.AppendResource(data.data(), data.size(), &offset));
        EXPECT_EQ(offset % 8, 0u);
        EXPECT_GE(offset, before.virtualSize - (before.resourceRva - before.rva));
        const std::vector<uint8_t> built = image.Build();
        const Layout after = LayoutOf(built);

        // Past the section table nothing but the appended bytes may change.
        const size_t from = before.lastSection + 40, to = before.rawOffset + before.virtualSize;
        EXPECT_TRUE(std::equal(stub.begin() + from, stub.begin() + to, built.begin() + from))
            << "bytes before the appended data changed";
        EXPECT_EQ(after.rva, before.rva);
        EXPECT_EQ(after.rawOffset, before.rawOffset);
        EXPECT_EQ(after.virtualSize, after.resourceRva - after.rva + offset + size);
        EXPECT_EQ(after.rawSize % after.fileAlignment, 0u);
        EXPECT_GE(after.rawSize, after.virtualSize);
        EXPECT_LT(after.rawSize - after.virtualSize, after.fileAlignment);
        EXPECT_EQ(built.size(), size_t(after.rawOffset) + after.rawSize) << ".rsrc ends the file";
        EXPECT_EQ(after.sizeOfImage % after.sectionAlignment, 0u);
        EXPECT_GE(after.sizeOfImage, after.rva + after.rawSize);
        EXPECT_LT(after.sizeOfImage - (after.rva + after.rawSize), after.sectionAlignment);
        EXPECT_EQ(after.initializedData - before.initializedData, after.rawSize - before.rawSize);
        EXPECT_EQ(after.resourceSize, offset + size);
        EXPECT_EQ(after.checksum, PeChecksum(built.data(), built.size(), after.optional + 64));
        EXPECT_TRUE(
            std::equal(data.begin(), data.end(),
                       built.begin() + after.rawOffset + (after.resourceRva - after.rva) + offset));

        PeImage again;  // the result is itself an editable stub
        ASSERT_TRUE(again.Open(built, &error)) << error;
    }
}

// Each case breaks one thing of the real stub; Open must refuse it, and the message says what.
struct BrokenCase {
    const char* name;
    std::function<void(std::vector<uint8_t>*, const Layout&)> breakIt;
    const char* expected;
};

TEST_F(PeImageTest, BrokenImagesAreRefused) {
    const BrokenCase cases[] = {
        {"empty", [](std::vector<uint8_t>* b, const Layout&) { b->clear(); }, "no MZ header"},
        {"text file",
         [](std::vector<uint8_t>* b, const Layout&) { *b = BytesOf("MZ is not enough"); },
         "no MZ header"},
        {"PE header past the end",
         [](std::vector<uint8_t>* b, const Layout&) { Put32(b, 0x3C, 0xFFFFFFF0u); },
         "no PE header"},
        {"PE32+", [](std::vector<uint8_t>* b, const Layout& l) { (*b)[l.optional + 1] = 0x02; },
         "PE32"},
        {"section count huge",
         [](std::vector<uint8_t>* b, const Layout& l) {
             (*b)[l.optional - 18] = 0xFF;
             (*b)[l.optional - 17] = 0xFF;
         },
         "sections"},
        {"section past the end",
         [](std::vector<uint8_t>* b, const Layout& l) { Put32(b, l.lastSection + 20, 0x7FFFFFFF); },
         "overruns the file"},
        {"no resources",
         [](std::vector<uint8_t>* b, const Layout& l) { Put32(b, l.optional + 112, 0); },
         "has no resources"},
        {"signed", [](std::vector<uint8_t>* b, const Layout& l) { Put32(b, l.optional + 132, 8); },
         "signed"},
        {"resources not last",
         [](std::vector<uint8_t>* b, const Layout& l) {
             Put32(b, l.optional + 112, l.rva - 0x1000);
         },
         "not in the last section"},
        {"an installer, not a stub",
         [](std::vector<uint8_t>* b, const Layout&) { b->insert(b->end(), 100, 0xFF); },
         "100 bytes follow"},
        {"truncated", [](std::vector<uint8_t>* b, const Layout&) { b->resize(b->size() - 1); },
         "overruns the file"},
        {"longer in memory",
         [](std::vector<uint8_t>* b, const Layout& l) {
             Put32(b, l.lastSection + 8, l.rawSize + 1);
         },
         "longer in memory"},
        {"file alignment 3",
         [](std::vector<uint8_t>* b, const Layout& l) { Put32(b, l.optional + 36, 3); },
         "FileAlignment"},
    };
    const Layout layout = LayoutOf(stub);
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> broken = stub;
        c.breakIt(&broken, layout);
        PeImage image;
        std::string error;
        EXPECT_FALSE(image.Open(broken, &error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

// The stub's headers and its resource section alone, the other sections emptied: an image this
// parser accepts (the loader would not), small enough to be corrupted thousands of times.
std::vector<uint8_t> HeadersAndResources(const std::vector<uint8_t>& stub) {
    const Layout l = LayoutOf(stub);
    const uint32_t headersEnd = Get32(stub, l.optional + 60);
    std::vector<uint8_t> out(stub.begin(), stub.begin() + headersEnd);
    out.insert(out.end(), stub.begin() + l.rawOffset, stub.begin() + l.rawOffset + l.rawSize);
    const size_t pe = Get32(stub, 0x3C);
    const size_t table = l.optional + (stub[pe + 20] | stub[pe + 21] << 8);
    for (size_t at = table; at < l.lastSection; at += 40) {
        Put32(&out, at + 16, 0);
        Put32(&out, at + 20, 0);
    }
    Put32(&out, l.lastSection + 20, headersEnd);
    return out;
}

// Every single-byte change of the headers and of the resource tree either opens or is refused;
// what opens can be read and edited. Under the sanitizers this finds any read out of bounds.
TEST_F(PeImageTest, CorruptedBytesNeverReadOutOfBounds) {
    const std::vector<uint8_t> small = HeadersAndResources(stub);
    const Layout layout = LayoutOf(small);
    const size_t treeStart = layout.rawOffset + (layout.resourceRva - layout.rva);
    std::vector<size_t> positions;
    for (size_t i = 0; i < treeStart; ++i) positions.push_back(i);
    for (size_t i = treeStart; i < treeStart + 512 && i < small.size(); ++i) positions.push_back(i);
    const uint8_t values[] = {0x00, 0x7F, 0x80, 0xFF};
    PeImage image;
    std::string error;
    ASSERT_TRUE(image.Open(small, &error)) << error;
    int opened = 0;
    for (size_t at : positions) {
        for (uint8_t value : values) {
            std::vector<uint8_t> bytes = small;
            bytes[at] = value;
            if (!image.Open(std::move(bytes), &error)) continue;
            ++opened;
            std::vector<uint8_t> data;
            ReadResource(image, ResourceKey::Named("TXT"), ResourceKey::Number(105), &data, &error);
            ReplaceResource(&image, ResourceKey::Named("TXT"), ResourceKey::Number(105),
                            BytesOf("text"), &error);
            std::vector<IconImage> icon(1);
            icon[0].data = BytesOf("icon");
            ReplaceIconGroup(&image, 1, icon, &error);
            image.Build();
        }
    }
    EXPECT_GT(opened, 0);
}

TEST(PeChecksumTest, FoldsCarriesSkipsTheFieldAndAddsTheLength) {
    // 0xFFFF + 0x0002 folds to 0x0002; the field (bytes 4..7) reads as zero; odd length pads.
    const std::vector<uint8_t> data = FromHex("ff ff 02 00 aa bb cc dd 01");
    EXPECT_EQ(PeChecksum(data.data(), data.size(), 4), 0x0002u + 0x0001u + 9u);
    // A field at an odd offset spans two words.
    const std::vector<uint8_t> odd = FromHex("01 ff ff ff ff 02");
    EXPECT_EQ(PeChecksum(odd.data(), odd.size(), 1), 0x0001u + 0x0200u + 6u);
}

}  // namespace

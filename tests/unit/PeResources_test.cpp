#include "PeResources.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace {

const ResourceKey kText = ResourceKey::Named("TXT");
const ResourceKey kAgreement = ResourceKey::Number(105);
const ResourceKey kIcon = ResourceKey::Number(ResourceTypeIcon);
const ResourceKey kGroup = ResourceKey::Number(ResourceTypeIconGroup);

// Resources of the stub that no edit may change, by type and name.
const std::pair<uint16_t, uint16_t> kUntouched[] = {{6, 1}, {5, 101}, {5, 102}, {5, 103}, {5, 104}};

std::vector<uint8_t> Read(const PeImage& image, const ResourceKey& type, const ResourceKey& name) {
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_TRUE(ReadResource(image, type, name, &data, &error)) << error;
    return data;
}

std::vector<uint16_t> GroupIds(const std::vector<uint8_t>& group) {
    std::vector<uint16_t> ids;
    const size_t count = group.size() >= 6 ? group[4] | group[5] << 8 : 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
        ids.push_back(uint16_t(group[6 + 14 * i + 12] | group[6 + 14 * i + 13] << 8));
    return ids;
}

class PeResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FileExists(GLOB_TEST_STUB_FILE)) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        stub = ReadWholeFile(GLOB_TEST_STUB_FILE);
        std::string error;
        ASSERT_TRUE(original.Open(stub, &error)) << error;
    }

    // The image rebuilt and opened again, as the loader would see the file.
    PeImage Reopened(const PeImage& edited) {
        PeImage image;
        std::string error;
        EXPECT_TRUE(image.Open(edited.Build(), &error)) << error;
        return image;
    }

    void ExpectOthersUntouched(const PeImage& edited) {
        for (const auto& r : kUntouched) {
            const ResourceKey type = ResourceKey::Number(r.first),
                              name = ResourceKey::Number(r.second);
            EXPECT_EQ(Read(edited, type, name), Read(original, type, name))
                << r.first << " " << r.second;
        }
    }

    std::vector<uint8_t> stub;
    PeImage original;
};

TEST_F(PeResourcesTest, NamedTypesMatchWithoutRegardToCase) {
    const std::vector<uint8_t> text = Read(original, kText, kAgreement);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(Read(original, ResourceKey::Named("txt"), kAgreement), text);
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(ReadResource(original, ResourceKey::Named("TX"), kAgreement, &data, &error));
    EXPECT_FALSE(ReadResource(original, ResourceKey::Named("TXTS"), kAgreement, &data, &error));
}

TEST_F(PeResourcesTest, ReplacedTextReadsBackAndNothingElseChanges) {
    for (const size_t size : {size_t(0), size_t(5), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        PeImage image = original;
        const std::vector<uint8_t> text = SkewedBytes(size, 3);
        std::string error;
        ASSERT_TRUE(ReplaceResource(&image, kText, kAgreement, text, &error)) << error;
        const PeImage reopened = Reopened(image);
        EXPECT_EQ(Read(reopened, kText, kAgreement), text);
        ExpectOthersUntouched(reopened);
        EXPECT_EQ(Read(reopened, kGroup, ResourceKey::Number(1)),
                  Read(original, kGroup, ResourceKey::Number(1)));
    }
}

TEST_F(PeResourcesTest, MissingResourceIsNamedAndChangesNothing) {
    PeImage image = original;
    std::string error;
    EXPECT_FALSE(ReplaceResource(&image, kText, ResourceKey::Number(106), BytesOf("x"), &error));
    EXPECT_EQ(error, "has no resource TXT 106");
    EXPECT_FALSE(
        ReplaceResource(&image, ResourceKey::Named("HTML"), kAgreement, BytesOf("x"), &error));
    EXPECT_EQ(error, "has no resource HTML 105");
    EXPECT_EQ(image.Build(), stub);
}

TEST_F(PeResourcesTest, DamagedTreeIsRefused) {
    // The root's named types come first, in order: "INTEGRITY", "PMGROUP", then "TXT", whose
    // entry lies at offset 32 (the 16-byte directory, then 8 bytes an entry).
    const struct {
        uint32_t offset, value;
        const char* expected;
    } cases[] = {
        {36, 0x80000000u | 0x7FFFFF00u, "lies outside them"},
        {36, 0x00000010u, "is not a directory"},
        {12, 0x0000FFFFu, "overruns them"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        PeImage image = original;
        ASSERT_TRUE(image.WriteResource32(c.offset, c.value));
        std::string error;
        EXPECT_FALSE(ReplaceResource(&image, kText, kAgreement, BytesOf("x"), &error));
        EXPECT_NE(error.find("damaged resources"), std::string::npos) << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

TEST_F(PeResourcesTest, IconGroupGetsNewIconsAndKeepsTheOldOnes) {
    std::vector<IconImage> images(2);
    images[0].width = images[0].height = 16;
    images[0].planes = 1;
    images[0].bitCount = 4;
    images[0].data = RandomBytes(296, 1);
    images[1].width = images[1].height = 32;
    images[1].planes = 1;
    images[1].bitCount = 8;
    images[1].data = RandomBytes(2216, 2);

    const std::vector<uint16_t> oldIds = GroupIds(Read(original, kGroup, ResourceKey::Number(1)));
    ASSERT_FALSE(oldIds.empty());
    PeImage image = original;
    std::string error;
    ASSERT_TRUE(ReplaceResource(&image, kText, kAgreement, BytesOf("both edits"), &error)) << error;
    ASSERT_TRUE(ReplaceIconGroup(&image, 1, images, &error)) << error;
    const PeImage reopened = Reopened(image);

    const std::vector<uint8_t> group = Read(reopened, kGroup, ResourceKey::Number(1));
    ASSERT_EQ(group.size(), 6u + 14u * 2);
    EXPECT_EQ(ToHex(std::vector<uint8_t>(group.begin(), group.begin() + 6)), "00 00 01 00 02 00");
    EXPECT_EQ(ToHex(std::vector<uint8_t>(group.begin() + 6, group.begin() + 18)),
              "10 10 00 00 01 00 04 00 28 01 00 00");
    const std::vector<uint16_t> ids = GroupIds(group);
    ASSERT_EQ(ids.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_GT(ids[i], oldIds.back());
        EXPECT_EQ(Read(reopened, kIcon, ResourceKey::Number(ids[i])), images[i].data);
    }
    for (uint16_t old : oldIds)
        EXPECT_EQ(Read(reopened, kIcon, ResourceKey::Number(old)),
                  Read(original, kIcon, ResourceKey::Number(old)));
    EXPECT_EQ(Read(reopened, kText, kAgreement), BytesOf("both edits"));
    ExpectOthersUntouched(reopened);
}

TEST(IconFileTest, ParsesImagesAndRefusesWhatIsNotAnIcon) {
    // One 2-byte image at offset 22.
    const char* valid = "00 00 01 00 01 00  20 20 00 00 01 00 20 00 02 00 00 00 16 00 00 00  ab cd";
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(ParseIconFile(FromHex(valid), &images, &error)) << error;
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, 32);
    EXPECT_EQ(images[0].bitCount, 32);
    EXPECT_EQ(ToHex(images[0].data), "ab cd");

    const struct {
        const char* hex;
        const char* expected;
        const char* why;
    } cases[] = {
        {"", "not an icon file", "empty"},
        {"00 00 02 00 01 00  20 20 00 00 01 00 20 00 02 00 00 00 16 00 00 00  ab cd",
         "not an icon file", "a cursor"},
        {"00 00 01 00 00 00", "without images", "no images"},
        {"00 00 01 00 02 00  20 20 00 00 01 00 20 00 02 00 00 00 16 00 00 00", "directory overruns",
         "two entries announced, one there"},
        {"00 00 01 00 01 00  20 20 00 00 01 00 20 00 03 00 00 00 16 00 00 00  ab cd",
         "outside the file", "image one byte longer than the file"},
        {"00 00 01 00 01 00  20 20 00 00 01 00 20 00 02 00 00 00 ff ff ff ff  ab cd",
         "outside the file", "offset wraps"},
        {"00 00 01 00 01 00  20 20 00 00 01 00 20 00 00 00 00 00 16 00 00 00  ab cd",
         "outside the file", "empty image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_FALSE(ParseIconFile(FromHex(c.hex), &images, &error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

}  // namespace

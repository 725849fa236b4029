#include "StubEdit.h"

#include <gtest/gtest.h>

#include "ArchiveWriter.h"
#include "PeResources.h"
#include "TempDir.h"

namespace {

class StubEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FileExists(GLOB_TEST_STUB_FILE)) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        stub = ReadWholeFile(GLOB_TEST_STUB_FILE);
    }

    bool Customize(const StubChanges& changes, std::vector<uint8_t>* edited, std::string* error) {
        *edited = stub;
        return CustomizeStub(changes, "SETUP.EXE", edited, error);
    }

    std::vector<uint8_t> Agreement(const std::vector<uint8_t>& edited) {
        PeImage image;
        std::vector<uint8_t> text;
        std::string error;
        EXPECT_TRUE(image.Open(edited, &error)) << error;
        EXPECT_TRUE(
            ReadResource(image, ResourceKey::Named("TXT"), ResourceKey::Number(105), &text, &error))
            << error;
        return text;
    }

    TempDir dir;
    std::vector<uint8_t> stub;
};

TEST_F(StubEditTest, NoChangesLeaveTheStubAsItWas) {
    std::vector<uint8_t> edited;
    std::string error;
    ASSERT_TRUE(Customize(StubChanges(), &edited, &error)) << error;
    EXPECT_EQ(edited, stub);
}

TEST_F(StubEditTest, LicenseFileBecomesTheAgreementTextTheSameEveryTime) {
    WriteWholeFile(dir / "license.txt", std::string("Terms\nCaf\xC3\xA9\n"));
    StubChanges changes;
    changes.licensePath = dir / "license.txt";
    std::vector<uint8_t> first, second;
    std::string error;
    ASSERT_TRUE(Customize(changes, &first, &error)) << error;
    ASSERT_TRUE(Customize(changes, &second, &error)) << error;
    EXPECT_EQ(first, second);
    EXPECT_EQ(Agreement(first), BytesOf("Terms\r\nCaf\xE9\r\n"));
}

// The stub's own group is empty (the installer's fixed command); --group fills it in.
TEST_F(StubEditTest, TheGroupIsStoredInTheStubsCopy) {
    auto group = [](const std::vector<uint8_t>& image_bytes) {
        PeImage image;
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(image.Open(image_bytes, &error)) << error;
        EXPECT_TRUE(ReadResource(image, ResourceKey::Named("PMGROUP"), ResourceKey::Number(107), &bytes, &error))
            << error;
        return bytes;
    };
    EXPECT_TRUE(group(stub).empty());
    StubChanges changes;
    changes.group = true;
    changes.groupName = "Caf\xE9 Tools";
    std::vector<uint8_t> edited;
    std::string error;
    ASSERT_TRUE(Customize(changes, &edited, &error)) << error;
    EXPECT_EQ(group(edited), BytesOf("Caf\xE9 Tools"));
    EXPECT_EQ(Agreement(edited), Agreement(stub)) << "nothing else changes";
}

TEST_F(StubEditTest, TextThatLeavesNoRoomForTheArchiveIsRefused) {
    // Just small enough, then one byte of text too many: the edited stub may be MaxStubSize.
    StubChanges changes;
    changes.licensePath = dir / "license.txt";
    std::vector<uint8_t> edited;
    std::string error;
    WriteWholeFile(changes.licensePath, std::string());
    ASSERT_TRUE(Customize(changes, &edited, &error)) << error;
    // The stub's resource section has less than one FileAlignment (512) of padding: text of
    // whole blocks within the room fits, a block more than the room does not.
    const size_t room = size_t(MaxStubSize) - stub.size();
    const size_t fits = room / 512 * 512;
    WriteWholeFile(changes.licensePath, std::string(fits, 'x'));
    ASSERT_TRUE(Customize(changes, &edited, &error)) << error;
    EXPECT_LE(edited.size(), size_t(MaxStubSize));
    WriteWholeFile(changes.licensePath, std::string(room + 512, 'x'));
    EXPECT_FALSE(Customize(changes, &edited, &error));
    EXPECT_NE(error.find(changes.licensePath + ": makes SETUP.EXE's program"), std::string::npos)
        << error;
    EXPECT_EQ(edited, stub) << "a refused edit changed the stub";
}

TEST_F(StubEditTest, ErrorsNameTheFileAtFault) {
    WriteWholeFile(dir / "bad.txt", std::string("\xFF\xFE t\0e\0x\0t\0", 10));
    WriteWholeFile(dir / "bad.ico", std::string("not an icon"));
    WriteWholeFile(dir / "good.txt", std::string("ok"));
    const struct {
        std::string license, icon;
        std::vector<uint8_t> stub;
        std::string expected;
    } cases[] = {
        {dir / "missing.txt", "", stub, dir / "missing.txt" + ": no such file"},
        {dir / "bad.txt", "", stub, dir / "bad.txt" + ": line 1: a NUL byte"},
        {"", dir / "bad.ico", stub, dir / "bad.ico" + ": not an icon file"},
        {dir / "good.txt", "", BytesOf("MZ but nothing more"), "SETUP.EXE: not a Windows program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        StubChanges changes;
        changes.licensePath = c.license;
        changes.iconPath = c.icon;
        std::vector<uint8_t> edited = c.stub;
        std::string error;
        EXPECT_FALSE(CustomizeStub(changes, "SETUP.EXE", &edited, &error));
        EXPECT_EQ(error.compare(0, c.expected.size(), c.expected), 0) << error;
        EXPECT_EQ(edited, c.stub);
    }
}

}  // namespace

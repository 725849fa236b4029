#include "VolumeStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "FakeHost.h"
#include "TempDir.h"
#include "TestArchive.h"

namespace {

using Calls = std::vector<std::string>;

// Stream bytes that differ from their neighbours, so a byte read from the wrong place shows.
std::vector<uint8_t> Pattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + i / 251);
    return bytes;
}

std::vector<uint8_t> ReadAll(VolumeStream& stream, size_t limit) {
    std::vector<uint8_t> bytes;
    for (int c; bytes.size() < limit && (c = stream.ReadByte()) != -1;)
        bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

// Stream bytes that volume 0 holds with the default stub.
const size_t kVolume0Share = Volume0DataLimit - (VolumeLayout{}.stubSize + 1);

TEST(VolumeStream, OffsetF601CountsFromF605) {
    TempDir dir;
    TestArchive archive;
    archive.Add("A.TXT", "contents");
    VolumeLayout layout;
    layout.stubSize = 0xF600;
    const auto files = WriteInstaller(dir.Path(), archive.Stream(), layout);
    FakeHost host;
    VolumeStream stream(host);
    ASSERT_TRUE(stream.OpenVolumeSet(files.baseName.c_str(), files.exePath.c_str()));
    EXPECT_EQ(stream.position, 0);
    ASSERT_TRUE(stream.PositionAtArchive());
    EXPECT_EQ(stream.ArchiveOffset(), 0xF601);
    EXPECT_EQ(stream.position, 0xF605);
    EXPECT_EQ(stream.ReadByte(), 'T');  // programName's first byte, at file offset 0xF601
    EXPECT_EQ(stream.position, 0xF606);
    unsigned char rest[SetupHeaderSize - 1];
    stream.ReadBytes(rest, sizeof rest);
    EXPECT_EQ(stream.position, 0xF789);
    EXPECT_EQ(stream.ReadByte(), 'A');
    EXPECT_EQ(stream.volume, 0);
    EXPECT_TRUE(host.calls.empty()) << host.Transcript();
}

TEST(VolumeStream, HeaderReadsAsWritten) {
    TempDir dir;
    TestArchive archive;
    archive.Add("A", "1234");
    archive.Add("B", "56");
    const auto files = WriteInstaller(dir.Path(), archive.Stream());
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    SetupHeader header;
    ReadHeader(*stream, &header);
    EXPECT_STREQ(header.programName, "Test Program");
    EXPECT_STREQ(header.defaultDir, "C:\\TESTPROG");
    EXPECT_STREQ(header.exeName, "TEST.EXE");
    EXPECT_EQ(header.totalSize, 6u);
}

struct SwitchCase {
    size_t volume0Padding;
    size_t glob1Junk;
    bool readBytes;
    const char* why;
};

TEST(VolumeStream, VolumesFollowThePositionCounter) {
    const SwitchCase cases[] = {
        {0, 0, false, "exact files"},
        {3000, 0, false, "volume 0 longer than its share: the rest is never read"},
        {0, 500, false, "GLOB1.DAT longer than the span: left at the span"},
        {100, 100, true, "ReadBytes across both boundaries"},
    };
    const auto data = Pattern(kVolume0Share + VolumeSpan + 777);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        VolumeLayout layout;
        layout.volume0Padding = c.volume0Padding;
        const auto files = WriteInstaller(dir.Path(), data, layout);
        ASSERT_EQ(files.volumes.size(), 3u);
        if (c.glob1Junk) {
            auto glob1 = ReadWholeFile(files.volumes[1]);
            glob1.insert(glob1.end(), c.glob1Junk, 0xEE);
            WriteWholeFile(files.volumes[1], glob1);
        }
        FakeHost host;
        auto stream = OpenInstaller(host, files);
        ASSERT_TRUE(stream);

        std::vector<uint8_t> got;
        if (c.readBytes) {
            got.resize(data.size());
            for (size_t at = 0; at < got.size(); at += 1000)
                stream->ReadBytes(got.data() + at, static_cast<int32_t>(std::min<size_t>(1000, got.size() - at)));
        } else {
            got = ReadAll(*stream, kVolume0Share);
            EXPECT_EQ(stream->position, VolumeSpan - 1);
            EXPECT_EQ(stream->volume, 0);
            const auto more = ReadAll(*stream, data.size());
            got.insert(got.end(), more.begin(), more.end());
        }
        EXPECT_TRUE(got == data) << "the stream differs from the data written";
        EXPECT_EQ(stream->volume, 2);
        EXPECT_EQ(stream->ReadByte(), -1);
        EXPECT_TRUE(stream->AtVolumeEnd());
        EXPECT_TRUE(host.calls.empty()) << host.Transcript();
    }
}

TEST(VolumeStream, FirstByteOfGlob1IsReadWithPositionVolumeSpan) {
    TempDir dir;
    const auto data = Pattern(kVolume0Share + 10);
    const auto files = WriteInstaller(dir.Path(), data);
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    ReadAll(*stream, kVolume0Share);
    EXPECT_EQ(stream->ReadByte(), data[kVolume0Share]);
    EXPECT_EQ(stream->position, VolumeSpan);
    EXPECT_EQ(stream->volume, 1);
}

struct PromptCase {
    std::deque<bool> diskAnswers;
    std::deque<bool> quitAnswers;
    int createOnPrompt;  // the prompt before which GLOB1.DAT appears; 0: never
    Calls calls;
    int cancels;
    bool dataFollows;
    const char* why;
};

TEST(VolumeStream, MissingContinuationVolumePrompts) {
    const PromptCase cases[] = {
        {{true}, {}, 1, {"beep", "disk 2 GLOB1.DAT"}, 0, true, "OK once the disk is in"},
        {{true, true}, {}, 2, {"beep", "disk 2 GLOB1.DAT", "beep", "disk 2 GLOB1.DAT"}, 0, true,
         "OK without the disk asks again"},
        {{false, true}, {false}, 2,
         {"beep", "disk 2 GLOB1.DAT", "quit", "beep", "disk 2 GLOB1.DAT"}, 0, true,
         "Cancel, then No, leaves the cancel request alone and asks again"},
        {{false}, {true}, 0, {"beep", "disk 2 GLOB1.DAT", "quit", "cancel"}, 1, false,
         "Cancel, then Yes, requests the cancel; the host then stops the read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        const auto data = Pattern(kVolume0Share + 10);
        const auto files = WriteInstaller(dir.Path(), data);
        const auto glob1 = ReadWholeFile(files.volumes[1]);
        std::filesystem::remove(files.volumes[1]);

        FakeHost host;
        host.diskAnswers = c.diskAnswers;
        host.quitAnswers = c.quitAnswers;
        host.onAskForDisk = [&](int, const char*) {
            if (host.prompts == c.createOnPrompt) WriteWholeFile(files.volumes[1], glob1);
        };
        auto stream = OpenInstaller(host, files);
        ASSERT_TRUE(stream);
        ReadAll(*stream, kVolume0Share);
        EXPECT_TRUE(host.calls.empty()) << "asked before the volume was reached";

        const int c0 = stream->ReadByte();
        EXPECT_EQ(host.calls, c.calls) << host.Transcript();
        EXPECT_EQ(host.cancelRequests, c.cancels);
        if (c.dataFollows) {
            EXPECT_EQ(c0, data[kVolume0Share]);
            EXPECT_EQ(ReadAll(*stream, 100).size(), 9u);
        } else {
            EXPECT_EQ(c0, -1);
            EXPECT_TRUE(stream->Stopped());
            EXPECT_TRUE(stream->AtVolumeEnd());
        }
    }
}

TEST(VolumeStream, ConfirmedCancelKeepsPromptingUntilTheHostStops) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), Pattern(kVolume0Share + VolumeSpan + 5));
    std::filesystem::remove(files.volumes[2]);
    FakeHost host;
    host.stopAfterCancels = 3;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    ReadAll(*stream, kVolume0Share + VolumeSpan);
    EXPECT_EQ(stream->ReadByte(), -1);
    const Calls round = {"beep", "disk 3 GLOB2.DAT", "quit", "cancel"};
    Calls expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), round.begin(), round.end());
    EXPECT_EQ(host.calls, expected) << host.Transcript();
}

TEST(VolumeStream, MissingVolume0AsksForDiskOne) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), Pattern(1000));
    const auto volume0 = ReadWholeFile(files.exePath);
    std::filesystem::remove(files.exePath);
    {
        FakeHost host;
        host.diskAnswers = {false};
        VolumeStream stream(host);
        EXPECT_FALSE(stream.OpenVolumeSet(files.baseName.c_str(), files.exePath.c_str()));
        EXPECT_EQ(host.calls, (Calls{"beep", "disk 1 SETUP.EXE"}));
        EXPECT_EQ(stream.file, nullptr);
        EXPECT_EQ(host.cancelRequests, 0);
    }
    {
        FakeHost host;
        host.diskAnswers = {true, true};
        host.onAskForDisk = [&](int, const char*) {
            if (host.prompts == 2) WriteWholeFile(files.exePath, volume0);
        };
        VolumeStream stream(host);
        EXPECT_TRUE(stream.OpenVolumeSet(files.baseName.c_str(), files.exePath.c_str()));
        EXPECT_EQ(host.calls, (Calls{"beep", "disk 1 SETUP.EXE", "beep", "disk 1 SETUP.EXE"}));
        ASSERT_TRUE(stream.PositionAtArchive());
        EXPECT_EQ(ReadAll(stream, 2000), Pattern(1000));
    }
}

// Started from another directory, the installer looks for its continuation volumes in the
// current directory first, then beside itself; only when both fail is the user asked.
TEST(VolumeStream, ContinuationVolumesBesideTheInstallerAreFoundWithoutAPrompt) {
    TempDir dir;
    VolumeLayout layout;
    layout.stubSize = StubSizeForBoundaryAt(500);
    const auto files = WriteInstaller(dir.Path(), Pattern(3000), layout);
    ASSERT_EQ(files.volumes.size(), 2u);
    for (const bool beside : {true, false}) {
        SCOPED_TRACE(beside ? "beside the installer" : "nowhere");
        if (!beside) std::filesystem::remove(files.volumes[1]);
        FakeHost host;
        VolumeStream stream(host);
        stream.SetSecondBaseName(files.baseName.c_str());
        const std::string elsewhere = dir / "elsewhere/GLOB";  // the current directory's
        ASSERT_TRUE(stream.OpenVolumeSet(elsewhere.c_str(), files.exePath.c_str()));
        ASSERT_TRUE(stream.PositionAtArchive());
        const auto read = ReadAll(stream, 3000);
        if (beside) {
            EXPECT_EQ(read, Pattern(3000));
            EXPECT_EQ(host.calls, Calls{}) << host.Transcript();
        } else {
            EXPECT_EQ(host.prompts, 1) << host.Transcript();
        }
    }
}

std::vector<uint8_t> WithTrailer(std::vector<uint8_t> bytes, uint32_t offset) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(offset >> (8 * i)));
    return bytes;
}

TEST(VolumeStream, PositionAtArchiveRefusesABadTrailer) {
    const struct {
        std::vector<uint8_t> volume0;
        const char* why;
    } cases[] = {
        {{}, "empty file"},
        {{0x01, 0x00}, "shorter than the trailer"},
        {{0x01, 0x00, 0x00}, "one byte short of a trailer"},
        {WithTrailer(std::vector<uint8_t>(20, 0x41), 25), "points just past the end"},
        {WithTrailer(std::vector<uint8_t>(20, 0x41), 100000), "points far past the end"},
        {WithTrailer(std::vector<uint8_t>(20, 0x41), 0xFFFFFFFF), "negative offset"},
        {WithTrailer(std::vector<uint8_t>(20, 0x41), 0x80000000), "most negative offset"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        const std::string exe = dir / "SETUP.EXE";
        WriteWholeFile(exe, c.volume0);
        FakeHost host;
        VolumeStream stream(host);
        ASSERT_TRUE(stream.OpenVolumeSet((dir / "GLOB").c_str(), exe.c_str()));
        EXPECT_FALSE(stream.PositionAtArchive());
        EXPECT_TRUE(host.calls.empty()) << host.Transcript();
    }
}

TEST(VolumeStream, ReadPastTheEndGivesMinusOneQuietly) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), {0x10, 0x20});
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    EXPECT_FALSE(stream->AtVolumeEnd());
    unsigned char bytes[3] = {0, 0, 0};
    stream->ReadBytes(bytes, 3);
    EXPECT_EQ(bytes[0], 0x10);
    EXPECT_EQ(bytes[1], 0x20);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_TRUE(stream->AtVolumeEnd());
    EXPECT_EQ(stream->ReadByte(), -1);
    EXPECT_EQ(stream->ReadByte(), -1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(stream->ReadBit(), 1) << "bit " << i;
    EXPECT_TRUE(stream->BitsPastEnd());
    EXPECT_EQ(stream->ReadBits(8), 0xFFu);
    EXPECT_FALSE(stream->Stopped());
    EXPECT_FALSE(stream->ReadFailed());
    EXPECT_TRUE(host.calls.empty()) << host.Transcript();
    EXPECT_EQ(host.cancelRequests, 0);
}

TEST(VolumeStream, TrailerIsNeverData) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), BytesOf("xyz"));
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(*stream, 100), BytesOf("xyz"));
}

TEST(VolumeStream, ReadBytesIgnoresCountsBelowOne) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), {0x10, 0x20});
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    unsigned char bytes[2] = {0xAA, 0xAA};
    const int32_t before = stream->position;
    stream->ReadBytes(bytes, 0);
    stream->ReadBytes(bytes, -5);
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(stream->position, before);
    EXPECT_EQ(stream->ReadByte(), 0x10);
}

struct BitCase {
    const char* hex;
    std::vector<int> counts;  // 0: one ReadBit; -1: AlignToByte; -2: one ReadByte
    std::vector<long> results;
    const char* why;
};

TEST(VolumeStream, BitInput) {
    const BitCase cases[] = {
        {"a5", {8}, {0xA5}, "eight bits at once"},
        {"a5", {0, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 1, 0, 1}, "most significant bit first"},
        {"a5", {3, 5}, {5, 5}, "101 then 00101"},
        {"a5 3c", {12, 4}, {0xA53, 0xC}, "a count across bytes"},
        {"12 34 56 78", {32}, {0x12345678}, "the first bit read is the top one"},
        {"a5 3c", {0, -1, 8}, {1, -1, 0x3C}, "aligning mid-byte fetches a new byte next"},
        {"a5 3c", {-1, 8}, {-1, 0xA5}, "aligning on a boundary skips nothing"},
        {"a5 3c 7e", {0, -2, 7, 8}, {1, 0x3C, 0x25, 0x7E},
         "byte reads leave the bit input where it was"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        const auto files = WriteInstaller(dir.Path(), FromHex(c.hex));
        FakeHost host;
        auto stream = OpenInstaller(host, files);
        ASSERT_TRUE(stream);
        for (size_t i = 0; i < c.counts.size(); ++i) {
            switch (c.counts[i]) {
            case 0: EXPECT_EQ(stream->ReadBit(), c.results[i]) << "step " << i; break;
            case -1: stream->AlignToByte(); break;
            case -2: EXPECT_EQ(stream->ReadByte(), c.results[i]) << "step " << i; break;
            default:
                EXPECT_EQ(stream->ReadBits(c.counts[i]), static_cast<uint32_t>(c.results[i]))
                    << "step " << i;
            }
        }
        EXPECT_FALSE(stream->BitsPastEnd());
    }
}

TEST(VolumeStream, StopRequestEndsReading) {
    TempDir dir;
    const auto data = Pattern(1200000);
    const auto files = WriteInstaller(dir.Path(), data);
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(*stream, 10).size(), 10u);
    host.stopNow = true;
    const auto rest = ReadAll(*stream, data.size());
    EXPECT_LT(rest.size(), data.size() - 10);
    EXPECT_TRUE(stream->Stopped());
    EXPECT_TRUE(stream->AtVolumeEnd());
    EXPECT_EQ(stream->ReadByte(), -1);
    EXPECT_EQ(stream->ReadBit(), 1);
    EXPECT_TRUE(host.calls.empty()) << host.Transcript();
}

TEST(VolumeStream, DataEndingAtASpanAsksForTheNextDisk) {
    const struct {
        size_t length;
        const char* prompt;
    } cases[] = {
        {kVolume0Share, "disk 2 GLOB1.DAT"},
        {kVolume0Share + VolumeSpan, "disk 3 GLOB2.DAT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prompt);
        TempDir dir;
        const auto data = Pattern(c.length);
        const auto files = WriteInstaller(dir.Path(), data);
        FakeHost host;
        auto stream = OpenInstaller(host, files);
        ASSERT_TRUE(stream);
        EXPECT_TRUE(ReadAll(*stream, data.size()) == data);
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(stream->ReadByte(), -1);
        EXPECT_EQ(host.calls, (Calls{"beep", c.prompt, "quit", "cancel"})) << host.Transcript();
    }
}

TEST(VolumeStream, CloseVolumeTwiceIsHarmless) {
    TempDir dir;
    const auto files = WriteInstaller(dir.Path(), Pattern(10));
    FakeHost host;
    auto stream = OpenInstaller(host, files);
    ASSERT_TRUE(stream);
    stream->CloseVolume();
    EXPECT_EQ(stream->file, nullptr);
    stream->CloseVolume();
    EXPECT_EQ(stream->file, nullptr);
}

}  // namespace

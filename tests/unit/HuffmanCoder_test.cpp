#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "FakeHost.h"
#include "HuffmanDecoder.h"
#include "HuffmanEncoder.h"
#include "MemberOutput.h"
#include "ModelCheck.h"
#include "TempDir.h"
#include "TestArchive.h"
#include "VolumeStream.h"

namespace {

// A stream over raw bytes (no header) in a fresh installer file.
struct RawStream {
    explicit RawStream(const std::vector<uint8_t>& bytes, const VolumeLayout& layout = {})
        : files(WriteInstaller(dir.Path(), bytes, layout)), stream(OpenInstaller(host, files)) {}

    // Decodes one member into a file and returns its bytes.
    std::vector<uint8_t> DecodeNext(DecodeStatus* status) {
        if (!stream) {
            ADD_FAILURE() << "the installer did not open";
            *status = DecodeStatus::Damaged;
            return {};
        }
        const std::string path = dir / ("out" + std::to_string(outputs++));
        auto output = std::make_unique<MemberOutput>(host);
        FileError error = FileError::None;
        EXPECT_TRUE(output->Open(path.c_str(), &error));
        *status = DecodeMember(*model, *stream, *output);
        // Whatever was decoded lands, complete or not: the tests look at partial output too.
        EXPECT_TRUE(output->Finish());
        const uint64_t time = FileTimeFromUnix(1000000000);
        EXPECT_TRUE(output->Commit(time, time, time));
        return ReadWholeFile(path);
    }

    TempDir dir;
    FakeHost host;
    InstallerFiles files;
    std::unique_ptr<VolumeStream> stream;
    std::unique_ptr<HuffmanModel> model = std::make_unique<HuffmanModel>();
    int outputs = 0;
};

std::vector<uint8_t> Bytes(const char* text, size_t length) {
    return std::vector<uint8_t>(text, text + length);
}

struct GoldenCase {
    const char* hex;
    std::vector<uint8_t> decoded;
    const char* why;
};

const GoldenCase kGolden[] = {
    {"b0 8c 48", BytesOf("ab"), "escape a, escape b, end"},
    {"00", {}, "a first bit 0 ends the member"},
    {"bc 40", BytesOf("x"), "escape x, then end is the bit 1"},
    {"ff c0", {0xFF}, "escape 0xff, then end is the bit 1"},
    {"b0 a8", BytesOf("aa"), "escape a, a as 01, end as 01 after the swap"},
};

TEST(HuffmanCoder, GoldenVectorsDecode) {
    for (const auto& c : kGolden) {
        SCOPED_TRACE(c.why);
        RawStream raw(FromHex(c.hex));
        ASSERT_TRUE(raw.stream);
        DecodeStatus status;
        EXPECT_EQ(raw.DecodeNext(&status), c.decoded);
        EXPECT_EQ(status, DecodeStatus::Complete);
        EXPECT_FALSE(raw.stream->BitsPastEnd());
        EXPECT_EQ(raw.host.calls.size(), 0u) << raw.host.Transcript();
    }
}

TEST(HuffmanCoder, GoldenVectorsEncode) {
    for (const auto& c : kGolden) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ToHex(Encode(c.decoded)), c.hex);
        EXPECT_EQ(ToHex(ReferenceEncode(c.decoded)), c.hex);
    }
}

TEST(HuffmanCoder, OnesFromDataDecodeToFFThenEnd) {
    RawStream raw({0xFF, 0xFF, 0xFF});
    DecodeStatus status;
    EXPECT_EQ(raw.DecodeNext(&status), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(status, DecodeStatus::Complete);
    // Ten bits were used: the rest of the second byte and the third are still ahead.
    raw.stream->AlignToByte();
    EXPECT_EQ(raw.stream->ReadByte(), 0xFF);
    EXPECT_EQ(raw.stream->ReadByte(), -1);
}

TEST(HuffmanCoder, WorkedExampleSymbolBySymbol) {
    RawStream raw(FromHex("b0 8c 48"));
    HuffmanModel& model = *raw.model;
    InitializeModel(model);
    const int expected[] = {'a', 'b', EndOfStream};
    for (int symbol : expected) {
        const int c = DecodeSymbol(model, *raw.stream);
        ASSERT_EQ(c, symbol);
        if (c != EndOfStream) UpdateModel(model, c);
    }
    const struct {
        uint32_t weight;
        int32_t childIsLeaf, child;
    } nodes[] = {{4, 0, 1}, {2, 0, 3}, {2, 0, 5}, {1, 1, Escape}, {1, 1, EndOfStream}, {1, 1, 'a'}, {1, 1, 'b'}};
    ASSERT_EQ(model.nextFreeNode, 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(model.Node(i).weight, nodes[i].weight) << i;
        EXPECT_EQ(model.Node(i).childIsLeaf, nodes[i].childIsLeaf) << i;
        EXPECT_EQ(model.Node(i).child, nodes[i].child) << i;
    }
    EXPECT_EQ(CheckModel(model), "");
}

TEST(HuffmanCoder, EscapeNamingAByteInTheTreeIsRefused) {
    // Escape 'a', then Escape (00) and 'a' again: no coder sends that.
    RawStream raw(FromHex("b0 8c 20 00"));
    HuffmanModel& model = *raw.model;
    InitializeModel(model);
    ASSERT_EQ(DecodeSymbol(model, *raw.stream), 'a');
    UpdateModel(model, 'a');
    EXPECT_EQ(DecodeSymbol(model, *raw.stream), -1);
    EXPECT_EQ(model.nextFreeNode, 5);
    EXPECT_EQ(CheckModel(model), "");
}

struct DamagedCase {
    std::vector<uint8_t> bytes;
    const char* why;
};

TEST(HuffmanCoder, DamagedStreamsStopTheMember) {
    const DamagedCase cases[] = {
        {FromHex("b0"), "the data ends inside the first byte's code"},
        {FromHex("b0 8c"), "the data ends before EndOfStream"},
        {FromHex("b0 8c 20 00 00"), "an Escape names a byte already in the tree"},
        {EscapeIntoAFullTree(), "an Escape arrives when every byte value is in the tree"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        RawStream raw(c.bytes);
        DecodeStatus status;
        const auto decoded = raw.DecodeNext(&status);
        EXPECT_EQ(status, DecodeStatus::Damaged);
        EXPECT_LE(decoded.size(), 8 * c.bytes.size() + 1);
    }
}

TEST(HuffmanCoder, EncoderMatchesTheReferenceAndEndsInTheDecodersModel) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } inputs[] = {
        {"uniform", RandomBytes(50000, 1)},
        {"skewed, several rebuilds", SkewedBytes(150000, 2)},
        {"run of one byte", std::vector<uint8_t>(70000, 'q')},
        {"every value twice", [] {
             std::vector<uint8_t> bytes;
             for (int round = 0; round < 2; ++round)
                 for (int c = 255; c >= 0; --c) bytes.push_back(static_cast<uint8_t>(c));
             return bytes;
         }()},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        VectorSink sink;
        HuffmanEncoder encoder(sink);
        encoder.BeginMember();
        encoder.Put(input.data.data(), input.data.size());
        auto model = NewModel();
        for (uint8_t c : input.data) Count(*model, c);
        EXPECT_EQ(encoder.Model().nextFreeNode, model->nextFreeNode);
        EXPECT_TRUE(SameNodes(encoder.Model(), *model, model->nextFreeNode));
        ASSERT_TRUE(encoder.EndMember());
        EXPECT_EQ(sink.bytes, ReferenceEncode(input.data));
        EXPECT_EQ(encoder.BytesOut(), sink.bytes.size());
    }
}

TEST(HuffmanCoder, EachMemberStartsFromAFreshModel) {
    const auto first = SkewedBytes(5000, 4);
    const auto second = BytesOf("second member");
    VectorSink sink;
    HuffmanEncoder encoder(sink);
    encoder.BeginMember();
    for (size_t at = 0; at < first.size(); at += 777)  // chunking must not matter
        encoder.Put(first.data() + at, std::min<size_t>(777, first.size() - at));
    ASSERT_TRUE(encoder.EndMember());
    encoder.BeginMember();
    encoder.Put(second.data(), second.size());
    ASSERT_TRUE(encoder.EndMember());

    auto expected = Encode(first);
    const auto more = Encode(second);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(sink.bytes, expected);
}

class RefusingSink : public ByteSink {
public:
    bool Write(const uint8_t*, size_t count) override {
        accepted += count;
        return accepted < 1000;
    }
    size_t accepted = 0;
};

TEST(HuffmanCoder, EncoderReportsARefusingSink) {
    const auto data = RandomBytes(300000, 5);
    RefusingSink sink;
    EXPECT_FALSE(EncodeMember(data.data(), data.size(), sink));
}

TEST(HuffmanCoder, RoundTripsThroughTheVolumeStream) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } members[] = {
        {"empty", {}},
        {"one byte", {0x00}},
        {"text", BytesOf("The quick brown fox jumps over the lazy dog.\r\n")},
        {"run", std::vector<uint8_t>(40000, 0xFF)},
        {"every value", [] {
             std::vector<uint8_t> bytes(256 * 3);
             for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 5);
             return bytes;
         }()},
        {"skewed, crossing rebuilds", SkewedBytes(400000, 6)},
        {"uniform, over three volumes", RandomBytes(1600000, 7)},
        {"after the long ones", Bytes("\0\1\2", 3)},
    };
    std::vector<uint8_t> stream;
    for (const auto& member : members) {
        const auto coded = Encode(member.data);
        stream.insert(stream.end(), coded.begin(), coded.end());
    }
    VolumeLayout layout;
    layout.stubSize = StubSizeForBoundaryAt(1000);
    RawStream raw(stream, layout);
    ASSERT_EQ(raw.files.volumes.size(), 3u);
    for (const auto& member : members) {
        SCOPED_TRACE(member.name);
        DecodeStatus status;
        const auto decoded = raw.DecodeNext(&status);
        EXPECT_EQ(status, DecodeStatus::Complete);
        EXPECT_TRUE(decoded == member.data) << decoded.size() << " bytes decoded of " << member.data.size();
        raw.stream->AlignToByte();
    }
    EXPECT_EQ(raw.stream->ReadByte(), -1);
    EXPECT_EQ(raw.host.calls.size(), 0u) << raw.host.Transcript();
}

TEST(HuffmanCoder, BitStreamCrossesAVolumeBoundaryAnywhere) {
    const auto first = SkewedBytes(3000, 8);
    const auto second = BytesOf("next member");
    auto stream = Encode(first);
    const size_t firstLength = stream.size();
    const auto more = Encode(second);
    stream.insert(stream.end(), more.begin(), more.end());
    const size_t boundaries[] = {1, 2, firstLength / 2, firstLength - 1, firstLength,
                                 firstLength + 1};
    for (size_t boundary : boundaries) {
        SCOPED_TRACE("GLOB1.DAT starts at stream byte " + std::to_string(boundary));
        VolumeLayout layout;
        layout.stubSize = StubSizeForBoundaryAt(boundary);
        RawStream raw(stream, layout);
        ASSERT_EQ(raw.files.volumes.size(), 2u);
        DecodeStatus status;
        EXPECT_EQ(raw.DecodeNext(&status), first);
        EXPECT_EQ(status, DecodeStatus::Complete);
        raw.stream->AlignToByte();
        EXPECT_EQ(raw.DecodeNext(&status), second);
        EXPECT_EQ(status, DecodeStatus::Complete);
        EXPECT_EQ(raw.stream->volume, 1);
    }
}

TEST(HuffmanCoder, StopRequestEndsDecoding) {
    const auto data = RandomBytes(1000000, 9);
    RawStream raw(Encode(data));
    raw.host.stopAfterChecks = 2;
    DecodeStatus status;
    const auto decoded = raw.DecodeNext(&status);
    EXPECT_EQ(status, DecodeStatus::Stopped);
    EXPECT_LT(decoded.size(), data.size());
}

}  // namespace

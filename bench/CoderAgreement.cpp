#include "CoderAgreement.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "BaselineCoder.h"
#include "HuffmanEncoder.h"
#include "VolumeStream.h"

namespace {

std::vector<uint8_t> FromHex(const char* hex) {
    std::vector<uint8_t> bytes;
    for (const char* p = hex; *p != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

std::vector<uint8_t> FromText(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void CompareBytes(const std::string& what, const std::vector<uint8_t>& expected,
                  const uint8_t* actual, size_t actualSize, std::vector<std::string>& failures) {
    size_t i = 0;
    while (i < expected.size() && i < actualSize && expected[i] == actual[i]) ++i;
    if (i == expected.size() && i == actualSize) return;
    failures.push_back(what + ": " + std::to_string(actualSize) + " bytes where " +
                       std::to_string(expected.size()) + " were expected, first difference at " +
                       std::to_string(i));
}

void CompareBytes(const std::string& what, const std::vector<uint8_t>& expected,
                  const std::vector<uint8_t>& actual, std::vector<std::string>& failures) {
    CompareBytes(what, expected, actual.data(), actual.size(), failures);
}

// Nodes in use and leaf indices, which is all both sides must agree on.
void CompareModels(const std::string& what, const baseline::Model& expected,
                   const HuffmanModel& actual, std::vector<std::string>& failures) {
    bool same = expected.nextFreeNode == actual.nextFreeNode &&
                std::memcmp(expected.leaf, actual.leaf, sizeof expected.leaf) == 0;
    for (int i = 0; same && i < expected.nextFreeNode; ++i) {
        const HuffmanNode& a = expected.nodes[i];
        const HuffmanNode b = actual.Node(i);
        same = a.weight == b.weight && a.parent == b.parent && a.childIsLeaf == b.childIsLeaf &&
               a.child == b.child;
    }
    if (!same) failures.push_back(what + ": the encoders' models differ");
}

bool MakeDirectory(const std::string& path, std::vector<std::string>& failures) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) failures.push_back(path + ": cannot create the directory: " + error.message());
    return !error;
}

// Decodes image with both readers and compares the result with the members it was built from.
void CheckBothDecoders(const std::string& what, const std::vector<MemberInput>& members,
                       const InstallerImage& image, const std::string& installDir,
                       std::vector<std::string>& failures) {
    std::vector<uint8_t> expected;
    for (const MemberInput& member : members) {
        expected.insert(expected.end(), member.data, member.data + member.size);
    }

    VectorSink decoded;
    const ArchiveRun baselineRun = DecodeWithBaseline(image, decoded);
    if (!baselineRun.error.empty()) failures.push_back(what + ", baseline: " + baselineRun.error);
    if (baselineRun.members != members.size()) {
        failures.push_back(what + ", baseline: " + std::to_string(baselineRun.members) +
                           " members read of " + std::to_string(members.size()));
    }
    CompareBytes(what + ", baseline decoder", expected, decoded.bytes, failures);

    if (!MakeDirectory(installDir, failures)) return;
    const ArchiveRun coreRun = DecodeWithCore(image, (installDir + "/").c_str());
    if (!coreRun.error.empty()) failures.push_back(what + ", core: " + coreRun.error);
    if (coreRun.members != members.size()) {
        failures.push_back(what + ", core: " + std::to_string(coreRun.members) +
                           " members read of " + std::to_string(members.size()));
    }
    for (const MemberInput& member : members) {
        const std::string path = installDir + "/" + member.name;
        const std::vector<uint8_t> written = ReadWholeFile(path);
        CompareBytes(what + ", core decoder, " + path,
                     std::vector<uint8_t>(member.data, member.data + member.size), written,
                     failures);
    }
}

struct GeneratedCase {
    const char* name;
    std::vector<uint8_t> (*make)();
};

std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> bytes;
    for (int pass = 0; pass < 3; ++pass) {
        for (int c = 0; c < 256; ++c) {
            bytes.push_back(static_cast<uint8_t>(pass == 1 ? 255 - c : c));
        }
    }
    return bytes;
}

// Mostly small values, geometrically distributed, with every value turning up now and then:
// escapes keep arriving long after the first rebuilds.
std::vector<uint8_t> Skewed() {
    std::mt19937_64 generator(7);
    std::vector<uint8_t> bytes(300000);
    for (uint8_t& byte : bytes) {
        const uint64_t r = generator();
        byte = (r & 15) == 0 ? static_cast<uint8_t>(r >> 56)
                             : static_cast<uint8_t>(__builtin_ctzll((r >> 4) | (1ull << 40)));
    }
    return bytes;
}

std::vector<uint8_t> Uniform() {
    std::mt19937_64 generator(11);
    std::vector<uint8_t> bytes(100000);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator() >> 32);
    return bytes;
}

const GeneratedCase kGeneratedCases[] = {
    {"empty", [] { return std::vector<uint8_t>(); }},
    {"one byte", [] { return FromText("Q"); }},
    {"every byte value, up, down, up", AllByteValues},
    // The root reaches RebuildLimit again and again with a single byte in the tree.
    {"one value 100000 times", [] { return std::vector<uint8_t>(100000, 'x'); }},
    // The 32767th byte is new: its leaf has weight 0 when the rebuild halves it.
    {"new byte in the rebuilding update",
     [] {
         std::vector<uint8_t> bytes(32766, 'a');
         bytes.push_back('b');
         bytes.insert(bytes.end(), 5000, 'c');
         return bytes;
     }},
    {"skewed 300000", Skewed},
    {"uniform 100000", Uniform},
};

}  // namespace

void CheckWorkedExample(const std::string& directory, std::vector<std::string>& failures) {
    struct CodedCase {
        const char* coded;
        const char* plain;
        const char* why;
    };
    const CodedCase kCases[] = {
        {"b0 8c 48", "ab", "escape a, escape b, end"},
        {"b0 c0", "a", "escape a, end behind the swapped internal node"},
        {"00", "", "a first bit 0 ends the member"},
    };

    InstallerImage image(BenchHeader(3));
    std::vector<std::vector<uint8_t>> plains;
    for (const CodedCase& c : kCases) {
        const std::string what = std::string("worked example '") + c.plain + "' (" + c.why + ")";
        const std::vector<uint8_t> plain = FromText(c.plain);
        const std::vector<uint8_t> coded = FromHex(c.coded);

        VectorSink baselineOut;
        baseline::Encoder encoder(baselineOut);
        encoder.BeginMember();
        encoder.Put(plain.data(), plain.size());
        encoder.EndMember();
        CompareBytes(what + ", baseline encoder", coded, baselineOut.bytes, failures);

        VectorSink coreOut;
        EncodeMember(plain.data(), plain.size(), coreOut);
        CompareBytes(what + ", core encoder", coded, coreOut.bytes, failures);

        plains.push_back(plain);
        image.AddRecord(("worked" + std::to_string(plains.size()) + ".txt").c_str(),
                        static_cast<uint32_t>(plain.size()), 0, 0, 0);
        image.Write(coded.data(), coded.size());
    }
    image.AddEndMark();

    // The tree after "ab": weight, parent, leaf flag, child.
    const HuffmanNode kAfterAb[] = {
        {4, -1, 0, 1},
        {2, 0, 0, 3},
        {2, 0, 0, 5},
        {1, 1, 1, Escape},
        {1, 1, 1, EndOfStream},
        {1, 2, 1, 'a'},
        {1, 2, 1, 'b'},
    };
    VectorSink unused;
    baseline::Encoder encoder(unused);
    encoder.BeginMember();
    encoder.Put(reinterpret_cast<const uint8_t*>("ab"), 2);
    const baseline::Model& model = encoder.CurrentModel();
    bool same = model.nextFreeNode == 7;
    for (int i = 0; same && i < 7; ++i) {
        same = std::memcmp(&model.nodes[i], &kAfterAb[i], sizeof(HuffmanNode)) == 0;
    }
    if (!same) failures.push_back("worked example 'ab': the baseline's tree is not as expected");

    std::vector<MemberInput> members;
    for (size_t i = 0; i < plains.size(); ++i) {
        members.push_back({"worked" + std::to_string(i + 1) + ".txt", plains[i].data(),
                           plains[i].size()});
    }
    std::string error;
    const std::string imageDir = directory + "/worked";
    if (!MakeDirectory(imageDir, failures)) return;
    if (!image.WriteVolumes(imageDir, 4096, error)) {
        failures.push_back(error);
        return;
    }
    CheckBothDecoders("worked examples", members, image, imageDir + "/install", failures);
}

void CheckGeneratedMembers(const std::string& directory, std::vector<std::string>& failures) {
    std::vector<std::vector<uint8_t>> inputs;
    std::vector<MemberInput> members;
    uint32_t total = 0;
    for (const GeneratedCase& c : kGeneratedCases) {
        inputs.push_back(c.make());
        const std::vector<uint8_t>& input = inputs.back();
        total += static_cast<uint32_t>(input.size());

        VectorSink baselineOut;
        baseline::Encoder baselineEncoder(baselineOut);
        baselineEncoder.BeginMember();
        baselineEncoder.Put(input.data(), input.size());

        VectorSink coreOut;
        HuffmanEncoder coreEncoder(coreOut);
        coreEncoder.BeginMember();
        coreEncoder.Put(input.data(), input.size());
        CompareModels(c.name, baselineEncoder.CurrentModel(), coreEncoder.Model(), failures);

        baselineEncoder.EndMember();
        coreEncoder.EndMember();
        CompareBytes(std::string(c.name) + ", core encoder against the baseline", baselineOut.bytes,
                     coreOut.bytes, failures);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        members.push_back(
            {"case" + std::to_string(i) + ".bin", inputs[i].data(), inputs[i].size()});
    }

    InstallerImage image(BenchHeader(total));
    EncodeIntoImage(members, image);
    // A small stub keeps the archive in volume 0; a large one puts the volume boundary in the
    // middle of the members' bit streams.
    const size_t stubSizes[] = {4096, VolumeSpan - TrailerSize - 2 - image.Stream().size() / 2};
    for (size_t stubSize : stubSizes) {
        const std::string imageDir = directory + "/generated-" + std::to_string(stubSize);
        std::string error;
        if (!MakeDirectory(imageDir, failures)) continue;
        if (!image.WriteVolumes(imageDir, stubSize, error)) {
            failures.push_back(error);
            continue;
        }
        CheckBothDecoders("generated members, stub of " + std::to_string(stubSize) + " bytes",
                          members, image, imageDir + "/install", failures);
    }
}

void CheckCorpus(const Corpus& corpus, const std::vector<MemberInput>& members,
                 const InstallerImage& image, const std::string& directory,
                 std::vector<std::string>& failures) {
    VectorSink baselineOut;
    VectorSink coreOut;
    EncodeWithBaseline(members, baselineOut);
    EncodeWithCore(members, coreOut);
    CompareBytes(corpus.name + " corpus, core encoder against the baseline", baselineOut.bytes,
                 coreOut.bytes, failures);
    CheckBothDecoders(corpus.name + " corpus", members, image, directory + "/install", failures);
}

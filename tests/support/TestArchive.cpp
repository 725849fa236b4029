#include "TestArchive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "Crc32.h"
#include "HuffmanEncoder.h"
#include "TempDir.h"
#include "VolumeStream.h"

namespace {

void SetText(char* field, const char* text) {
    std::memset(field, 0, HeaderFieldSize);
    std::strncpy(field, text, HeaderFieldSize - 1);
}

void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

TestArchive::TestArchive() : header{} {
    SetText(header.programName, "Test Program");
    SetText(header.caption, "Test Program Setup");
    SetText(header.subtitle, "Installs the test program");
    SetText(header.defaultDir, "C:\\TESTPROG");
    SetText(header.versionText, "1.0");
    SetText(header.exeName, "TEST.EXE");
}

TestMember& TestArchive::Add(const std::string& name, const std::vector<uint8_t>& data) {
    TestMember member;
    member.name = name;
    member.data = data;
    member.creationTime = DefaultCreationTime;
    member.lastAccessTime = DefaultLastAccessTime;
    member.lastWriteTime = DefaultLastWriteTime;
    members.push_back(member);
    return members.back();
}

TestMember& TestArchive::Add(const std::string& name, const std::string& text) {
    return Add(name, BytesOf(text));
}

uint32_t TestArchive::TotalSize() const {
    uint32_t total = 0;
    for (const auto& member : members) total += member.RecordedSize();
    return total;
}

std::vector<uint8_t> TestArchive::Stream(StreamLayout* layout) const {
    SetupHeader stored = header;
    if (!keepTotalSize) stored.totalSize = TotalSize();
    std::vector<uint8_t> out(SetupHeaderSize);
    SerializeSetupHeader(stored, out.data());
    if (layout) *layout = StreamLayout{};

    for (const auto& member : members) {
        StreamLayout::Member where{};
        where.record = out.size();
        out.insert(out.end(), member.name.begin(), member.name.end());
        out.push_back(0x00);
        where.fields = out.size();
        PutLittleEndian(out, member.RecordedSize(), 4);
        PutLittleEndian(out, member.creationTime, 8);
        PutLittleEndian(out, member.lastAccessTime, 8);
        PutLittleEndian(out, member.lastWriteTime, 8);
        where.data = out.size();
        const std::vector<uint8_t> bits = member.stream ? *member.stream : Encode(member.data);
        out.insert(out.end(), bits.begin(), bits.end());
        where.end = out.size();
        if (layout) layout->members.push_back(where);
    }
    out.insert(out.end(), trailingBytes.begin(), trailingBytes.end());
    if (layout) layout->end = out.size();
    if (endMark) {
        out.push_back(0xFF);
        out.push_back(0xFF);
    }
    return out;
}

size_t StubSizeForBoundaryAt(size_t streamOffset) {
    if (streamOffset + 1 >= Volume0DataLimit) throw std::invalid_argument("boundary beyond volume 0");
    return Volume0DataLimit - 1 - streamOffset;
}

InstallerFiles WriteInstaller(const std::string& directory, const std::vector<uint8_t>& stream,
                              const VolumeLayout& layout) {
    InstallerFiles files;
    files.exePath = JoinPath(directory, layout.exeName);
    files.baseName = JoinPath(directory, layout.baseName);
    files.offset = static_cast<int32_t>(layout.stubSize + 1);
    if (layout.stubSize + 1 > Volume0DataLimit) throw std::invalid_argument("stub too large");

    // The share of each file: volume 0 up to Volume0DataLimit, then VolumeSpan per volume.
    std::vector<std::vector<uint8_t>> shares;
    const size_t firstShare = Volume0DataLimit - files.offset;
    size_t taken = std::min(stream.size(), firstShare);
    shares.emplace_back(stream.begin(), stream.begin() + taken);
    while (taken < stream.size()) {
        const size_t count = std::min<size_t>(stream.size() - taken, VolumeSpan);
        shares.emplace_back(stream.begin() + taken, stream.begin() + taken + count);
        taken += count;
    }
    if (layout.truncateLastVolume > shares.back().size())
        throw std::invalid_argument("truncation longer than the last volume's share");
    shares.back().resize(shares.back().size() - layout.truncateLastVolume);

    std::vector<uint8_t> volume0;
    volume0.reserve(files.offset + shares[0].size() + layout.volume0Padding + TrailerSize);
    volume0.push_back('M');
    volume0.push_back('Z');
    while (volume0.size() < layout.stubSize)
        volume0.push_back(static_cast<uint8_t>((volume0.size() * 37 + 11) & 0x7F));
    volume0.resize(layout.stubSize);
    volume0.push_back(0xFF);
    volume0.insert(volume0.end(), shares[0].begin(), shares[0].end());
    volume0.insert(volume0.end(), layout.volume0Padding, 0xEE);
    PutLittleEndian(volume0, static_cast<uint32_t>(files.offset), TrailerSize);
    WriteWholeFile(files.exePath, volume0);
    files.volumes.push_back(files.exePath);

    for (size_t k = 1; k < shares.size(); ++k) {
        files.volumes.push_back(VolumePath(files, static_cast<int>(k)));
        WriteWholeFile(files.volumes.back(), shares[k]);
    }
    return files;
}

std::string VolumePath(const InstallerFiles& files, int k) {
    return files.baseName + std::to_string(k) + ".DAT";
}

std::unique_ptr<VolumeStream> OpenInstaller(Host& host, const InstallerFiles& files) {
    auto stream = std::make_unique<VolumeStream>(host);
    if (!stream->OpenVolumeSet(files.baseName.c_str(), files.exePath.c_str())) return nullptr;
    if (!stream->PositionAtArchive()) return nullptr;
    return stream;
}

void ReadHeader(VolumeStream& stream, SetupHeader* header) {
    unsigned char bytes[SetupHeaderSize];
    stream.ReadBytes(bytes, SetupHeaderSize);
    ParseSetupHeader(bytes, header);
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& data) {
    VectorSink sink;
    if (!EncodeMember(data.data(), data.size(), sink)) throw std::runtime_error("encoder failed");
    return sink.bytes;
}

IntegrityTable IntegrityTableFor(const TestArchive& archive, const std::vector<uint8_t>& stream,
                                 const StreamLayout& layout) {
    IntegrityTable table;
    table.headerCrc = Crc32(0, stream.data(), SetupHeaderSize);
    for (size_t i = 0; i < archive.members.size(); ++i) {
        const auto& part = layout.members[i];
        IntegrityEntry entry;
        entry.recordOffset = part.record;
        entry.recordCrc = Crc32(0, stream.data() + part.record, part.data - part.record);
        entry.dataCrc = Crc32(0, archive.members[i].data.data(), archive.members[i].data.size());
        entry.size = archive.members[i].RecordedSize();
        table.entries.push_back(entry);
    }
    return table;
}

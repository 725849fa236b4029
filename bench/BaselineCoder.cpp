#include "BaselineCoder.h"

#include <cstring>

#include "MemberRecord.h"
#include "SetupHeader.h"
#include "VolumeStream.h"

namespace baseline {

void InitializeModel(Model& model) {
    model.nodes[0] = {2, -1, 0, 1};
    model.nodes[1] = {1, 0, 1, EndOfStream};
    model.nodes[2] = {1, 0, 1, Escape};
    model.leaf[EndOfStream] = 1;
    model.leaf[Escape] = 2;
    model.nextFreeNode = 3;
    for (int s = 0; s < 256; ++s) model.leaf[s] = -1;
}

void UpdateModel(Model& model, int c) {
    if (model.nodes[0].weight == RebuildLimit) RebuildTree(model);
    int n = model.leaf[c];
    while (n != -1) {
        const uint32_t w = ++model.nodes[n].weight;
        int t = n;
        while (t > 0 && model.nodes[t - 1].weight < w) --t;
        if (t != n) {
            SwapNodes(model, n, t);
            n = t;
        }
        n = model.nodes[n].parent;
    }
}

void RebuildTree(Model& model) {
    HuffmanNode* nodes = model.nodes;
    const int last = model.nextFreeNode - 1;

    int j = last;
    for (int i = last; i >= 0; --i) {
        if (nodes[i].childIsLeaf) {
            nodes[j] = nodes[i];
            nodes[j].weight = (nodes[j].weight + 1) / 2;
            --j;
        }
    }

    for (int i = last - 1; j >= 0; i -= 2, --j) {
        const uint32_t w = nodes[i].weight + nodes[i + 1].weight;
        nodes[j].weight = w;
        nodes[j].childIsLeaf = 0;
        int k = j + 1;
        while (w < nodes[k].weight) ++k;
        --k;
        std::memmove(&nodes[j], &nodes[j + 1], static_cast<size_t>(k - j) * sizeof(HuffmanNode));
        nodes[k].weight = w;
        nodes[k].child = i;
        nodes[k].childIsLeaf = 0;
    }

    for (int i = last; i >= 0; --i) {
        if (nodes[i].childIsLeaf) {
            model.leaf[nodes[i].child] = i;
        } else {
            nodes[nodes[i].child].parent = i;
            nodes[nodes[i].child + 1].parent = i;
        }
    }
}

void SwapNodes(Model& model, int i, int j) {
    HuffmanNode* nodes = model.nodes;
    if (nodes[i].childIsLeaf) {
        model.leaf[nodes[i].child] = j;
    } else {
        nodes[nodes[i].child].parent = j;
        nodes[nodes[i].child + 1].parent = j;
    }
    if (nodes[j].childIsLeaf) {
        model.leaf[nodes[j].child] = i;
    } else {
        nodes[nodes[j].child].parent = i;
        nodes[nodes[j].child + 1].parent = i;
    }
    const HuffmanNode saved = nodes[i];
    nodes[i] = nodes[j];
    nodes[j] = saved;
    const int32_t parent = nodes[i].parent;
    nodes[i].parent = nodes[j].parent;
    nodes[j].parent = parent;
}

bool AddNode(Model& model, int c) {
    if (model.leaf[c] != -1 || model.nextFreeNode + 2 > NodeCount) return false;
    const int l = model.nextFreeNode - 1;
    const int n = model.nextFreeNode;
    const int z = model.nextFreeNode + 1;
    model.nextFreeNode += 2;

    model.nodes[n] = model.nodes[l];
    model.nodes[n].parent = l;
    model.leaf[model.nodes[n].child] = n;

    model.nodes[l].child = n;
    model.nodes[l].childIsLeaf = 0;

    model.nodes[z] = {0, l, 1, c};
    model.leaf[c] = z;
    return true;
}

bool Reader::Open(const char* base, const char* firstVolume) {
    Close();
    baseName = base;
    firstVolumeName = firstVolume;
    volume = 0;
    position = 0;
    ended = false;
    next = filled = end = buffer;
    AlignToByte();
    file = std::fopen(firstVolume, "rb");
    return file != nullptr;
}

bool Reader::PositionAtArchive() {
    if (file == nullptr || std::fseek(file, -TrailerSize, SEEK_END) != 0) return false;
    const long trailerOffset = std::ftell(file);
    unsigned char trailer[TrailerSize];
    if (std::fread(trailer, 1, TrailerSize, file) != TrailerSize) return false;
    const int32_t offset = static_cast<int32_t>(uint32_t(trailer[0]) | uint32_t(trailer[1]) << 8 |
                                                uint32_t(trailer[2]) << 16 |
                                                uint32_t(trailer[3]) << 24);
    if (offset < 1 || offset > trailerOffset) return false;
    position = offset + TrailerSize;
    dataLeft = trailerOffset - offset;  // the trailer is not data
    next = filled = end = buffer;
    return std::fseek(file, offset, SEEK_SET) == 0;
}

void Reader::Close() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
}

void Reader::SelectVolume() {
    const int32_t v = position / VolumeSpan;
    if (v == volume) return;
    Close();
    volume = v;
    const std::string name = baseName + std::to_string(volume) + ".DAT";
    file = std::fopen(name.c_str(), "rb");
    dataLeft = INT64_MAX;
    next = filled = end = buffer;
}

// The fast path stops at the end of the buffered bytes or before the read that reaches the next
// volume, whichever comes first.
void Reader::SetEnd() {
    const int64_t toBoundary = (int64_t(volume) + 1) * VolumeSpan - 1 - position;
    end = filled - next > toBoundary ? next + toBoundary : filled;
}

int Reader::ReadByteSlow() {
    ++position;
    SelectVolume();
    if (next == filled) {
        const size_t want = dataLeft < int64_t(sizeof buffer) ? size_t(dataLeft) : sizeof buffer;
        const size_t got = file != nullptr && want > 0 ? std::fread(buffer, 1, want, file) : 0;
        dataLeft -= static_cast<int64_t>(got);
        next = buffer;
        filled = buffer + got;
        if (got == 0) {
            ended = true;
            end = next;
            return -1;
        }
    }
    const int byte = *next++;
    SetEnd();
    return byte;
}

void Reader::ReadBytes(void* destination, int count) {
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(ReadByte());
}

int Reader::ReadBit() {
    if (mask == 0x80) rack = ReadByte();
    const int bit = (rack & mask) != 0;
    mask >>= 1;
    if (mask == 0) mask = 0x80;
    return bit;
}

uint32_t Reader::ReadBits(int count) {
    uint32_t result = 0;
    for (uint32_t m = 1u << (count - 1); m != 0; m >>= 1) {
        if (ReadBit()) result |= m;
    }
    return result;
}

int DecodeSymbol(Model& model, Reader& reader) {
    int n = 0;
    while (!model.nodes[n].childIsLeaf) n = model.nodes[n].child + reader.ReadBit();
    int c = model.nodes[n].child;
    if (c == Escape) {
        c = static_cast<int>(reader.ReadBits(8));
        if (!AddNode(model, c)) return -1;
    }
    return c;
}

int64_t DecodeMember(Model& model, Reader& reader, ByteSink& output) {
    InitializeModel(model);
    uint8_t buffer[1 << 16];
    size_t used = 0;
    for (int64_t length = 0;; ++length) {
        const int c = DecodeSymbol(model, reader);
        // Past the end every bit reads as 1, which can name the same byte forever.
        if (c < 0 || reader.BitsPastEnd() || c == EndOfStream) {
            output.Write(buffer, used);
            return c == EndOfStream && !reader.BitsPastEnd() ? length : -1;
        }
        buffer[used++] = static_cast<uint8_t>(c);
        if (used == sizeof buffer) {
            output.Write(buffer, used);
            used = 0;
        }
        UpdateModel(model, c);
    }
}

bool DecodeArchive(const char* baseName, const char* firstVolumeName, ByteSink& output,
                   ArchiveTotals& totals) {
    Reader reader;
    if (!reader.Open(baseName, firstVolumeName) || !reader.PositionAtArchive()) return false;
    unsigned char header[SetupHeaderSize];
    reader.ReadBytes(header, SetupHeaderSize);

    Model model;
    while (!reader.AtVolumeEnd()) {
        reader.ReadByte();  // the first name byte, whatever it is
        int c;
        do c = reader.ReadByte();
        while (c != NameTerminator && c != ArchiveEndMark && c != -1);
        if (c != NameTerminator) break;

        unsigned char fields[MemberFieldsSize];
        reader.ReadBytes(fields, MemberFieldsSize);
        ++totals.members;
        const int64_t length = reader.AtVolumeEnd() ? -1 : DecodeMember(model, reader, output);
        if (length < 0) {
            totals.damaged = true;
            return false;
        }
        totals.decodedBytes += static_cast<uint64_t>(length);
        reader.AlignToByte();
    }
    return true;
}

void Encoder::BeginMember() {
    InitializeModel(model);
    mask = 0x80;
    rack = 0;
    sinkFailed = false;
}

void Encoder::Put(const uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const int c = data[i];
        if (model.leaf[c] == -1) {
            PutCode(model.leaf[Escape]);
            for (int m = 0x80; m != 0; m >>= 1) PutBit((c & m) != 0);
            AddNode(model, c);
        } else {
            PutCode(model.leaf[c]);
        }
        UpdateModel(model, c);
    }
}

bool Encoder::EndMember() {
    PutCode(model.leaf[EndOfStream]);
    while (mask != 0x80) PutBit(0);
    Flush();
    return !sinkFailed;
}

void Encoder::Flush() {
    if (used > 0 && !sink.Write(buffer, used)) sinkFailed = true;
    used = 0;
}

void Encoder::PutCode(int node) {
    uint8_t bits[NodeCount];
    int count = 0;
    for (int n = node; n != 0; n = model.nodes[n].parent) {
        bits[count++] = static_cast<uint8_t>(n - model.nodes[model.nodes[n].parent].child);
    }
    while (count > 0) PutBit(bits[--count]);
}

void Encoder::PutBit(int bit) {
    if (bit) rack |= mask;
    mask >>= 1;
    if (mask == 0) {
        buffer[used++] = rack;
        if (used == sizeof buffer) Flush();
        ++bytesOut;
        rack = 0;
        mask = 0x80;
    }
}

}  // namespace baseline

#include "HuffmanEncoder.h"

#include "ByteSink.h"

HuffmanEncoder::HuffmanEncoder(ByteSink& sink)
    : sink(sink), model(new HuffmanModel()), buffer(new uint8_t[BufferSize]) {}

HuffmanEncoder::~HuffmanEncoder() = default;

void HuffmanEncoder::BeginMember() {
    InitializeModel(*model);
    accumulator = 0;
    pendingBits = 0;
    sinkFailed = false;
}

// count <= 32. Fewer than 32 bits stay pending between calls, so the accumulator holds every bit
// not yet written; bits above them are left over from earlier words and never read.
inline void HuffmanEncoder::PutBits(uint64_t bits, int count) {
    accumulator = (accumulator << count) | bits;
    pendingBits += count;
    if (pendingBits >= 32) {
        pendingBits -= 32;
        const uint32_t word = static_cast<uint32_t>(accumulator >> pendingBits);
        uint8_t* out = buffer.get() + used;
        out[0] = static_cast<uint8_t>(word >> 24);
        out[1] = static_cast<uint8_t>(word >> 16);
        out[2] = static_cast<uint8_t>(word >> 8);
        out[3] = static_cast<uint8_t>(word);
        used += 4;
        if (used > BufferSize - 4) FlushBuffer();
    }
}

// The code bit of node n > 0: siblings sit at odd, odd + 1, and the first of them is bit 0.
static inline uint64_t CodeBit(int n) { return static_cast<uint64_t>(~n & 1); }

// The code of a node is the path from the root to it: walk up collecting the bits, the root's
// last, then send them root first.
void HuffmanEncoder::PutSymbolCode(int node) {
    const int32_t* parent = model->parent;
    uint64_t code = 0;
    int length = 0;
    for (int n = node; n != 0; n = parent[n], ++length) {
        if (length < 64) code |= CodeBit(n) << length;
    }
    SendCode(code, length, node);
}

// Codes byte c and updates the model in the same walk up. While every node on the way leads its
// block of equal weights, the update only counts it, and counting a node changes nothing the
// code of its ancestors depends on. At the first node that has to move, the rest of the code is
// collected from the tree as it stands and the update proper takes over from that node.
void HuffmanEncoder::PutByteCode(int c) {
    HuffmanModel& m = *model;
    const int leaf = m.leaf[c];
    if (m.weight[0] == RebuildLimit) {
        PutSymbolCode(leaf);
        UpdateModel(m, c);
        return;
    }
    const uint32_t* weight = m.weight;
    const int32_t* parent = m.parent;
    uint64_t code = 0;
    int length = 0;
    int n = leaf;
    for (; n != 0; n = parent[n], ++length) {
        if (weight[n - 1] == weight[n]) break;
        CountLeader(m, n);
        if (length < 64) code |= CodeBit(n) << length;
    }
    if (n == 0) {
        ++m.weight[0];
        SendCode(code, length, leaf);
        return;
    }
    const int moving = n;
    for (; n != 0; n = parent[n], ++length) {
        if (length < 64) code |= CodeBit(n) << length;
    }
    SendCode(code, length, leaf);
    UpdateModelFrom(m, moving);
}

void HuffmanEncoder::SendCode(uint64_t code, int length, int node) {
    if (length <= 32) {
        PutBits(code, length);
        return;
    }
    if (length <= 64) {
        PutBits(code >> 32, length - 32);
        PutBits(code & 0xFFFFFFFFu, 32);
        return;
    }
    // Deeper than trees of weights below RebuildLimit grow; sent bit by bit from the root.
    const int32_t* parent = model->parent;
    for (int bit = length - 1; bit >= 0; --bit) {
        int n = node;
        for (int up = 0; up < bit; ++up) n = parent[n];
        PutBits(CodeBit(n), 1);
    }
}

void HuffmanEncoder::Put(const uint8_t* data, size_t count) {
    HuffmanModel& m = *model;
    for (size_t i = 0; i < count; ++i) {
        const int c = data[i];
        if (m.leaf[c] == -1) {
            PutSymbolCode(m.leaf[Escape]);
            PutBits(static_cast<uint64_t>(c), 8);
            AddNode(m, c);
            UpdateModel(m, c);
        } else {
            PutByteCode(c);
        }
    }
}

bool HuffmanEncoder::EndMember() {
    PutSymbolCode(model->leaf[EndOfStream]);
    // Pad to the byte, then write the whole bytes still pending (at most 3 of them).
    if (pendingBits % 8 != 0) PutBits(0, 8 - pendingBits % 8);
    while (pendingBits > 0) {
        pendingBits -= 8;
        buffer[used++] = static_cast<uint8_t>(accumulator >> pendingBits);
    }
    FlushBuffer();
    return !sinkFailed;
}

void HuffmanEncoder::FlushBuffer() {
    if (used == 0) return;
    if (!sinkFailed && !sink.Write(buffer.get(), used)) sinkFailed = true;
    bytesOut += used;
    used = 0;
}

bool EncodeMember(const uint8_t* data, size_t count, ByteSink& sink) {
    HuffmanEncoder encoder(sink);
    encoder.BeginMember();
    encoder.Put(data, count);
    return encoder.EndMember();
}

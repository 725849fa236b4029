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

// count <= 56: after every call fewer than 8 bits stay pending, so the accumulator never overflows.
void HuffmanEncoder::PutBits(uint64_t bits, int count) {
    accumulator = (accumulator << count) | bits;
    pendingBits += count;
    while (pendingBits >= 8) {
        pendingBits -= 8;
        buffer[used++] = static_cast<uint8_t>(accumulator >> pendingBits);
        if (used == BufferSize) FlushBuffer();
    }
    accumulator &= (uint64_t(1) << pendingBits) - 1;
}

// The code of a node is the path from the root to it: walk up collecting the bits, the root's
// last, then send them root first.
void HuffmanEncoder::PutSymbolCode(int node) {
    const HuffmanNode* nodes = model->nodes;
    uint64_t code = 0;
    int length = 0;
    for (int n = node; n != 0; n = nodes[n].parent) CollectBit(code, length, n);
    SendCode(code, length, node);
}

// Codes byte c and updates the model in the same walk up. While every node on the way leads its
// block of equal weights, the update only counts it, and counting a node changes nothing the
// code of its ancestors depends on. At the first node that has to move, the rest of the code is
// collected from the tree as it stands and the update proper takes over from that node.
void HuffmanEncoder::PutByteCode(int c) {
    HuffmanNode* nodes = model->nodes;
    const int leaf = model->leaf[c];
    if (nodes[0].weight == RebuildLimit) {
        PutSymbolCode(leaf);
        UpdateModel(*model, c);
        return;
    }
    uint64_t code = 0;
    int length = 0;
    int n = leaf;
    for (;;) {
        const uint32_t w = nodes[n].weight;
        if (n > 0 && nodes[n - 1].weight == w) break;
        nodes[n].weight = w + 1;
        if (n == 0) {
            SendCode(code, length, leaf);
            return;
        }
        CollectBit(code, length, n);
        n = nodes[n].parent;
    }
    const int moving = n;
    for (; n != 0; n = nodes[n].parent) CollectBit(code, length, n);
    SendCode(code, length, leaf);
    UpdateModelFrom(*model, moving);
}

void HuffmanEncoder::CollectBit(uint64_t& code, int& length, int n) {
    if (length < 56) code |= uint64_t(n - model->nodes[model->nodes[n].parent].child) << length;
    ++length;
}

void HuffmanEncoder::SendCode(uint64_t code, int length, int node) {
    if (length <= 56) {
        PutBits(code, length);
        return;
    }
    // Deeper than trees of weights below RebuildLimit grow; sent bit by bit from the root.
    const HuffmanNode* nodes = model->nodes;
    for (int bit = length - 1; bit >= 0; --bit) {
        int n = node;
        for (int up = 0; up < bit; ++up) n = nodes[n].parent;
        PutBits(static_cast<uint64_t>(n - nodes[nodes[n].parent].child), 1);
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
    if (pendingBits > 0) PutBits(0, 8 - pendingBits);
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

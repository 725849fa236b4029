#include "HuffmanEncoder.h"

#include "ByteSink.h"

HuffmanEncoder::HuffmanEncoder(ByteSink& sink)
    : sink(sink), model(new HuffmanModel), buffer(new uint8_t[BufferSize]) {}

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
    for (int n = node; n != 0 && length < 56; ++length) {
        const int parent = nodes[n].parent;
        code |= uint64_t(n - nodes[parent].child) << length;
        n = parent;
    }
    if (length < 56 || node == 0) {
        PutBits(code, length);
        return;
    }
    // Deeper than any tree weights below RebuildLimit allow; kept for completeness.
    uint8_t path[NodeCount];
    int depth = 0;
    for (int n = node; n != 0; n = nodes[n].parent) path[depth++] = uint8_t(n - nodes[nodes[n].parent].child);
    while (depth > 0) PutBits(path[--depth], 1);
}

void HuffmanEncoder::Put(const uint8_t* data, size_t count) {
    HuffmanModel& m = *model;
    for (size_t i = 0; i < count; ++i) {
        const int c = data[i];
        const int n = m.leaf[c];
        if (n == -1) {
            PutSymbolCode(m.leaf[Escape]);
            PutBits(static_cast<uint64_t>(c), 8);
            AddNode(m, c);
        } else {
            PutSymbolCode(n);
        }
        UpdateModel(m, c);
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

#include "HuffmanDecoder.h"

#include "MemberOutput.h"
#include "VolumeStream.h"

int DecodeSymbol(HuffmanModel& model, VolumeStream& stream) {
    const HuffmanNode* nodes = model.nodes;
    int n = 0;
    while (!nodes[n].childIsLeaf) n = nodes[n].child + stream.ReadBit();
    int c = nodes[n].child;
    if (c == Escape) {
        c = static_cast<int>(stream.ReadBits(8));
        // A coder never escapes a byte the tree holds; such an Escape would overrun the nodes.
        if (!AddNode(model, c)) return -1;
    }
    return c;
}

namespace {

// Bit input kept in locals for the decoding loop; the same bits VolumeStream::ReadBit gives.
struct BitInput {
    explicit BitInput(VolumeStream& stream) : stream(stream), rack(stream.rack), mask(stream.mask) {}
    ~BitInput() {
        stream.rack = rack;
        stream.mask = static_cast<uint8_t>(mask);
    }
    int Bit() {
        if (mask == 0x80) rack = stream.ReadByte();
        const int bit = (rack & mask) != 0;
        mask = mask >> 1 ? mask >> 1 : 0x80;
        return bit;
    }
    VolumeStream& stream;
    int32_t rack;
    unsigned mask;
};

}  // namespace

// The update that follows a byte counts every node on its path, from the leaf up, and moves a
// node only where its predecessor has its weight. The walk down notes the deepest such node, so
// afterwards the nodes below it are only counted, with no parent links to chase, and the update
// proper runs from it. Counting a node never changes what is noted about its ancestors: a node's
// predecessor is never one of its descendants.
DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output) {
    InitializeModel(model);
    HuffmanNode* nodes = model.nodes;
    BitInput in(stream);
    int32_t path[NodeCount];

    for (;;) {
        int depth = 0;
        int moving = -1;
        int n = 0;
        for (;;) {
            path[depth] = n;
            if (n > 0 && nodes[n - 1].weight == nodes[n].weight) moving = depth;
            if (nodes[n].childIsLeaf) break;
            n = nodes[n].child + in.Bit();
            ++depth;
        }
        int c = nodes[n].child;
        const bool escaped = c == Escape;
        if (escaped) {
            c = 0;
            for (int i = 0; i < 8; ++i) c = c << 1 | in.Bit();
        }
        // Past the end of the data every bit reads as 1, which a grown tree can turn into the
        // same byte forever: a symbol that used such a bit ends the member as damaged.
        if (in.rack < 0) return stream.Stopped() ? DecodeStatus::Stopped : DecodeStatus::Damaged;
        if (c == EndOfStream) return DecodeStatus::Complete;

        if (escaped) {
            // A coder never escapes a byte the tree holds; such an Escape would overrun the nodes.
            if (!AddNode(model, c)) return DecodeStatus::Damaged;
            UpdateModel(model, c);
        } else if (nodes[0].weight == RebuildLimit) {
            UpdateModel(model, c);  // rebuilds first, so the path no longer holds
        } else {
            for (int j = depth; j > moving; --j) ++nodes[path[j]].weight;
            if (moving >= 0) UpdateModelFrom(model, path[moving]);
        }
        if (!output.Put(static_cast<uint8_t>(c))) return DecodeStatus::Stopped;
    }
}

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

DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output) {
    InitializeModel(model);
    for (;;) {
        const int c = DecodeSymbol(model, stream);
        // Past the end of the data every bit reads as 1, which a grown tree can turn into the
        // same byte forever: a symbol that used such a bit ends the member as damaged.
        if (stream.BitsPastEnd()) return stream.Stopped() ? DecodeStatus::Stopped : DecodeStatus::Damaged;
        if (c < 0) return DecodeStatus::Damaged;
        if (c == EndOfStream) return DecodeStatus::Complete;
        const bool goOn = output.Put(static_cast<uint8_t>(c));
        UpdateModel(model, c);
        if (!goOn) return DecodeStatus::Stopped;
    }
}

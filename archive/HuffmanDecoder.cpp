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

// Bit input as VolumeStream::ReadBit gives it, kept in locals: a byte is fetched when its first
// bit is needed, and past the end of the data every bit reads as 1.
struct StreamBits {
    explicit StreamBits(VolumeStream& stream) : stream(stream), rack(stream.rack), mask(stream.mask) {}
    void Save() {
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

// Bits read straight from the stream's buffer, from a byte boundary, where enough bytes are known
// to be there for a whole symbol and 8 more: no fetch to check for per bit. The next bits wait at
// the top of a 64-bit window, refilled every 57 bits or so.
struct BufferBits {
    BufferBits(const unsigned char* bytes) : bytes(bytes) { Refill(); }
    int Bit() {
        if (left == 0) Refill();
        const int bit = static_cast<int>(window >> 63);
        window <<= 1;
        --left;
        ++position;
        return bit;
    }
    void Refill() {
        const unsigned char* p = bytes + (position >> 3);
        uint64_t w = 0;
        for (int i = 0; i < 8; ++i) w = w << 8 | p[i];
        window = w << (position & 7);
        left = 64 - static_cast<int>(position & 7);
    }
    const unsigned char* bytes;
    size_t position = 0;  // in bits
    uint64_t window = 0;
    int left = 0;
};

// The longest code: a tree over 258 symbols is at most 257 deep, and an Escape adds 8 bits; the
// window reads 8 bytes ahead.
constexpr size_t LongestSymbolBytes = (257 + 8 + 7) / 8 + 8;

struct Symbol {
    int c;            // a byte, EndOfStream, or an escaped byte
    bool escaped;
    int depth;        // path[0..depth] leads from the root to the symbol's leaf
    int moving;       // the deepest node on the path that leads no block of equal weights, or -1
};

// Walks one code down the tree, remembering the path for the update that follows. The update
// counts every node on the path from the leaf up, and moves a node only where its predecessor
// has its weight; the walk notes the deepest such node, so the nodes below it need only be
// counted. Counting a node never changes what is noted about its ancestors: a node's
// predecessor is never one of its descendants.
template <class Bits>
inline Symbol WalkSymbol(const HuffmanNode* nodes, Bits& bits, int32_t* path) {
    // The root is always internal and leads its block of one.
    Symbol s{0, false, 1, -1};
    path[0] = 0;
    int n = nodes[0].child + bits.Bit();
    for (;;) {
        path[s.depth] = n;
        if (nodes[n - 1].weight == nodes[n].weight) s.moving = s.depth;
        if (nodes[n].childIsLeaf) break;
        n = nodes[n].child + bits.Bit();
        ++s.depth;
    }
    s.c = nodes[n].child;
    if (s.c == Escape) {
        s.escaped = true;
        s.c = 0;
        for (int i = 0; i < 8; ++i) s.c = s.c << 1 | bits.Bit();
    }
    return s;
}

// Counts the decoded byte as UpdateModel would; false for an Escape no coder would send.
inline bool Count(HuffmanModel& model, const Symbol& s, const int32_t* path) {
    if (s.escaped) {
        // Such an Escape would overrun the nodes: the tree holds every byte, or this one already.
        if (!AddNode(model, s.c)) return false;
        UpdateModel(model, s.c);
    } else if (model.nodes[0].weight == RebuildLimit) {
        UpdateModel(model, s.c);  // rebuilds first, so the path no longer holds
    } else {
        for (int j = s.depth; j > s.moving; --j) ++model.nodes[path[j]].weight;
        if (s.moving >= 0) UpdateModelFrom(model, path[s.moving]);
    }
    return true;
}

}  // namespace

DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output) {
    InitializeModel(model);
    StreamBits in(stream);
    int32_t path[NodeCount];

    for (;;) {
        // From a byte boundary with plenty of buffered bytes, decode straight from the buffer, and
        // afterwards leave the stream as the bit reads would have.
        if (in.mask == 0x80 && stream.Contiguous() > LongestSymbolBytes) {
            BufferBits bits(stream.Peek());
            const size_t limit = (stream.Contiguous() - LongestSymbolBytes) * 8;
            DecodeStatus status = DecodeStatus::Complete;
            bool done = false;
            while (bits.position < limit) {
                const Symbol s = WalkSymbol(model.nodes, bits, path);
                if (s.c == EndOfStream) {
                    done = true;
                    break;
                }
                if (!Count(model, s, path)) {
                    status = DecodeStatus::Damaged;
                    done = true;
                    break;
                }
                if (!output.Put(static_cast<uint8_t>(s.c))) {
                    status = DecodeStatus::Stopped;
                    done = true;
                    break;
                }
            }
            const size_t fetched = (bits.position + 7) / 8;
            if (fetched > 0) in.rack = bits.bytes[fetched - 1];
            in.mask = 0x80 >> (bits.position & 7);
            stream.Skip(fetched);
            if (done) {
                in.Save();
                return status;
            }
            continue;
        }

        const Symbol s = WalkSymbol(model.nodes, in, path);
        // Past the end of the data every bit reads as 1, which a grown tree can turn into the
        // same byte forever: a symbol that used such a bit ends the member as damaged.
        DecodeStatus status;
        if (in.rack < 0)
            status = stream.Stopped() ? DecodeStatus::Stopped : DecodeStatus::Damaged;
        else if (s.c == EndOfStream)
            status = DecodeStatus::Complete;
        else if (!Count(model, s, path))
            status = DecodeStatus::Damaged;
        else if (!output.Put(static_cast<uint8_t>(s.c)))
            status = DecodeStatus::Stopped;
        else
            continue;
        in.Save();
        return status;
    }
}

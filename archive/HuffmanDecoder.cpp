#include "HuffmanDecoder.h"

#include <cstring>

#include "MemberOutput.h"
#include "VolumeStream.h"

int DecodeSymbol(HuffmanModel& model, VolumeStream& stream) {
    const int32_t* child = model.child;
    int n = 0;
    int32_t next;
    while ((next = child[n]) >= 0) n = next + stream.ReadBit();
    int c = SymbolOf(next);
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
// to be there for a whole symbol and 8 more: no fetch to check for per bit.
struct BufferBits {
    // The next bits at the top: at least 57 of them are real (the rest are 0).
    uint64_t Window() const {
        uint64_t w;
        std::memcpy(&w, bytes + (position >> 3), sizeof w);
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
        w = __builtin_bswap64(w);
#endif
        return w << (position & 7);
    }

    const unsigned char* bytes;
    size_t position;  // bits taken so far
};

// The longest code: a tree over 258 symbols is at most 257 deep, and an Escape adds 8 bits; the
// window reads 8 bytes ahead.
constexpr size_t LongestSymbolBytes = (257 + 8 + 7) / 8 + 8;

// Levels one window covers, an Escape's 8 bits still fitting behind them. Codes are never this
// long: a tree with the sibling property (weights in order, siblings side by side) is a Huffman
// tree, and a leaf of weight 1 at depth d needs a root weighing at least the (d + 2)th Fibonacci
// number, so below RebuildLimit no leaf lies deeper than 22.
constexpr int WindowLevels = 48;

struct Symbol {
    int c;         // a byte, EndOfStream, or an escaped byte
    bool escaped;
    int depth;     // path[1..depth] leads from the root's child to the symbol's leaf
};

// One level of a walk from the buffer. Entry: next is the first child of an internal node and
// window holds the next bit at the top.
#define GLOB_WALK_LEVEL()                                      \
    do {                                                       \
        const int n = next + static_cast<int>(window >> 63);  \
        window <<= 1;                                          \
        path[++depth] = n;                                     \
        next = child[n];                                       \
    } while (false)

// Walks one code down the tree from the buffer, two levels per step through the walk table,
// remembering the path for the update. Entry: bits.position is below the fast loop's limit and
// the walk table matches the tree.
inline Symbol WalkBuffered(const HuffmanModel& model, BufferBits& bits, int32_t* path) {
    const unsigned char* rows = reinterpret_cast<const unsigned char*>(model.walk);
    uint64_t window = bits.Window();
    int depth = 0;
    uint32_t e = model.walk[0][window >> 62];  // the root is always internal
    while (static_cast<int32_t>(e) >= 0) {
        const uint32_t row = e & 0xFFFF;
        path[depth + 1] = static_cast<int32_t>(e >> 16);
        path[depth + 2] = static_cast<int32_t>(row / WalkRowBytes);
        depth += 2;
        window <<= 2;
        uint32_t next;
        std::memcpy(&next, rows + row + (window >> 62) * sizeof next, sizeof next);
        e = next;
    }
    if (e & WalkOneMore) {
        path[++depth] = static_cast<int32_t>((e >> 16) & 0x3FF);
        window <<= 1;
    }
    Symbol s{static_cast<int>(e & 0x1FF), false, depth};
    if (depth > WindowLevels) {
        // Past the window's real bits; cannot happen (see WindowLevels), but stays exact.
        const int32_t* child = model.child;
        depth = 0;
        int32_t next = child[0];
        do {
            window = bits.Window();
            const int start = depth;
            do GLOB_WALK_LEVEL();
            while (next >= 0 && depth - start < WindowLevels);
            bits.position += static_cast<size_t>(depth - start);
        } while (next >= 0);
        s = Symbol{SymbolOf(next), false, depth};
    } else {
        bits.position += static_cast<size_t>(depth);
    }
    if (s.c == Escape) {
        s.escaped = true;
        s.c = static_cast<int>(window >> 56);
        bits.position += 8;
    }
    return s;
}

#undef GLOB_WALK_LEVEL

// The same walk bit by bit through the stream's reader.
inline Symbol WalkStream(const int32_t* child, StreamBits& bits, int32_t* path) {
    Symbol s{0, false, 0};
    int32_t next = child[0];
    do {
        const int n = next + bits.Bit();
        path[++s.depth] = n;
        next = child[n];
    } while (next >= 0);
    s.c = SymbolOf(next);
    if (s.c == Escape) {
        s.escaped = true;
        s.c = 0;
        for (int i = 0; i < 8; ++i) s.c = s.c << 1 | bits.Bit();
    }
    return s;
}

// Counts the decoded byte as UpdateModel would; false for an Escape no coder would send.
//
// The update counts every node on the path from the leaf up and moves a node only where its
// predecessor has its weight: up to the first such node the path is only counted, with no parent
// links to chase. Counting a node never changes what the test sees at its ancestors: a node's
// predecessor is never one of its descendants.
inline bool Count(HuffmanModel& model, const Symbol& s, const int32_t* path) {
    uint32_t* weight = model.weight;
    if (s.escaped) {
        // Such an Escape would overrun the nodes: the tree holds every byte, or this one already.
        if (!AddNodeWalked(model, s.c)) return false;
        UpdateModelWalked(model, s.c);
    } else if (weight[0] == RebuildLimit) {
        UpdateModelWalked(model, s.c);  // rebuilds first, so the path no longer holds
    } else {
        for (int j = s.depth; j > 0; --j) {
            const int n = path[j];
            const uint32_t w = weight[n];
            if (weight[n - 1] == w) {
                UpdateModelFromWalked(model, n);
                return true;
            }
            weight[n] = w + 1;
        }
        ++weight[0];
    }
    return true;
}

}  // namespace

DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output) {
    InitializeModel(model);
    BuildWalk(model);
    StreamBits in(stream);
    int32_t path[NodeCount];

    for (;;) {
        // From a byte boundary with plenty of buffered bytes, decode straight from the buffer, and
        // afterwards leave the stream as the bit reads would have.
        if (in.mask == 0x80 && stream.Contiguous() > LongestSymbolBytes) {
            BufferBits bits{stream.Peek(), 0};
            const size_t limit = (stream.Contiguous() - LongestSymbolBytes) * 8;
            DecodeStatus status = DecodeStatus::Complete;
            bool done = false;
            while (bits.position < limit) {
                const Symbol s = WalkBuffered(model, bits, path);
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
            const size_t position = bits.position;
            const size_t fetched = (position + 7) / 8;
            if (fetched > 0) in.rack = bits.bytes[fetched - 1];
            in.mask = 0x80 >> (position & 7);
            stream.Skip(fetched);
            if (done) {
                in.Save();
                return status;
            }
            continue;
        }

        const Symbol s = WalkStream(model.child, in, path);
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

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
    int leaf;      // the position of the code's leaf
    int depth;     // and its depth
};

// One level of a walk from the buffer. Entry: next is the first child of an internal node and
// window holds the next bit at the top.
#define GLOB_WALK_LEVEL()                                  \
    do {                                                   \
        n = next + static_cast<int>(window >> 63);         \
        window <<= 1;                                      \
        ++depth;                                           \
        next = child[n];                                   \
    } while (false)

// Decodes one code from the buffer: its first PrefixBits bits through the prefix table, the rest
// level by level. Entry: bits.position is below the fast loop's limit and the prefix table
// matches the tree.
inline Symbol WalkBuffered(const HuffmanModel& model, BufferBits& bits) {
    const int32_t* child = model.child;
    uint64_t window = bits.Window();
    const uint32_t e = model.prefix[window >> (64 - PrefixBits)];
    int n = PrefixPosition(e);
    int depth = PrefixDepth(e);
    int32_t next = child[n];
    if (next >= 0) {
        const uint64_t codeWindow = window;  // kept for an Escape's byte
        window <<= PrefixBits;
        do GLOB_WALK_LEVEL();
        while (next >= 0 && depth < WindowLevels);
        window = codeWindow;
        if (next >= 0) {
            // Past the window's real bits; cannot happen (see WindowLevels), but stays exact.
            depth = 0;
            next = child[0];
            do {
                window = bits.Window();
                const int start = depth;
                do GLOB_WALK_LEVEL();
                while (next >= 0 && depth - start < WindowLevels);
                bits.position += static_cast<size_t>(depth - start);
            } while (next >= 0);
            Symbol s{SymbolOf(next), false, n, depth};
            if (s.c == Escape) {
                s.escaped = true;
                s.c = static_cast<int>(window >> 56);
                bits.position += 8;
            }
            return s;
        }
    }
    Symbol s{SymbolOf(next), false, n, depth};
    bits.position += static_cast<size_t>(depth);
    if (s.c == Escape) {
        s.escaped = true;
        s.c = static_cast<int>((window << depth) >> 56);
        bits.position += 8;
    }
    return s;
}

#undef GLOB_WALK_LEVEL

// The same walk bit by bit through the stream's reader.
inline Symbol WalkStream(const int32_t* child, StreamBits& bits) {
    Symbol s{0, false, 0, 0};
    int32_t next = child[0];
    do {
        s.leaf = next + bits.Bit();
        ++s.depth;
        next = child[s.leaf];
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
// predecessor has its weight: up to the first such node the path is only counted. The loop runs
// down from the leaf's depth, so its end is known at once, not when the chain of parents reaches
// the root. Counting a node never changes what the test sees at its ancestors: a node's
// predecessor is never one of its descendants.
inline bool Count(HuffmanModel& model, const Symbol& s) {
    uint32_t* weight = model.weight;
    if (s.escaped) {
        // Such an Escape would overrun the nodes: the tree holds every byte, or this one already.
        if (!AddNodePrefixed(model, s.c)) return false;
        UpdateModelPrefixed(model, s.c);
    } else if (weight[0] == RebuildLimit) {
        UpdateModelPrefixed(model, s.c);  // rebuilds first
    } else {
        const int32_t* parent = model.parent;
        size_t n = static_cast<uint32_t>(s.leaf);
        for (int levels = s.depth; levels > 0; --levels) {
            const uint32_t w = weight[n];
            if (weight[n - 1] == w) {
                UpdateModelFromPrefixed(model, static_cast<int>(n));
                return true;
            }
            weight[n] = w + 1;
            model.leader[LeaderSlot(w)] = static_cast<uint16_t>(n + 1);
            n = static_cast<uint32_t>(parent[n]);
        }
        ++weight[0];
    }
    return true;
}

}  // namespace

DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output) {
    InitializeModel(model);
    BuildPrefixTable(model);
    StreamBits in(stream);

    for (;;) {
        // From a byte boundary with plenty of buffered bytes, decode straight from the buffer, and
        // afterwards leave the stream as the bit reads would have.
        if (in.mask == 0x80 && stream.Contiguous() > LongestSymbolBytes) {
            BufferBits bits{stream.Peek(), 0};
            const size_t limit = (stream.Contiguous() - LongestSymbolBytes) * 8;
            DecodeStatus status = DecodeStatus::Complete;
            bool done = false;
            while (bits.position < limit) {
                const Symbol s = WalkBuffered(model, bits);
                if (s.c == EndOfStream) {
                    done = true;
                    break;
                }
                if (!Count(model, s)) {
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

        const Symbol s = WalkStream(model.child, in);
        // Past the end of the data every bit reads as 1, which a grown tree can turn into the
        // same byte forever: a symbol that used such a bit ends the member as damaged.
        DecodeStatus status;
        if (in.rack < 0)
            status = stream.Stopped() ? DecodeStatus::Stopped : DecodeStatus::Damaged;
        else if (s.c == EndOfStream)
            status = DecodeStatus::Complete;
        else if (!Count(model, s))
            status = DecodeStatus::Damaged;
        else if (!output.Put(static_cast<uint8_t>(s.c)))
            status = DecodeStatus::Stopped;
        else
            continue;
        in.Save();
        return status;
    }
}

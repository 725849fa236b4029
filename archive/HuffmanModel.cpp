#include "HuffmanModel.h"

#include <cstring>

namespace {

// Leaves and internal nodes trade places at random on some data, so the swap's bookkeeping below
// takes no branch on which: it works with masks, which a compiler leaves as they are, where it
// turns a choice between two values into a jump.
//
// All ones when c, a child entry, marks a leaf; else zero.
inline uint32_t LeafMask(int32_t c) { return static_cast<uint32_t>(c >> 31); }

// Points what hangs below position x at x: the leaf entry of its symbol when c is a leaf mark,
// else the parent entries of its children c and c + 1.
inline void Repoint(HuffmanModel& model, int32_t c, int x) {
    const uint32_t leafMask = LeafMask(c);
    const uintptr_t leaves = reinterpret_cast<uintptr_t>(model.leaf);
    const uintptr_t parents = reinterpret_cast<uintptr_t>(model.parent);
    const uintptr_t baseMask = static_cast<uintptr_t>(0) - (leafMask & 1);
    int32_t* base = reinterpret_cast<int32_t*>((leaves & baseMask) | (parents & ~baseMask));
    const uint32_t index = static_cast<uint32_t>(c) ^ leafMask;
    base[index] = x;
    base[index + (~leafMask & 1)] = x;
}

// Adds delta to the depth of every position below p.
void ShiftDepths(HuffmanModel& model, int p, int delta) {
    int pending[NodeCount];
    int count = 0;
    pending[count++] = p;
    while (count > 0) {
        const int32_t c = model.child[pending[--count]];
        if (c < 0) continue;
        for (int q = c; q <= c + 1; ++q) {
            model.depth[q] = static_cast<uint16_t>(model.depth[q] + delta);
            pending[count++] = q;
        }
    }
}

// Rewrites the prefix table under position p, whose depth and code are right, and the codes of
// the positions below it, down to PrefixBits. Nothing to do at PrefixBits or deeper.
void FillPrefix(HuffmanModel& model, int p) {
    const int d = model.depth[p];
    if (d >= PrefixBits) return;
    const uint32_t code = model.prefixCode[p];
    const int32_t c = model.child[p];
    if (c < 0) {
        // Every PrefixBits-bit prefix that begins with the leaf's code ends at the leaf.
        const uint32_t first = code << (PrefixBits - d);
        const uint32_t last = first + (1u << (PrefixBits - d));
        for (uint32_t k = first; k < last; ++k) model.prefix[k] = PrefixEntry(p, d);
        return;
    }
    for (int bit = 0; bit < 2; ++bit) {
        const int q = c + bit;
        const uint32_t qCode = code * 2 + static_cast<uint32_t>(bit);
        model.prefixCode[q] = static_cast<uint16_t>(qCode);
        if (d + 1 == PrefixBits) {
            model.prefix[qCode] = PrefixEntry(q, PrefixBits);
        } else {
            FillPrefix(model, q);
        }
    }
}

// Exchanges the subtrees at i and j. The decoder's update (Prefixed) exchanges nodes of equal
// weight only, so it leaves the weights, and keeps the prefix table, depths and codes.
template <bool Prefixed>
inline void Exchange(HuffmanModel& model, int i, int j) {
    int32_t* child = model.child;
    const int32_t a = child[i];
    const int32_t b = child[j];
    if (Prefixed) {
        Repoint(model, a, j);
        Repoint(model, b, i);
        child[i] = b;
        child[j] = a;
        // Positions keep their depths and codes; what hangs below them moves. Nodes of equal
        // weight almost always lie equally deep, and nearly all of them PrefixBits deep or
        // deeper, where the table does not look.
        const int di = model.depth[i];
        const int dj = model.depth[j];
        if (di != dj) {
            ShiftDepths(model, i, di - dj);
            ShiftDepths(model, j, dj - di);
        }
        if (di < PrefixBits || dj < PrefixBits) {
            FillPrefix(model, i);
            FillPrefix(model, j);
        }
        return;
    }
    Repoint(model, a, j);
    Repoint(model, b, i);
    // Each position keeps its own parent.
    child[i] = b;
    child[j] = a;
    const uint32_t w = model.weight[i];
    model.weight[i] = model.weight[j];
    model.weight[j] = w;
}

// The first node of the block of weight w, which holds n.
inline int BlockStart(HuffmanModel& model, int n, uint32_t w) {
    const uint32_t* weight = model.weight;
    int t = model.leader[LeaderSlot(w)];
    if (t > n || weight[t] != w || (t > 0 && weight[t - 1] == w)) {
        t = n;
        while (t > 0 && weight[t - 1] == w) --t;
    }
    return t;
}

// One level of the update at node n, which moves in front of the nodes of its weight directly
// ahead of it: the whole block of that weight up to it. Most often it leads its block already.
// Returns where the node is counted.
template <bool Prefixed>
inline size_t CountLevel(HuffmanModel& model, size_t n) {
    uint32_t* weight = model.weight;
    const uint32_t w = weight[n];
    if (weight[n - 1] == w) {
        const int t = BlockStart(model, static_cast<int>(n), w);
        Exchange<Prefixed>(model, static_cast<int>(n), t);
        n = static_cast<uint32_t>(t);
    }
    weight[n] = w + 1;
    model.leader[LeaderSlot(w)] = static_cast<uint16_t>(n + 1);
    return n;
}

template <bool Prefixed>
void UpdateFrom(HuffmanModel& model, int from) {
    if (from < 0) return;
    // Unsigned and as wide as a pointer: the climb's chain of parent loads needs no sign
    // extension between one level and the next. The root's parent is never read.
    size_t n = static_cast<uint32_t>(from);
    if (Prefixed) {
        // Counted down from the depth, so that the loop's end is known at once rather than when
        // the chain of parents reaches the root: a node that moves takes the depth of its new
        // position.
        for (int levels = model.depth[n]; levels > 0; --levels) {
            const size_t at = CountLevel<Prefixed>(model, n);
            if (at != n) levels = model.depth[at];
            n = static_cast<uint32_t>(model.parent[at]);
        }
    } else {
        while (n != 0) n = static_cast<uint32_t>(model.parent[CountLevel<Prefixed>(model, n)]);
    }
    ++model.weight[0];
}

template <bool Prefixed>
bool Add(HuffmanModel& model, int c) {
    if (c < 0 || c > 255 || model.leaf[c] != -1 || model.nextFreeNode + 2 > NodeCount) return false;
    const int l = model.nextFreeNode - 1;  // the lightest node, always a leaf
    if (model.child[l] >= 0) return false;
    const int n = model.nextFreeNode;
    const int z = model.nextFreeNode + 1;
    model.nextFreeNode += 2;

    model.weight[n] = model.weight[l];
    model.child[n] = model.child[l];
    model.parent[n] = l;
    model.leaf[SymbolOf(model.child[n])] = n;

    model.child[l] = n;

    model.weight[z] = 0;
    model.child[z] = LeafMark(c);
    model.parent[z] = l;
    model.leaf[c] = z;
    if (Prefixed) {
        model.depth[n] = model.depth[z] = static_cast<uint16_t>(model.depth[l] + 1);
        FillPrefix(model, l);
    }
    return true;
}

}  // namespace

void UpdateModelFrom(HuffmanModel& model, int n) { UpdateFrom<false>(model, n); }

void UpdateModelFromPrefixed(HuffmanModel& model, int n) { UpdateFrom<true>(model, n); }

bool AddNode(HuffmanModel& model, int c) { return Add<false>(model, c); }

bool AddNodePrefixed(HuffmanModel& model, int c) { return Add<true>(model, c); }

void BuildPrefixTable(HuffmanModel& model) {
    // Children lie behind their parents, so one pass in order of position sets every depth.
    model.depth[0] = 0;
    model.prefixCode[0] = 0;
    for (int n = 0; n < model.nextFreeNode; ++n) {
        const int32_t c = model.child[n];
        if (c >= 0) model.depth[c] = model.depth[c + 1] = static_cast<uint16_t>(model.depth[n] + 1);
    }
    FillPrefix(model, 0);
}

void UpdateModelPrefixed(HuffmanModel& model, int c) {
    if (model.weight[0] == RebuildLimit) {
        RebuildTree(model);
        BuildPrefixTable(model);
    }
    UpdateFrom<true>(model, model.leaf[c]);
}

void InitializeModel(HuffmanModel& model) {
    model.weight[0] = 2;
    model.parent[0] = -1;
    model.child[0] = 1;
    model.weight[1] = 1;
    model.parent[1] = 0;
    model.child[1] = LeafMark(EndOfStream);
    model.weight[2] = 1;
    model.parent[2] = 0;
    model.child[2] = LeafMark(Escape);
    for (int s = 0; s < 256; ++s) model.leaf[s] = -1;
    model.leaf[EndOfStream] = 1;
    model.leaf[Escape] = 2;
    model.nextFreeNode = 3;
}

void SwapNodes(HuffmanModel& model, int i, int j) { Exchange<false>(model, i, j); }

void UpdateModel(HuffmanModel& model, int c) {
    if (model.weight[0] == RebuildLimit)  // equality is enough: every update adds exactly 1
        RebuildTree(model);
    UpdateModelFrom(model, model.leaf[c]);
}

void RebuildTree(HuffmanModel& model) {
    uint32_t* weight = model.weight;
    int32_t* child = model.child;
    const int used = model.nextFreeNode;

    // Gather the leaves at the end, keeping their order, and halve them (1 stays 1, 0 stays 0).
    int j = used - 1;
    for (int i = used - 1; i >= 0; --i) {
        if (child[i] < 0) {
            child[j] = child[i];
            weight[j] = (weight[i] + 1) / 2;
            --j;
        }
    }

    // Pair them from the bottom up; each new node goes behind the heavier nodes and in front of
    // the nodes of equal weight. Nodes at or beyond i are never moved again, so the child
    // indices already handed out stay true.
    for (int i = used - 2; j >= 0; i -= 2, --j) {
        const uint32_t w = weight[i] + weight[i + 1];
        int k = j + 1;
        while (w < weight[k]) ++k;
        --k;
        const size_t moved = static_cast<size_t>(k - j);
        std::memmove(&weight[j], &weight[j + 1], sizeof(uint32_t) * moved);
        std::memmove(&child[j], &child[j + 1], sizeof(int32_t) * moved);
        weight[k] = w;
        child[k] = i;
    }

    // Relink. The root at 0 keeps the parent -1 it always had.
    for (int i = used - 1; i >= 0; --i) {
        const int32_t c = child[i];
        if (c < 0) {
            model.leaf[SymbolOf(c)] = i;
        } else {
            model.parent[c] = i;
            model.parent[c + 1] = i;
        }
    }
}

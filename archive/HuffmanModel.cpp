#include "HuffmanModel.h"

#include <cstring>

namespace {

// Row n of the walk table from the tree as it stands.
inline void SetWalkRow(HuffmanModel& model, int n) {
    uint32_t* row = model.walk[n];
    const int32_t c = model.child[n];
    if (c < 0) {
        row[0] = row[1] = row[2] = row[3] = WalkLeaf(SymbolOf(c));
        return;
    }
    for (int bit = 0; bit < 2; ++bit) {
        const int middle = c + bit;
        const int32_t g = model.child[middle];
        if (g < 0) {
            row[2 * bit] = row[2 * bit + 1] = WalkToLeaf(middle, SymbolOf(g));
        } else {
            row[2 * bit] = WalkStep(middle, g);
            row[2 * bit + 1] = WalkStep(middle, g + 1);
        }
    }
}

// Leaves and internal nodes trade places at random on some data, so the swap's bookkeeping below
// takes no branch on which: it works with masks, which a compiler leaves as they are, where it
// turns a choice between two values into a jump.
//
// All ones when c, a child entry, marks a leaf; else zero.
inline uint32_t LeafMask(int32_t c) { return static_cast<uint32_t>(c >> 31); }

// The half of a parent's row that goes through its child x, whose own child is c.
inline void SetWalkHalf(uint32_t* row, int x, int32_t c) {
    uint32_t* half = row + 2 * (~x & 1);  // the first child sits at an odd position
    const uint32_t leafMask = LeafMask(c);
    const uint32_t index = static_cast<uint32_t>(c) ^ leafMask;  // the symbol, or the first child
    // WalkToLeaf(x, symbol) for a leaf, else WalkStep(x, c) and WalkStep(x, c + 1).
    const uint32_t first = static_cast<uint32_t>(x) << 16 | (leafMask & (WalkEnd | WalkOneMore | index)) |
                           (~leafMask & index * WalkRowBytes);
    half[0] = first;
    half[1] = first + (~leafMask & WalkRowBytes);
}

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

// Exchanges the subtrees at i and j. The decoder's update (Walked) exchanges nodes of equal
// weight only, so it leaves the weights, and keeps the walk table.
template <bool Walked>
inline void Exchange(HuffmanModel& model, int i, int j) {
    int32_t* child = model.child;
    int32_t* parent = model.parent;
    const int32_t a = child[i];
    const int32_t b = child[j];
    if (Walked) {
        Repoint(model, a, j);
        Repoint(model, b, i);
        child[i] = b;
        child[j] = a;
        // A row reads its node's child and the children's, all inside the subtree, which keeps
        // its nodes where they were: rows i and j trade places. The parents' rows change in the
        // half that goes through i or j.
        uint32_t (*walk)[4] = model.walk;
        uint32_t row[4];
        std::memcpy(row, walk[i], sizeof row);
        std::memcpy(walk[i], walk[j], sizeof row);
        std::memcpy(walk[j], row, sizeof row);
        SetWalkHalf(walk[parent[i]], i, b);
        SetWalkHalf(walk[parent[j]], j, a);
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

template <bool Walked>
void UpdateFrom(HuffmanModel& model, int from) {
    if (from < 0) return;
    uint32_t* weight = model.weight;
    // Unsigned and as wide as a pointer: the climb's chain of parent loads needs no sign
    // extension between one level and the next. The root's parent is never read.
    size_t n = static_cast<uint32_t>(from);
    while (n != 0) {
        // The node moves in front of the nodes of its weight directly ahead of it: the whole
        // block of that weight up to it. Most often it leads its block already.
        const uint32_t w = weight[n];
        if (weight[n - 1] == w) {
            const int t = BlockStart(model, static_cast<int>(n), w);
            Exchange<Walked>(model, static_cast<int>(n), t);
            n = static_cast<uint32_t>(t);
        }
        weight[n] = w + 1;
        model.leader[LeaderSlot(w)] = static_cast<uint16_t>(n + 1);
        n = static_cast<uint32_t>(model.parent[n]);
    }
    ++weight[0];
}

template <bool Walked>
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
    if (Walked) {
        SetWalkRow(model, n);
        SetWalkRow(model, z);
        SetWalkRow(model, l);
        SetWalkRow(model, model.parent[l]);
    }
    return true;
}

}  // namespace

void UpdateModelFrom(HuffmanModel& model, int n) { UpdateFrom<false>(model, n); }

void UpdateModelFromWalked(HuffmanModel& model, int n) { UpdateFrom<true>(model, n); }

bool AddNode(HuffmanModel& model, int c) { return Add<false>(model, c); }

bool AddNodeWalked(HuffmanModel& model, int c) { return Add<true>(model, c); }

void BuildWalk(HuffmanModel& model) {
    for (int n = 0; n < model.nextFreeNode; ++n) SetWalkRow(model, n);
}

void UpdateModelWalked(HuffmanModel& model, int c) {
    if (model.weight[0] == RebuildLimit) {
        RebuildTree(model);
        BuildWalk(model);
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

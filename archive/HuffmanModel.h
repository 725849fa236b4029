#pragma once

#include <cstdint>

// The adaptive Huffman model that coder and decoder share. Symbols 0 to 255 are byte values.
constexpr int EndOfStream = 256;
constexpr int Escape = 257;
constexpr int SymbolCount = 258;
constexpr int NodeCount = 2 * SymbolCount - 1;  // 515: a tree over every symbol
constexpr uint32_t RebuildLimit = 0x8000;

// One node as the format describes it; HuffmanModel::Node assembles it from the model's arrays.
struct HuffmanNode {
    uint32_t weight;
    int32_t parent;       // -1 for the root
    int32_t childIsLeaf;  // 1: child is a symbol; 0: child is the first child's index
    int32_t child;        // the second child is always child + 1
};

// A leaf's entry in HuffmanModel::child: the one's complement of its symbol, so any negative
// value marks a leaf.
constexpr int32_t LeafMark(int symbol) { return ~symbol; }
constexpr int SymbolOf(int32_t leafMark) { return ~leafMark; }

// Node i lives in three arrays, so that each loop touches only the fields it needs: weight[i];
// parent[i] (-1 for the root); child[i], the index of its first child (>= 0) or the LeafMark of
// its symbol.
//
// Invariants after every complete operation: node 0 is the root; children lie side by side at
// higher indices than their parent, the first at an odd index, so a node's code bit is 0 at odd
// positions and 1 at even ones; weights never increase with the index; bit 0 leads to the first
// child; nextFreeNode = 3 + 2 * (byte values added); no weight passes RebuildLimit.
//
// Nodes of equal weight form one contiguous block. leader[LeaderSlot(w)] is a hint for the block
// of weight w: each time an update counts a node of weight w that leads its block (moved to its
// front first where need be), the rest of the block begins just behind it, and the hint says so.
// It is checked before every use, so counting a node without keeping it stays right, and the
// update still finds the node to swap with at once in the common case. Weights that share a
// slot only cost a search now and then: the slots stay few, so the hints the update uses stay in
// the first-level cache with the tree. Allocate models on the heap and value-initialise them once
// (`new HuffmanModel()`) so the hints start as numbers.
constexpr uint32_t LeaderSlots = 4096;
constexpr uint32_t LeaderSlot(uint32_t weight) { return weight & (LeaderSlots - 1); }

constexpr int PrefixBits = 8;  // see PrefixEntry

struct HuffmanModel {
    int32_t leaf[SymbolCount];  // the symbol's leaf, or -1 while it is not in the tree
    int32_t nextFreeNode;
    uint32_t weight[NodeCount];
    int32_t parent[NodeCount];
    int32_t child[NodeCount];
    // The decoder's lookup of a code's first PrefixBits bits (see PrefixEntry), with every
    // position's depth and, for positions less than PrefixBits deep, the bits that lead from the
    // root to it. Only the operations named ...Prefixed and BuildPrefixTable keep them; every
    // other operation leaves them as they were.
    uint16_t prefix[1 << PrefixBits];
    uint16_t depth[NodeCount];
    uint16_t prefixCode[NodeCount];
    uint16_t leader[LeaderSlots];

    HuffmanNode Node(int i) const {
        const int32_t c = child[i];
        return {weight[i], parent[i], c < 0 ? 1 : 0, c < 0 ? SymbolOf(c) : c};
    }
};

void InitializeModel(HuffmanModel& model);

// HuffmanModel::prefix, read with the stream's next PrefixBits bits, names the position that the
// walk from the root reaches after PrefixBits levels, or the leaf where the code ends sooner, in
// bits 0 to 9, and that position's depth in bits 10 and up. Eight bits hold the whole code of
// most symbols; a wider table costs more upkeep, where subtrees less than PrefixBits deep trade
// places, than it saves.
constexpr uint16_t PrefixEntry(int position, int depth) {
    return static_cast<uint16_t>(position | depth << 10);
}
constexpr int PrefixPosition(uint32_t entry) { return static_cast<int>(entry & 0x3FF); }
constexpr int PrefixDepth(uint32_t entry) { return static_cast<int>(entry >> 10); }

// Fills the prefix table, the depths and the codes from the tree.
void BuildPrefixTable(HuffmanModel& model);

// UpdateModel, UpdateModelFrom and AddNode keeping the prefix table, depths and codes.
void UpdateModelPrefixed(HuffmanModel& model, int c);
void UpdateModelFromPrefixed(HuffmanModel& model, int n);
bool AddNodePrefixed(HuffmanModel& model, int c);

// Counts one occurrence of byte c and restores the weight order (rebuilding first when the
// root has reached RebuildLimit).
void UpdateModel(HuffmanModel& model, int c);

// The update's walk to the root from node n, for coders that counted the nodes below n already
// (UpdateModel(model, c) is UpdateModelFrom(model, leaf[c]) after the rebuild check).
void UpdateModelFrom(HuffmanModel& model, int n);

// Counts node n, which leads its block, without moving it. Entry: 0 <= n < nextFreeNode and n
// is the first node of its weight.
inline void CountLeader(HuffmanModel& model, int n) { ++model.weight[n]; }

// Halves every leaf weight (rounding up) and builds the internal nodes again.
void RebuildTree(HuffmanModel& model);

// Exchanges the subtrees at positions i and j; every position keeps its own parent. The update
// swaps nodes of equal weight only; others would break the order of weights.
void SwapNodes(HuffmanModel& model, int i, int j);

// Splits the lightest node to give byte c a leaf of weight 0. False, with nothing changed, when
// the tree holds every byte value already or c is in it: the coder never sends such an Escape.
bool AddNode(HuffmanModel& model, int c);

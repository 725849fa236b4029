#pragma once

#include <cstdint>

// The adaptive Huffman model that coder and decoder share. Symbols 0 to 255 are byte values.
constexpr int EndOfStream = 256;
constexpr int Escape = 257;
constexpr int SymbolCount = 258;
constexpr int NodeCount = 2 * SymbolCount - 1;  // 515: a tree over every symbol
constexpr uint32_t RebuildLimit = 0x8000;

struct HuffmanNode {
    uint32_t weight;
    int32_t parent;       // -1 for the root
    int32_t childIsLeaf;  // 1: child is a symbol; 0: child is the first child's index
    int32_t child;        // the second child is always child + 1
};

// Invariants after every complete operation: node 0 is the root; children lie side by side at
// higher indices than their parent; weights never increase with the index; bit 0 leads to the
// first child; nextFreeNode = 3 + 2 * (byte values added).
//
// Nodes of equal weight form one contiguous block. blockStart[w] remembers where the block of
// weight w began when it was last looked up; it is only a hint, checked before every use, so the
// update finds the node to swap with without searching in the common case. Weights never pass
// RebuildLimit. Value-initialise a model once (`new HuffmanModel()`) so the hints start as
// numbers; InitializeModel leaves them alone, as any value is safe.
struct HuffmanModel {
    int32_t leaf[SymbolCount];  // the symbol's leaf, or -1 while it is not in the tree
    int32_t nextFreeNode;
    HuffmanNode nodes[NodeCount];
    uint16_t blockStart[RebuildLimit + 1];
};

void InitializeModel(HuffmanModel& model);

// Counts one occurrence of byte c and restores the weight order (rebuilding first when the
// root has reached RebuildLimit).
void UpdateModel(HuffmanModel& model, int c);

// The update's walk to the root from node n, for coders that counted the nodes below n already
// (UpdateModel(model, c) is UpdateModelFrom(model, leaf[c]) after the rebuild check).
void UpdateModelFrom(HuffmanModel& model, int n);

// Halves every leaf weight (rounding up) and builds the internal nodes again.
void RebuildTree(HuffmanModel& model);

// Exchanges the subtrees at positions i and j; every position keeps its own parent.
void SwapNodes(HuffmanModel& model, int i, int j);

// Splits the lightest node to give byte c a leaf of weight 0. False, with nothing changed, when
// the tree holds every byte value already or c is in it: the coder never sends such an Escape.
bool AddNode(HuffmanModel& model, int c);

#include "HuffmanModel.h"

#include <cstring>
#include <utility>

namespace {

// Records where each block of equal weights begins, after the rebuild moved everything.
void IndexBlocks(HuffmanModel& model) {
    const HuffmanNode* nodes = model.nodes;
    for (int i = 0; i < model.nextFreeNode; ++i) {
        if (i == 0 || nodes[i].weight != nodes[i - 1].weight)
            model.blockStart[nodes[i].weight] = static_cast<uint16_t>(i);
    }
}

}  // namespace

void InitializeModel(HuffmanModel& model) {
    model.nodes[0] = {2, -1, 0, 1};
    model.nodes[1] = {1, 0, 1, EndOfStream};
    model.nodes[2] = {1, 0, 1, Escape};
    for (int s = 0; s < 256; ++s) model.leaf[s] = -1;
    model.leaf[EndOfStream] = 1;
    model.leaf[Escape] = 2;
    model.nextFreeNode = 3;
    model.blockStart[2] = 0;
    model.blockStart[1] = 1;
}

void SwapNodes(HuffmanModel& model, int i, int j) {
    HuffmanNode* nodes = model.nodes;
    for (const auto& [from, to] : {std::pair{i, j}, std::pair{j, i}}) {
        if (nodes[from].childIsLeaf) {
            model.leaf[nodes[from].child] = to;
        } else {
            nodes[nodes[from].child].parent = to;
            nodes[nodes[from].child + 1].parent = to;
        }
    }
    std::swap(nodes[i], nodes[j]);
    std::swap(nodes[i].parent, nodes[j].parent);
}

void UpdateModel(HuffmanModel& model, int c) {
    HuffmanNode* nodes = model.nodes;
    if (nodes[0].weight == RebuildLimit)  // equality is enough: every update adds exactly 1
        RebuildTree(model);

    int n = model.leaf[c];
    while (n != -1) {
        const uint32_t w = nodes[n].weight;
        // The node moves in front of the nodes of its old weight directly ahead of it, which is
        // the whole block of that weight up to it: the block's first node is the one to swap with.
        const int t = model.blockStart[w];
        nodes[n].weight = w + 1;
        if (t != n) {
            SwapNodes(model, n, t);
            n = t;
        }
        model.blockStart[w] = static_cast<uint16_t>(n + 1);  // stale when the block is now empty
        if (n == 0 || nodes[n - 1].weight != w + 1) model.blockStart[w + 1] = static_cast<uint16_t>(n);
        n = nodes[n].parent;
    }
}

void RebuildTree(HuffmanModel& model) {
    HuffmanNode* nodes = model.nodes;
    const int used = model.nextFreeNode;

    // Gather the leaves at the end, keeping their order, and halve them (1 stays 1, 0 stays 0).
    int j = used - 1;
    for (int i = used - 1; i >= 0; --i) {
        if (nodes[i].childIsLeaf) {
            nodes[j] = nodes[i];
            nodes[j].weight = (nodes[j].weight + 1) / 2;
            --j;
        }
    }

    // Pair them from the bottom up; each new node goes behind the heavier nodes and in front of
    // the nodes of equal weight. Nodes at or beyond i are never moved again, so the child
    // indices already handed out stay true.
    for (int i = used - 2; j >= 0; i -= 2, --j) {
        const uint32_t w = nodes[i].weight + nodes[i + 1].weight;
        nodes[j].weight = w;
        nodes[j].childIsLeaf = 0;
        int k = j + 1;
        while (w < nodes[k].weight) ++k;
        --k;
        std::memmove(&nodes[j], &nodes[j + 1], sizeof(HuffmanNode) * static_cast<size_t>(k - j));
        nodes[k].weight = w;
        nodes[k].child = i;
        nodes[k].childIsLeaf = 0;
    }

    // Relink. The root at 0 keeps the parent -1 it always had.
    for (int i = used - 1; i >= 0; --i) {
        if (nodes[i].childIsLeaf) {
            model.leaf[nodes[i].child] = i;
        } else {
            nodes[nodes[i].child].parent = i;
            nodes[nodes[i].child + 1].parent = i;
        }
    }
    IndexBlocks(model);
}

bool AddNode(HuffmanModel& model, int c) {
    if (c < 0 || c > 255 || model.leaf[c] != -1 || model.nextFreeNode + 2 > NodeCount) return false;
    HuffmanNode* nodes = model.nodes;
    const int l = model.nextFreeNode - 1;  // the lightest node, always a leaf
    if (!nodes[l].childIsLeaf) return false;
    const int n = model.nextFreeNode;
    const int z = model.nextFreeNode + 1;
    model.nextFreeNode += 2;

    nodes[n] = nodes[l];
    nodes[n].parent = l;
    model.leaf[nodes[n].child] = n;

    nodes[l].child = n;
    nodes[l].childIsLeaf = 0;

    nodes[z] = {0, l, 1, c};
    model.leaf[c] = z;
    if (nodes[n].weight != 0) model.blockStart[0] = static_cast<uint16_t>(z);
    return true;
}

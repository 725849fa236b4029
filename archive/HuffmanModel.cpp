#include "HuffmanModel.h"

#include <cstring>

namespace {

// The first node of the block of weight w, which holds n.
inline int BlockStart(HuffmanModel& model, int n, uint32_t w) {
    const HuffmanNode* nodes = model.nodes;
    int t = model.blockStart[w];
    if (t > n || nodes[t].weight != w || (t > 0 && nodes[t - 1].weight == w)) {
        t = n;
        while (t > 0 && nodes[t - 1].weight == w) --t;
    }
    return t;
}

}  // namespace

void UpdateModelFrom(HuffmanModel& model, int n) {
    HuffmanNode* nodes = model.nodes;
    while (n != -1) {
        const uint32_t w = nodes[n].weight;
        nodes[n].weight = w + 1;
        // The node moves in front of the nodes of its old weight directly ahead of it: the whole
        // block of that weight up to it. Most often it leads its block already.
        if (n > 0 && nodes[n - 1].weight == w) {
            const int t = BlockStart(model, n, w);
            SwapNodes(model, n, t);
            n = t;
            model.blockStart[w] = static_cast<uint16_t>(t + 1);
        }
        n = nodes[n].parent;
    }
}

void InitializeModel(HuffmanModel& model) {
    model.nodes[0] = {2, -1, 0, 1};
    model.nodes[1] = {1, 0, 1, EndOfStream};
    model.nodes[2] = {1, 0, 1, Escape};
    for (int s = 0; s < 256; ++s) model.leaf[s] = -1;
    model.leaf[EndOfStream] = 1;
    model.leaf[Escape] = 2;
    model.nextFreeNode = 3;
}

void SwapNodes(HuffmanModel& model, int i, int j) {
    HuffmanNode* nodes = model.nodes;
    HuffmanNode& a = nodes[i];
    HuffmanNode& b = nodes[j];
    if (a.childIsLeaf) {
        model.leaf[a.child] = j;
    } else {
        nodes[a.child].parent = j;
        nodes[a.child + 1].parent = j;
    }
    if (b.childIsLeaf) {
        model.leaf[b.child] = i;
    } else {
        nodes[b.child].parent = i;
        nodes[b.child + 1].parent = i;
    }
    // Each position keeps its own parent.
    const HuffmanNode saved = a;
    a.weight = b.weight;
    a.childIsLeaf = b.childIsLeaf;
    a.child = b.child;
    b.weight = saved.weight;
    b.childIsLeaf = saved.childIsLeaf;
    b.child = saved.child;
}

void UpdateModel(HuffmanModel& model, int c) {
    if (model.nodes[0].weight == RebuildLimit)  // equality is enough: every update adds exactly 1
        RebuildTree(model);
    UpdateModelFrom(model, model.leaf[c]);
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
    return true;
}

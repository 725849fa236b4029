#include "HuffmanModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ModelCheck.h"
#include "TempDir.h"

namespace {

constexpr int32_t kLeaf = 1;
constexpr int32_t kInner = 0;

// One node as a table row: weight, parent, kLeaf or kInner, symbol or first child.
struct NodeRow {
    uint32_t weight;
    int32_t parent;
    int32_t childIsLeaf;
    int32_t child;
};

void ExpectNodes(const HuffmanModel& model, const std::vector<NodeRow>& rows) {
    ASSERT_EQ(model.nextFreeNode, static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const HuffmanNode node = model.Node(i);
        EXPECT_EQ(node.weight, rows[i].weight) << "node " << i;
        EXPECT_EQ(node.parent, rows[i].parent) << "node " << i;
        EXPECT_EQ(node.childIsLeaf, rows[i].childIsLeaf) << "node " << i;
        EXPECT_EQ(node.child, rows[i].child) << "node " << i;
    }
    EXPECT_EQ(CheckModel(model), "");
}

bool SameTree(const HuffmanModel& a, const HuffmanModel& b) {
    return a.nextFreeNode == b.nextFreeNode &&
           std::memcmp(a.leaf, b.leaf, sizeof a.leaf) == 0 &&
           SameNodes(a, b, a.nextFreeNode);
}

TEST(HuffmanModel, StartTreeHasEndOfStreamAtBitZeroAndEscapeAtBitOne) {
    auto model = NewModel();
    ExpectNodes(*model, {
        {2, -1, kInner, 1},
        {1, 0, kLeaf, EndOfStream},
        {1, 0, kLeaf, Escape},
    });
    EXPECT_EQ(model->leaf[EndOfStream], 1);
    EXPECT_EQ(model->leaf[Escape], 2);
    for (int s = 0; s < 256; ++s) ASSERT_EQ(model->leaf[s], -1) << s;
}

TEST(HuffmanModel, InitializeForgetsThePreviousMember) {
    auto model = NewModel();
    for (uint8_t c : RandomBytes(3000, 7)) Count(*model, c);
    auto fresh = NewModel();
    InitializeModel(*model);
    EXPECT_TRUE(SameTree(*model, *fresh));
    EXPECT_EQ(CheckModel(*model), "");
}

TEST(HuffmanModel, AddNodeSplitsTheLightestLeaf) {
    auto model = NewModel();
    ASSERT_TRUE(AddNode(*model, 'x'));
    ExpectNodes(*model, {
        {2, -1, kInner, 1},
        {1, 0, kLeaf, EndOfStream},
        {1, 0, kInner, 3},  // the former Escape leaf keeps its weight and parent
        {1, 2, kLeaf, Escape},
        {0, 2, kLeaf, 'x'},  // the new byte is the second child, weight 0 until counted
    });
    EXPECT_EQ(model->leaf[Escape], 3);
    EXPECT_EQ(model->leaf['x'], 4);
}

TEST(HuffmanModel, WorkedExampleAfterCountingAThenB) {
    auto model = NewModel();
    Count(*model, 'a');
    // 'a' ties with Escape ahead of it and stays behind it; its parent overtakes EndOfStream.
    ExpectNodes(*model, {
        {3, -1, kInner, 1},
        {2, 0, kInner, 3},
        {1, 0, kLeaf, EndOfStream},
        {1, 1, kLeaf, Escape},
        {1, 1, kLeaf, 'a'},
    });
    Count(*model, 'b');
    ExpectNodes(*model, {
        {4, -1, kInner, 1},
        {2, 0, kInner, 3},
        {2, 0, kInner, 5},
        {1, 1, kLeaf, Escape},
        {1, 1, kLeaf, EndOfStream},
        {1, 2, kLeaf, 'a'},
        {1, 2, kLeaf, 'b'},
    });
    EXPECT_EQ(model->leaf['a'], 5);
    EXPECT_EQ(model->leaf['b'], 6);
    EXPECT_EQ(model->leaf[Escape], 3);
    EXPECT_EQ(model->leaf[EndOfStream], 4);
}

TEST(HuffmanModel, AddNodeRefusesAByteAlreadyInTheTree) {
    auto model = NewModel();
    for (uint8_t c : BytesOf("abracadabra")) Count(*model, c);
    auto before = std::make_unique<HuffmanModel>(*model);
    for (int c : {'a', 'b', 'r', 'c', 'd'}) {
        EXPECT_FALSE(AddNode(*model, c)) << char(c);
        EXPECT_TRUE(SameTree(*model, *before)) << char(c);
    }
}

TEST(HuffmanModel, AllByteValuesFillEveryNodeAndThenAddNodeRefuses) {
    auto model = NewModel();
    for (int c = 0; c < 256; ++c) {
        Count(*model, c);
        ASSERT_EQ(model->nextFreeNode, 3 + 2 * (c + 1));
    }
    EXPECT_EQ(model->nextFreeNode, NodeCount);
    EXPECT_EQ(CheckModel(*model), "");
    auto before = std::make_unique<HuffmanModel>(*model);
    for (int c : {0, 0x41, 0xFF}) {
        EXPECT_FALSE(AddNode(*model, c));
        EXPECT_TRUE(SameTree(*model, *before));
    }
}

struct SwapCase {
    int i, j;
    std::vector<NodeRow> after;
    const char* why;
};

TEST(HuffmanModel, SwapNodesMovesSubtreesAndKeepsEachPositionsParent) {
    const SwapCase cases[] = {
        {1, 2,
         {{4, -1, kInner, 1}, {2, 0, kInner, 5}, {2, 0, kInner, 3}, {1, 2, kLeaf, Escape},
          {1, 2, kLeaf, EndOfStream}, {1, 1, kLeaf, 'a'}, {1, 1, kLeaf, 'b'}},
         "two internal nodes: their children follow them"},
        {3, 6,
         {{4, -1, kInner, 1}, {2, 0, kInner, 3}, {2, 0, kInner, 5}, {1, 1, kLeaf, 'b'},
          {1, 1, kLeaf, EndOfStream}, {1, 2, kLeaf, 'a'}, {1, 2, kLeaf, Escape}},
         "two leaves in different subtrees"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        auto model = NewModel();
        Count(*model, 'a');
        Count(*model, 'b');
        SwapNodes(*model, c.i, c.j);
        ExpectNodes(*model, c.after);
    }
}

TEST(HuffmanModel, FirstRebuildHappensInTheUpdateForByte32767) {
    auto model = NewModel();
    for (int n = 1; n <= 32766; ++n) Count(*model, 'a');
    EXPECT_EQ(model->weight[0], RebuildLimit);
    EXPECT_EQ(model->weight[model->leaf['a']], 32766u) << "rebuilt too early";

    Count(*model, 'a');
    // Halved: EndOfStream 1, Escape 1, 'a' 16383; then 'a' is counted.
    EXPECT_EQ(model->weight[model->leaf['a']], 16384u);
    EXPECT_EQ(model->weight[0], 16386u);
    EXPECT_EQ(CheckModel(*model), "");

    // The root climbs back to the limit after 16382 more bytes; the next one rebuilds again.
    for (int n = 0; n < 16382; ++n) Count(*model, 'a');
    EXPECT_EQ(model->weight[0], RebuildLimit);
    Count(*model, 'a');
    EXPECT_EQ(model->weight[0], 16386u);
}

TEST(HuffmanModel, RootNeverPassesTheLimit) {
    auto model = NewModel();
    uint32_t highest = 0;
    int rebuilds = 0;
    for (uint8_t c : SkewedBytes(120000, 3)) {
        const uint32_t before = model->weight[0];
        Count(*model, c);
        highest = std::max(highest, model->weight[0]);
        if (model->weight[0] < before) ++rebuilds;
    }
    EXPECT_EQ(highest, RebuildLimit);
    EXPECT_GE(rebuilds, 4);
}

TEST(HuffmanModel, RebuildHalvesLeafWeightsRoundingUp) {
    auto model = NewModel();
    const struct {
        int byte;
        int count;
        uint32_t halved;
    } rows[] = {{'e', 4, 2}, {'d', 3, 2}, {'c', 2, 1}, {'b', 1, 1}};
    for (const auto& row : rows)
        for (int n = 0; n < row.count; ++n) Count(*model, row.byte);
    ASSERT_TRUE(AddNode(*model, 'z'));  // added by an Escape just before a rebuild: weight 0
    ASSERT_EQ(CheckModel(*model), "");

    RebuildTree(*model);
    ASSERT_EQ(CheckModel(*model), "");
    for (const auto& row : rows)
        EXPECT_EQ(model->weight[model->leaf[row.byte]], row.halved) << char(row.byte);
    EXPECT_EQ(model->weight[model->leaf['z']], 0u);
    EXPECT_EQ(model->weight[model->leaf[EndOfStream]], 1u);
    EXPECT_EQ(model->weight[model->leaf[Escape]], 1u);
    EXPECT_EQ(model->nextFreeNode, 3 + 2 * 5);
}

TEST(HuffmanModel, RebuildPutsANewInternalNodeInFrontOfEqualWeights) {
    auto model = NewModel();
    for (int n = 0; n < 4; ++n) Count(*model, 'x');
    ExpectNodes(*model, {
        {6, -1, kInner, 1},
        {4, 0, kLeaf, 'x'},
        {2, 0, kInner, 3},
        {1, 2, kLeaf, Escape},
        {1, 2, kLeaf, EndOfStream},
    });
    RebuildTree(*model);
    // 'x' halves to 2; the node over Escape and EndOfStream weighs 2 too and goes in front.
    ExpectNodes(*model, {
        {4, -1, kInner, 1},
        {2, 0, kInner, 3},
        {2, 0, kLeaf, 'x'},
        {1, 1, kLeaf, Escape},
        {1, 1, kLeaf, EndOfStream},
    });
}

TEST(HuffmanModel, ByteAddedJustBeforeARebuildIsCountedAfterIt) {
    auto model = NewModel();
    for (int n = 0; n < 32766; ++n) Count(*model, 'a');
    ASSERT_EQ(model->weight[0], RebuildLimit);
    Count(*model, 'b');  // AddNode at weight 0, then the rebuild, then the count
    EXPECT_EQ(CheckModel(*model), "");
    EXPECT_EQ(model->weight[model->leaf['b']], 1u);
    EXPECT_EQ(model->weight[model->leaf['a']], 16383u);
    EXPECT_EQ(model->weight[0], 16383u + 1 + 1 + 1);
}

TEST(HuffmanModel, InvariantsHoldAfterEveryStep) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } inputs[] = {
        {"uniform", RandomBytes(70000, 11)},
        {"skewed", SkewedBytes(90000, 12)},
        {"ascending", [] {
             std::vector<uint8_t> bytes(40000);
             for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 / 5);
             return bytes;
         }()},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        auto model = NewModel();
        size_t step = 0;
        for (uint8_t c : input.data) {
            if (model->leaf[c] == -1) {
                ASSERT_TRUE(AddNode(*model, c));
                ASSERT_EQ(CheckModel(*model), "") << "after AddNode at byte " << step;
            }
            UpdateModel(*model, c);
            ASSERT_EQ(CheckModel(*model), "") << "after UpdateModel at byte " << step;
            ++step;
        }
    }
}

TEST(HuffmanModel, RebuildAtAnyMomentKeepsTheInvariants) {
    auto model = NewModel();
    size_t step = 0;
    for (uint8_t c : SkewedBytes(6000, 21)) {
        Count(*model, c);
        if (++step % 97 == 0) {
            RebuildTree(*model);
            ASSERT_EQ(CheckModel(*model), "") << "after a rebuild at byte " << step;
        }
    }
}

// Byte k + 1 occurs as often as the (k + 1)th Fibonacci number, the weights that make the
// deepest Huffman trees; in ascending order, then again in descending order across rebuilds.
std::vector<uint8_t> FibonacciBytes() {
    std::vector<uint8_t> bytes;
    uint32_t a = 1, b = 1;
    for (int k = 0; k < 24; ++k, b = a + b, a = b - a)
        bytes.insert(bytes.end(), a, static_cast<uint8_t>(k + 1));
    for (int k = 23; k >= 0; --k) bytes.insert(bytes.end(), 24 - k, static_cast<uint8_t>(k + 1));
    return bytes;
}

int DeepestLeaf(const HuffmanModel& model) {
    std::vector<int> depth(model.nextFreeNode, 0);
    int deepest = 0;
    for (int i = 1; i < model.nextFreeNode; ++i) {
        depth[i] = depth[model.parent[i]] + 1;  // a parent always comes before its children
        if (model.child[i] < 0) deepest = std::max(deepest, depth[i]);
    }
    return deepest;
}

// The decoder's fast walk takes a whole code from one 64-bit window; it relies on codes staying
// far shorter than 48 bits, which the weight limit guarantees (at most 22).
TEST(HuffmanModel, NoCodeGrowsLongerThan22Bits) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
        int reached;  // the input is meant to build trees at least this deep
    } inputs[] = {
        {"Fibonacci counts", FibonacciBytes(), 14},
        {"skewed", SkewedBytes(80000, 31), 14},
        {"every value, then one", [] {
             std::vector<uint8_t> bytes;
             for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<uint8_t>(c));
             bytes.insert(bytes.end(), 40000, 'e');
             return bytes;
         }(), 10},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        auto model = NewModel();
        int deepest = 0;
        for (uint8_t c : input.data) {
            Count(*model, c);
            deepest = std::max(deepest, DeepestLeaf(*model));
        }
        EXPECT_LE(deepest, 22);
        EXPECT_GE(deepest, input.reached);
    }
}

// The block hints are only hints: whatever they hold, every update must give the same tree.
TEST(HuffmanModel, HintsOfAnyValueGiveTheSameTrees) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } inputs[] = {
        {"uniform: nodes move at almost every byte", RandomBytes(20000, 41)},
        {"skewed, across rebuilds", SkewedBytes(60000, 42)},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        auto kept = NewModel();
        auto scrambled = NewModel();
        uint32_t noise = 12345;
        size_t step = 0;
        for (uint8_t c : input.data) {
            // The hints of every weight in use, and of the next one, point anywhere.
            for (int i = 0; i < scrambled->nextFreeNode; ++i) {
                for (uint32_t w : {scrambled->weight[i], scrambled->weight[i] + 1}) {
                    noise = noise * 1103515245u + 12345u;
                    scrambled->leader[LeaderSlot(w)] = static_cast<uint16_t>(noise >> 16);
                }
            }
            Count(*kept, c);
            Count(*scrambled, c);
            ASSERT_TRUE(SameNodes(*kept, *scrambled, kept->nextFreeNode)) << "at byte " << step;
            ++step;
        }
    }
}

// Where the prefix table, and the tree below it, lead a leaf's code: the leaf reached, or -1 when
// the table leads elsewhere or names another depth.
int PrefixWalk(const HuffmanModel& model, int leaf) {
    std::vector<int> bits;
    for (int n = leaf; n != 0; n = model.parent[n]) bits.insert(bits.begin(), ~n & 1);
    const int length = static_cast<int>(bits.size());
    uint32_t first = 0;  // the code's first PrefixBits bits, whatever follows a shorter one
    for (int k = 0; k < PrefixBits; ++k) first = first << 1 | (k < length ? bits[k] : 1);
    const uint32_t e = model.prefix[first];
    int n = PrefixPosition(e);
    int depth = PrefixDepth(e);
    if (depth != std::min(length, PrefixBits)) return -1;
    while (model.child[n] >= 0 && depth < length) n = model.child[n] + bits[depth++];
    return depth == length ? n : -1;
}

// The decoder keeps its prefix table, depths and codes through every update, addition, exchange
// and rebuild: they must equal those built afresh, the table must lead every code to its leaf,
// and the tree must be the one the plain operations give.
TEST(HuffmanModel, PrefixTableFollowsTheTreeThroughEveryStep) {
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } inputs[] = {
        {"uniform: nodes move at almost every byte", RandomBytes(40000, 51)},
        {"skewed, across rebuilds", SkewedBytes(70000, 52)},
        {"every value, then one", [] {
             std::vector<uint8_t> bytes;
             for (int c = 0; c < 256; ++c) bytes.push_back(static_cast<uint8_t>(c));
             bytes.insert(bytes.end(), 40000, 'e');
             return bytes;
         }()},
        {"a few values, shallow subtrees trading places", [] {
             std::vector<uint8_t> bytes;
             uint32_t x = 53;
             for (int i = 0; i < 60000; ++i) {
                 x = x * 1103515245u + 12345u;
                 bytes.push_back(static_cast<uint8_t>("abcdefgh"[(x >> 16) % (1 + (x >> 28) % 8)]));
             }
             return bytes;
         }()},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        auto kept = NewModel();
        BuildPrefixTable(*kept);
        auto plain = NewModel();
        auto fresh = NewModel();
        const auto sameTables = [&] {
            const int used = kept->nextFreeNode;
            fresh->nextFreeNode = used;
            std::memcpy(fresh->child, kept->child, sizeof fresh->child);
            BuildPrefixTable(*fresh);
            if (std::memcmp(kept->prefix, fresh->prefix, sizeof fresh->prefix) != 0) return false;
            for (int p = 0; p < used; ++p) {
                if (kept->depth[p] != fresh->depth[p]) return false;
                if (kept->depth[p] < PrefixBits && kept->prefixCode[p] != fresh->prefixCode[p]) return false;
            }
            return true;
        };
        size_t step = 0;
        for (uint8_t c : input.data) {
            if (kept->leaf[c] == -1) {
                ASSERT_TRUE(AddNodePrefixed(*kept, c));
                ASSERT_TRUE(sameTables()) << "after AddNodePrefixed at byte " << step;
            }
            UpdateModelPrefixed(*kept, c);
            Count(*plain, c);
            ASSERT_TRUE(SameNodes(*kept, *plain, plain->nextFreeNode)) << "at byte " << step;
            ASSERT_TRUE(sameTables()) << "at byte " << step;
            if (step % 101 == 0) {
                for (int s = 0; s < SymbolCount; ++s) {
                    if (kept->leaf[s] == -1) continue;
                    ASSERT_EQ(PrefixWalk(*kept, kept->leaf[s]), kept->leaf[s])
                        << "symbol " << s << " at byte " << step;
                }
            }
            ++step;
        }
    }
}

}  // namespace

#include "ModelCheck.h"

#include <algorithm>

std::unique_ptr<HuffmanModel> NewModel() {
    auto model = std::make_unique<HuffmanModel>();
    InitializeModel(*model);
    return model;
}

std::string CheckModel(const HuffmanModel& model) {
    const int used = model.nextFreeNode;
    auto at = [](int i, const std::string& what) { return "node " + std::to_string(i) + ": " + what; };
    if (used < 3 || used > NodeCount || used % 2 == 0)
        return "nextFreeNode " + std::to_string(used) + " is not 3 + 2k within the array";
    if (model.parent[0] != -1) return at(0, "the root's parent is not -1");

    int leaves = 0;
    std::vector<int> parentsSeen(used, 0);
    for (int i = 0; i < used; ++i) {
        const HuffmanNode node = model.Node(i);
        if (i + 1 < used && node.weight < model.weight[i + 1])
            return at(i, "weight " + std::to_string(node.weight) + " below the next node's " +
                             std::to_string(model.weight[i + 1]));
        if (node.childIsLeaf == 1) {
            ++leaves;
            if (node.child < 0 || node.child >= SymbolCount) return at(i, "leaf with a bad symbol");
            if (model.leaf[node.child] != i) return at(i, "leaf[] does not point back at this leaf");
        } else if (node.childIsLeaf == 0) {
            const int first = node.child;
            if (first <= i || first + 1 >= used) return at(i, "children not after it or out of use");
            if (model.parent[first] != i || model.parent[first + 1] != i)
                return at(i, "a child's parent is not this node");
            if (node.weight != model.weight[first] + model.weight[first + 1])
                return at(i, "weight is not the sum of its children's");
            parentsSeen[first]++;
            parentsSeen[first + 1]++;
        } else {
            return at(i, "childIsLeaf neither 0 nor 1");
        }
    }
    for (int i = 1; i < used; ++i)
        if (parentsSeen[i] != 1) return at(i, "not the child of exactly one node");

    int symbols = 0;
    for (int s = 0; s < SymbolCount; ++s) {
        const int n = model.leaf[s];
        if (n == -1) continue;
        ++symbols;
        if (n < 0 || n >= used || model.Node(n).childIsLeaf != 1 || model.Node(n).child != s)
            return "leaf[" + std::to_string(s) + "] does not name that symbol's leaf";
    }
    if (model.leaf[EndOfStream] == -1 || model.leaf[Escape] == -1) return "EndOfStream or Escape missing";
    if (symbols != leaves) return "leaf[] and the leaves disagree";
    if (used != 2 * leaves - 1) return "nextFreeNode is not 3 + 2 * (byte values added)";

    for (int i = 0; i < used; ++i)
        if (model.weight[i] > RebuildLimit) return at(i, "weight beyond RebuildLimit");
    return "";
}

bool SameNodes(const HuffmanModel& a, const HuffmanModel& b, int count) {
    for (int i = 0; i < count; ++i) {
        const HuffmanNode x = a.Node(i);
        const HuffmanNode y = b.Node(i);
        if (x.weight != y.weight || x.parent != y.parent || x.childIsLeaf != y.childIsLeaf ||
            x.child != y.child)
            return false;
    }
    return true;
}

void BitWriter::Put(int bit) {
    if (bitCount % 8 == 0) bytes.push_back(0);
    if (bit) bytes.back() |= static_cast<uint8_t>(0x80 >> (bitCount % 8));
    ++bitCount;
}

void BitWriter::PutBits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) Put((value >> i) & 1);
}

std::vector<uint8_t> BitWriter::Finish() const { return bytes; }

void PutCode(const HuffmanModel& model, int symbol, BitWriter& out) {
    std::vector<int> path;
    for (int n = model.leaf[symbol]; n != 0; n = model.parent[n])
        path.push_back(n - model.child[model.parent[n]]);
    for (auto bit = path.rbegin(); bit != path.rend(); ++bit) out.Put(*bit);
}

void Count(HuffmanModel& model, int c) {
    if (model.leaf[c] == -1) AddNode(model, c);
    UpdateModel(model, c);
}

std::vector<uint8_t> ReferenceEncode(const std::vector<uint8_t>& data) {
    auto model = NewModel();
    BitWriter out;
    for (uint8_t c : data) {
        if (model->leaf[c] == -1) {
            PutCode(*model, Escape, out);
            out.PutBits(c, 8);
            AddNode(*model, c);
        } else {
            PutCode(*model, c, out);
        }
        UpdateModel(*model, c);
    }
    PutCode(*model, EndOfStream, out);
    return out.Finish();
}

std::vector<uint8_t> EscapeIntoAFullTree() {
    auto model = NewModel();
    BitWriter bits;
    for (int c = 0; c < 256; ++c) {
        PutCode(*model, Escape, bits);
        bits.PutBits(static_cast<uint32_t>(c), 8);
        AddNode(*model, c);
        UpdateModel(*model, c);
    }
    PutCode(*model, Escape, bits);
    bits.PutBits(0x41, 8);
    PutCode(*model, EndOfStream, bits);
    auto bytes = bits.Finish();
    bytes.insert(bytes.end(), 16, 0x00);
    return bytes;
}

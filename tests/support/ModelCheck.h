#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HuffmanModel.h"

// The model is large (over 20 KiB): tests keep it on the heap.
std::unique_ptr<HuffmanModel> NewModel();

// "" when every invariant of HuffmanModel.h holds, else the first one broken, with the node.
std::string CheckModel(const HuffmanModel& model);

// True when nodes 0 to count - 1 hold the same weights, parents and children in both models.
bool SameNodes(const HuffmanModel& a, const HuffmanModel& b, int count);

// Bits most significant first, padded with 0 bits to the byte.
class BitWriter {
public:
    void Put(int bit);
    void PutBits(uint32_t value, int count);
    std::vector<uint8_t> Finish() const;
    size_t BitCount() const { return bitCount; }

private:
    std::vector<uint8_t> bytes;
    size_t bitCount = 0;
};

// Appends the code of a symbol in the tree (the path from the root to its leaf).
void PutCode(const HuffmanModel& model, int symbol, BitWriter& out);

// Codes a member symbol by symbol through the shared model operations, as the decoder will read
// it; a check on the encoder's own bit packing.
std::vector<uint8_t> ReferenceEncode(const std::vector<uint8_t>& data);

// Counts byte c as the decoder does after decoding it: added on its first occurrence, then
// updated.
void Count(HuffmanModel& model, int c);

// A member's bit stream that escapes every byte value and then escapes once more, into a tree
// with no room left: no coder sends it.
std::vector<uint8_t> EscapeIntoAFullTree();

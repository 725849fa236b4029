#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "HuffmanModel.h"

class ByteSink;

// The exact inverse of DecodeMember: codes members into the bit streams the installer reads.
// Each member starts from a fresh model and ends with EndOfStream and 0 bits up to the next byte
// boundary. Whole bytes go to the sink as its buffer fills and at every member's end.
class HuffmanEncoder {
public:
    explicit HuffmanEncoder(ByteSink& sink);
    ~HuffmanEncoder();

    void BeginMember();
    void Put(const uint8_t* data, size_t count);
    // Codes EndOfStream, pads to the byte and hands every pending byte to the sink.
    // False when the sink refused bytes at any time since BeginMember.
    bool EndMember();

    // Bytes handed to the sink so far.
    uint64_t BytesOut() const { return bytesOut; }

    const HuffmanModel& Model() const { return *model; }

private:
    void PutSymbolCode(int node);
    void PutByteCode(int c);
    void SendCode(uint64_t code, int length, int node);
    void PutBits(uint64_t bits, int count);
    void FlushBuffer();

    static constexpr int BufferSize = 1 << 16;

    ByteSink& sink;
    std::unique_ptr<HuffmanModel> model;
    uint64_t accumulator = 0;  // the pending bits at the bottom, the oldest first
    int pendingBits = 0;       // 0 to 31 between calls
    bool sinkFailed = false;
    uint64_t bytesOut = 0;
    size_t used = 0;
    std::unique_ptr<uint8_t[]> buffer;
};

// Codes one whole member; convenience for tests and small inputs.
bool EncodeMember(const uint8_t* data, size_t count, ByteSink& sink);

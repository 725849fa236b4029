#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Receives the coder's bytes in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not be stored; the writer then stops.
    virtual bool Write(const uint8_t* data, size_t count) = 0;
};

// Keeps every byte in memory, for tests and benchmarks.
class VectorSink : public ByteSink {
public:
    bool Write(const uint8_t* data, size_t count) override {
        bytes.insert(bytes.end(), data, data + count);
        return true;
    }
    std::vector<uint8_t> bytes;
};

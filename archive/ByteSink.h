#pragma once

#include <cstddef>
#include <cstdint>

// Receives the coder's bytes in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not be stored; the writer then stops.
    virtual bool Write(const uint8_t* data, size_t count) = 0;
};

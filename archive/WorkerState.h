#pragma once

#include <atomic>
#include <cstdint>

#include "SetupHeader.h"

// A value written by the install worker and read by the page that watches it. A reader always
// sees one whole value: the previous or the current, never a mix.
class SpinLock {
public:
    void Lock();
    void Unlock() { flag.clear(std::memory_order_release); }

private:
    std::atomic_flag flag = ATOMIC_FLAG_INIT;
};

// A 256-byte text, NUL-terminated.
class SharedText {
public:
    void Store(const char* text);        // cut to 255 characters
    void Load(char* destination) const;  // destination holds 256 bytes
    void SetFirst(char c);
    char First() const;

private:
    mutable SpinLock lock;
    char text[256] = {};
};

class SharedFraction {
public:
    void Store(double value);
    double Load() const;

private:
    mutable SpinLock lock;
    double value = 0.0;
};

// What the worker and the main thread share during the install.
struct WorkerState {
    SetupHeader header = {};
    uint32_t headerCrc = 0;     // CRC-32 of the 388 header bytes as read
    char installDir[256] = {};  // ends with the platform's separator while members are extracted
    SharedText statusText;      // the current target path; first character '*' once the archive is done
    SharedFraction progressFraction;
    std::atomic<int> cancelRequested{0};
};

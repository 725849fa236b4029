#include "WorkerState.h"

#include <cstring>

#include "FileSystem.h"
#include "Text.h"

void SpinLock::Lock() {
    // Held only for a 256-byte copy: spin, and let the holder run if it was preempted.
    for (int spins = 0; flag.test_and_set(std::memory_order_acquire); ++spins) {
        if (spins > 64) YieldThread();
    }
}

void SharedText::Store(const char* source) {
    lock.Lock();
    CopyText(text, sizeof text, source);
    lock.Unlock();
}

void SharedText::Load(char* destination) const {
    lock.Lock();
    std::memcpy(destination, text, sizeof text);
    lock.Unlock();
}

void SharedText::SetFirst(char c) {
    lock.Lock();
    text[0] = c;
    lock.Unlock();
}

char SharedText::First() const {
    lock.Lock();
    const char c = text[0];
    lock.Unlock();
    return c;
}

void SharedFraction::Store(double v) {
    lock.Lock();
    value = v;
    lock.Unlock();
}

double SharedFraction::Load() const {
    lock.Lock();
    const double v = value;
    lock.Unlock();
    return v;
}

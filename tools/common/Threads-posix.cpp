#include "Threads.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <sched.h>

unsigned CoreCount() {
#ifdef __linux__
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
#endif
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

struct Mutex::Impl {
    std::mutex mutex;
};

Mutex::Mutex() : impl(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { impl->mutex.lock(); }
void Mutex::Unlock() { impl->mutex.unlock(); }

struct Condition::Impl {
    std::condition_variable_any condition;
};

Condition::Condition() : impl(new Impl) {}
Condition::~Condition() = default;
void Condition::Wait(Mutex& m) { impl->condition.wait(m.impl->mutex); }
void Condition::NotifyAll() { impl->condition.notify_all(); }

struct Thread::Impl {
    std::thread thread;
};

Thread::Thread(std::function<void()> body) : impl(new Impl) { impl->thread = std::thread(std::move(body)); }

Thread::~Thread() { Join(); }

void Thread::Join() {
    if (impl->thread.joinable()) impl->thread.join();
}

#pragma once

#include <functional>
#include <memory>

// Threads for the tools. The MinGW build uses the win32 thread model, which has no std::thread
// or std::mutex, so these wrap std:: on POSIX and the system's own objects on Windows.

// The number of processors this process may run on; at least 1.
unsigned CoreCount();

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock();
    void Unlock();

private:
    friend class Condition;
    struct Impl;
    std::unique_ptr<Impl> impl;
};

class MutexLock {
public:
    explicit MutexLock(Mutex& m) : mutex(m) { mutex.Lock(); }
    ~MutexLock() { mutex.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex;
};

class Condition {
public:
    Condition();
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // Entry: the caller holds m. Releases it while waiting and holds it again on return; a
    // return may be spurious, so callers wait in a loop on their own predicate.
    void Wait(Mutex& m);
    void NotifyAll();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Runs body on a thread of its own from construction on. The destructor joins it. body must
// not throw: an exception leaving it ends the process.
class Thread {
public:
    explicit Thread(std::function<void()> body);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Join();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

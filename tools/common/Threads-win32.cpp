#include "Threads.h"

#include <windows.h>

#include <process.h>

#include <exception>

unsigned CoreCount() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned n = 0;
        for (; process != 0; process &= process - 1) ++n;
        return n;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

struct Mutex::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
};

Mutex::Mutex() : impl(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { AcquireSRWLockExclusive(&impl->lock); }
void Mutex::Unlock() { ReleaseSRWLockExclusive(&impl->lock); }

struct Condition::Impl {
    CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

Condition::Condition() : impl(new Impl) {}
Condition::~Condition() = default;
void Condition::Wait(Mutex& m) { SleepConditionVariableSRW(&impl->condition, &m.impl->lock, INFINITE, 0); }
void Condition::NotifyAll() { WakeAllConditionVariable(&impl->condition); }

struct Thread::Impl {
    std::function<void()> body;
    HANDLE handle = nullptr;
};

namespace {

unsigned __stdcall RunBody(void* argument) {
    static_cast<std::function<void()>*>(argument)->operator()();
    return 0;
}

}  // namespace

Thread::Thread(std::function<void()> body) : impl(new Impl) {
    impl->body = std::move(body);
    const uintptr_t handle = _beginthreadex(nullptr, 0, RunBody, &impl->body, 0, nullptr);
    if (handle == 0) std::terminate();  // as std::thread does when it cannot start one
    impl->handle = reinterpret_cast<HANDLE>(handle);
}

Thread::~Thread() { Join(); }

void Thread::Join() {
    if (impl->handle == nullptr) return;
    WaitForSingleObject(impl->handle, INFINITE);
    CloseHandle(impl->handle);
    impl->handle = nullptr;
}

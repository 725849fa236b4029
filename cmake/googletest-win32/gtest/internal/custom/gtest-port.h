// GoogleTest's customisation header, as the win32 build sees it: its include directory comes
// before GoogleTest's own, whose copy of this file is empty.
//
// MinGW's win32 thread model has no std::mutex or std::condition_variable. GoogleTest 1.12 locks
// with Win32 critical sections there, but builds one class, Notification, on those two; this
// supplies that class on an atomic flag instead.
#ifndef GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
#define GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

#include <atomic>

// From <windows.h>, which this header must not pull into every test.
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// Lets a controller thread hold newly created threads until it calls Notify.
class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified.store(true, std::memory_order_release); }

    void WaitForNotification() {
        while (!notified.load(std::memory_order_acquire)) Sleep(1);
    }

private:
    std::atomic<bool> notified{false};
};

}  // namespace internal
}  // namespace testing

#endif  // GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

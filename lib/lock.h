// The device's lock. The 32-bit Windows toolchain's C++ library has no
// std::mutex (win32 threads), so the DLL takes a critical section, which
// every Windows since NT has.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

namespace zorvik {

#ifdef _WIN32
class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
#else
using Lock = std::mutex;
#endif

class Hold {
public:
    explicit Hold(Lock& l) : lock_(l) { lock_.lock(); }
    ~Hold() { lock_.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Lock& lock_;
};

}  // namespace zorvik

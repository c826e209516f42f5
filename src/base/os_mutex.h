#pragma once

#include <atomic>
#include <mutex>

// The program's mutual-exclusion lock. It is created explicitly by its owner's open/init, so an
// object that was never opened can still run its close path: before create(), lock() and
// unlock() do nothing and report -1.
//
// Thread-safety: create() is called once by the owner before other threads use the lock;
// lock()/unlock() from any thread.
class OS_Mutex {
public:
    OS_Mutex() = default;
    OS_Mutex(const OS_Mutex&) = delete;
    OS_Mutex& operator=(const OS_Mutex&) = delete;

    int create() {
        m_created.store(true, std::memory_order_release);
        return 0;
    }
    bool created() const { return m_created.load(std::memory_order_acquire); }

    // Waits without time-out.
    int lock() {
        if (!created()) return -1;
        m_mutex.lock();
        return 0;
    }
    int unlock() {
        if (!created()) return -1;
        m_mutex.unlock();
        return 0;
    }

private:
    std::mutex m_mutex;
    std::atomic<bool> m_created{false};
};

// Holds an OS_Mutex for one scope; does nothing when the mutex was never created.
class OS_MutexLocker {
public:
    explicit OS_MutexLocker(OS_Mutex& mutex) : m_mutex(mutex), m_held(mutex.lock() == 0) {}
    ~OS_MutexLocker() {
        if (m_held) m_mutex.unlock();
    }
    OS_MutexLocker(const OS_MutexLocker&) = delete;
    OS_MutexLocker& operator=(const OS_MutexLocker&) = delete;

private:
    OS_Mutex& m_mutex;
    bool m_held;
};

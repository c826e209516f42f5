#pragma once

#include <thread>

// Base of every worker thread (the writer, the sound capture loops, the preview). A subclass
// supplies run() and keeps its own stop flag, which run() tests.
//
// Lifecycle, always in this order on the owning thread: start(), tell the subclass to stop,
// join(), delete. start() and join() are called by the owner only; run() executes on the new
// thread.
class OS_Thread {
public:
    OS_Thread() = default;
    OS_Thread(const OS_Thread&) = delete;
    OS_Thread& operator=(const OS_Thread&) = delete;

    // Forgets the thread without stopping or waiting for it (owners join first).
    virtual ~OS_Thread();

    // Starts a thread that calls run() once; run()'s result is dropped. Returns 0, or -1 when
    // the thread cannot be created or one is already running.
    virtual int start();

    // The thread body.
    virtual int run() = 0;

    // Waits without limit for the thread to end; does nothing if none was started.
    void join();

    static void msleep(int ms);
    static void sleep(int seconds);

private:
    std::thread m_thread;
};

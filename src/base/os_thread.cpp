#include "base/os_thread.h"

#include <chrono>
#include <system_error>

OS_Thread::~OS_Thread() {
    if (m_thread.joinable()) m_thread.detach();
}

int OS_Thread::start() {
    if (m_thread.joinable()) return -1;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return -1;
    }
    return 0;
}

void OS_Thread::join() {
    if (m_thread.joinable()) m_thread.join();
}

void OS_Thread::msleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void OS_Thread::sleep(int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

#include "capture/event_bridge.h"

#include <chrono>

EventBridge::~EventBridge() {
    stopBridge();
}

int EventBridge::startBridge() {
    m_stop.store(false);
    start(QThread::InheritPriority);
    return 0;
}

int EventBridge::postEvent(int id, unsigned int param1, unsigned int param2) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_waiting == kMaxPending) return 0;
        m_queue[size_t((m_first + m_waiting++) % kMaxPending)] = Event{id, param1, param2};
    }
    m_queued.notify_one();
    return 0;
}

void EventBridge::stopBridge() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop.store(true);
    }
    m_queued.notify_one();
    wait();
}

void EventBridge::run() {
    while (!m_stop.load()) {
        Event event;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_queued.wait(lock, [this] { return m_stop.load() || m_waiting > 0; });
            if (m_stop.load()) break;
            event = m_queue[size_t(m_first)];
            m_first = (m_first + 1) % kMaxPending;
            --m_waiting;
        }
        if (event.id != 0) emit eventTriggered(event.id, event.param1, event.param2);
        msleep(kPeriodMs);
    }
}

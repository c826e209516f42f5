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
        if (m_queue.size() >= size_t(kMaxPending)) return 0;
        m_queue.push_back(Event{id, param1, param2});
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
            m_queued.wait(lock, [this] { return m_stop.load() || !m_queue.empty(); });
            if (m_stop.load()) break;
            event = m_queue.front();
            m_queue.pop_front();
        }
        if (event.id != 0) emit eventTriggered(event.id, event.param1, event.param2);
        msleep(kPeriodMs);
    }
}

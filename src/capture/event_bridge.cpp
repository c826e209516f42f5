#include "capture/event_bridge.h"

EventBridge::~EventBridge() {
    stopBridge();
}

int EventBridge::startBridge() {
    m_lock.create();
    m_stop.store(false);
    start(QThread::InheritPriority);
    return 0;
}

int EventBridge::postEvent(int id, unsigned int param1, unsigned int param2) {
    OS_MutexLocker locker(m_lock);
    if (m_queue.size() < size_t(kMaxPending)) m_queue.push_back(Event{id, param1, param2});
    return 0;
}

void EventBridge::stopBridge() {
    m_stop.store(true);
    wait();
}

void EventBridge::run() {
    while (!m_stop.load()) {
        Event event;
        {
            OS_MutexLocker locker(m_lock);
            if (!m_queue.empty()) {
                event = m_queue.front();
                m_queue.pop_front();
            }
        }
        if (event.id != 0) emit eventTriggered(event.id, event.param1, event.param2);
        msleep(kPeriodMs);
    }
}

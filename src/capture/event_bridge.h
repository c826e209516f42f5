#pragma once

#include <QThread>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Carries small events from worker threads to the GUI thread: posters append to a queue and
// return at once; the bridge's own thread sleeps until an event waits, emits it as
// eventTriggered (Qt delivers it to receivers in the GUI thread through their event loop) and
// takes the next no sooner than 25 ms later. At most 100 events wait, in a ring that never
// allocates (the sound input posts from its capture threads); one posted beyond that is dropped.
//
// Threads: startBridge() and stopBridge() by the owner; postEvent() from any thread (it takes
// m_lock, which guards the ring (m_queue, m_first, m_waiting) and m_stop's wake-up, for one
// queue operation); eventTriggered is
// emitted on the bridge thread, outside the lock.
class EventBridge : public QThread {
    Q_OBJECT

public:
    struct Event {
        int32_t id = 0;  // 0: no event, never delivered
        uint32_t param1 = 0;
        uint32_t param2 = 0;
    };

    static constexpr int kMaxPending = 100;
    static constexpr int kPeriodMs = 25;

    EventBridge() = default;
    ~EventBridge() override;

    int startBridge();
    int postEvent(int id, unsigned int param1, unsigned int param2);
    // Returns once the thread has ended; events still waiting are not delivered.
    void stopBridge();

signals:
    void eventTriggered(int id, unsigned int param1, unsigned int param2);

protected:
    void run() override;

private:
    std::mutex m_lock;
    std::condition_variable m_queued;  // an event waits, or the bridge is to stop
    std::array<Event, kMaxPending> m_queue;
    int m_first = 0;    // index of the oldest waiting event
    int m_waiting = 0;  // events in the ring
    std::atomic<bool> m_stop{false};
};

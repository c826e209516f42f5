// The relay from capture threads to the GUI thread.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <mutex>
#include <thread>
#include <vector>

#include "capture/event_bridge.h"
#include "test_support.h"

using testsupport::waitUntil;

namespace {

class Received {
public:
    void add(int id, unsigned int param1, unsigned int param2) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back({id, param1, param2});
    }
    std::vector<EventBridge::Event> events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    size_t count() { return events().size(); }

private:
    std::mutex m_mutex;
    std::vector<EventBridge::Event> m_events;
};

void collect(EventBridge& bridge, Received& received) {
    QObject::connect(
        &bridge, &EventBridge::eventTriggered, &bridge,
        [&received](int id, unsigned int param1, unsigned int param2) {
            received.add(id, param1, param2);
        },
        Qt::DirectConnection);
}

}  // namespace

TEST(EventBridge, KeepsAHundredWaitingEventsInOrderAndDropsTheRest) {
    EventBridge bridge;
    Received received;
    collect(bridge, received);
    for (unsigned int n = 0; n < 150; ++n)
        bridge.postEvent(n % 2 ? 1 : 2, n, n * 3);
    bridge.postEvent(0, 999, 999);  // beyond the limit anyway; id 0 is never delivered
    bridge.startBridge();
    ASSERT_TRUE(waitUntil([&] { return received.count() >= 100; }, 10000));
    QThread::msleep(100);
    bridge.stopBridge();

    const auto events = received.events();
    ASSERT_EQ(events.size(), 100u);
    for (unsigned int n = 0; n < 100; ++n) {
        EXPECT_EQ(events[n].id, n % 2 ? 1 : 2);
        EXPECT_EQ(events[n].param1, n);
        EXPECT_EQ(events[n].param2, n * 3);
    }
}

TEST(EventBridge, ConcurrentPostersEachKeepTheirOrderAndStopLeavesTheRest) {
    EventBridge bridge;
    Received received;
    collect(bridge, received);
    bridge.startBridge();
    std::thread stereo([&] {
        for (unsigned int n = 0; n < 20; ++n)
            bridge.postEvent(1, n, 0);
    });
    std::thread microphone([&] {
        for (unsigned int n = 0; n < 20; ++n)
            bridge.postEvent(2, n, 0);
    });
    stereo.join();
    microphone.join();
    ASSERT_TRUE(waitUntil([&] { return received.count() >= 40; }, 10000));

    unsigned int next[3] = {0, 0, 0};
    for (const auto& event : received.events()) {
        ASSERT_TRUE(event.id == 1 || event.id == 2);
        EXPECT_EQ(event.param1, next[event.id]++);
    }
    EXPECT_EQ(next[1], 20u);
    EXPECT_EQ(next[2], 20u);

    for (unsigned int n = 0; n < 60; ++n)
        bridge.postEvent(1, n, 0);
    bridge.stopBridge();  // returns although events wait
    const size_t atStop = received.count();
    EXPECT_LT(atStop, 40u + 60u);
    QThread::msleep(100);
    EXPECT_EQ(received.count(), atStop);
}

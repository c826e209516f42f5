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

TEST(EventBridge, KeepsAHundredWaitingEventsEachPostersInOrderAndStopsWithoutTheRest) {
    EventBridge bridge;
    Received received;
    collect(bridge, received);
    // Two posters at once, before the bridge runs: a hundred events wait, the rest are dropped.
    std::thread stereo([&] {
        for (unsigned int n = 0; n < 75; ++n)
            bridge.postEvent(1, n, n * 3);
    });
    for (unsigned int n = 0; n < 75; ++n)
        bridge.postEvent(2, n, n * 3);
    stereo.join();
    bridge.postEvent(0, 999, 999);  // id 0 is never delivered
    bridge.startBridge();
    ASSERT_TRUE(waitUntil([&] { return received.count() >= 100; }, 10000));
    QThread::msleep(60);
    unsigned int next[3] = {0, 0, 0};
    const auto events = received.events();
    ASSERT_EQ(events.size(), 100u);
    for (const auto& event : events) {
        ASSERT_TRUE(event.id == 1 || event.id == 2);
        EXPECT_EQ(event.param2, 3 * event.param1);
        EXPECT_EQ(event.param1, next[event.id]++);
    }
    for (unsigned int n = 0; n < 60; ++n)
        bridge.postEvent(1, n, 0);
    bridge.stopBridge();  // returns although events wait
    const size_t atStop = received.count();
    EXPECT_LT(atStop, 160u);
    QThread::msleep(100);
    EXPECT_EQ(received.count(), atStop);
}

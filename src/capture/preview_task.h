#pragma once

#include <atomic>
#include <list>

#include "base/os_mutex.h"
#include "base/os_thread.h"
#include "pipeline/mm_packet.h"

class PreviewRenderer;

// The preview's own thread: takes camera pictures from a short queue and draws them, so that
// capture never waits for drawing. A picture that finds five waiting is dropped.
//
// Threads: start() and stop() on the GUI thread; put() on the camera's streaming thread; run()
// on the preview thread. m_lock guards m_queue.
class PreviewTask : public OS_Thread {
public:
    static constexpr int kMaxQueued = 5;

    explicit PreviewTask(PreviewRenderer* renderer) : m_renderer(renderer) {}
    ~PreviewTask() override { stop(); }

    int start() override;
    // Takes over the packet's data: queues it, or frees it when the queue is full.
    int put(MMPacket& packet);
    // Ends the thread and frees every picture still queued.
    void stop();
    int run() override;

    int queued();

private:
    PreviewRenderer* m_renderer;  // not owned
    OS_Mutex m_lock;
    std::list<MMPacket> m_queue;
    std::atomic<bool> m_quit{false};
};

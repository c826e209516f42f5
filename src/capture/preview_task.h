#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/os_thread.h"
#include "pipeline/mm_packet.h"

class PreviewRenderer;

// The preview's own thread: takes camera pictures from a short queue and draws them, so that
// capture never waits for drawing. A picture that finds five waiting is dropped. The thread
// sleeps until a picture waits.
//
// Threads: start() and stop() on the owner's thread; put() on the camera's streaming thread;
// run() on the preview thread. m_lock guards m_queue and m_quit.
class PreviewTask : public OS_Thread {
public:
    static constexpr int kMaxQueued = 5;

    explicit PreviewTask(PreviewRenderer* renderer) : m_renderer(renderer) {}
    ~PreviewTask() override { stop(); }

    int start() override;
    // Takes the picture over: queues it, or frees it when the queue is full.
    int put(MMPacket&& packet);
    // Ends the thread and frees every picture still queued.
    void stop();
    int run() override;

    int queued();

private:
    PreviewRenderer* m_renderer;  // not owned
    std::mutex m_lock;
    std::condition_variable m_changed;  // a picture waits, or the thread is to end
    std::deque<MMPacket> m_queue;
    bool m_quit = false;
};

#include "capture/preview_task.h"

#include <pthread.h>

#include "capture/preview_renderer.h"

int PreviewTask::start() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = false;
    }
    return OS_Thread::start();
}

int PreviewTask::put(MMPacket&& packet) {
    MMPacket dropped;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_queue.size() < size_t(kMaxQueued))
            m_queue.push_back(std::move(packet));
        else
            dropped = std::move(packet);
    }
    m_changed.notify_one();
    return 0;
}

int PreviewTask::queued() {
    std::lock_guard<std::mutex> lock(m_lock);
    return int(m_queue.size());
}

void PreviewTask::stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = true;
    }
    m_changed.notify_one();
    join();
    std::deque<MMPacket> left;
    std::lock_guard<std::mutex> lock(m_lock);
    left.swap(m_queue);
}

int PreviewTask::run() {
    pthread_setname_np(pthread_self(), "preview");
    for (;;) {
        MMPacket packet;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit) break;
            packet = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (m_renderer) m_renderer->draw(packet.data);
    }
    return 0;
}

#include "capture/preview_task.h"

#include <pthread.h>

#include "capture/preview_renderer.h"

int PreviewTask::start() {
    m_lock.create();
    m_quit.store(false);
    return OS_Thread::start();
}

int PreviewTask::put(MMPacket& packet) {
    MMPacket dropped;
    {
        OS_MutexLocker locker(m_lock);
        if (m_queue.size() < size_t(kMaxQueued))
            m_queue.push_back(packet);
        else
            dropped = packet;
    }
    packet.owns = false;
    dropped.release();
    return 0;
}

int PreviewTask::queued() {
    OS_MutexLocker locker(m_lock);
    return int(m_queue.size());
}

void PreviewTask::stop() {
    m_quit.store(true);
    join();
    std::list<MMPacket> left;
    {
        OS_MutexLocker locker(m_lock);
        left.swap(m_queue);
    }
    for (MMPacket& packet : left)
        packet.release();
}

int PreviewTask::run() {
    pthread_setname_np(pthread_self(), "preview");
    while (!m_quit.load()) {
        msleep(10);
        MMPacket packet;
        {
            OS_MutexLocker locker(m_lock);
            if (!m_queue.empty()) {
                packet = m_queue.front();
                m_queue.pop_front();
            }
        }
        if (!packet.isEmpty() && m_renderer) m_renderer->draw(packet.data);
        packet.release();
    }
    return 0;
}

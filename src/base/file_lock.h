#pragma once

#include <sys/types.h>

#include <string>

// An exclusive advisory lock (flock) on one file, held while this object holds it. The kernel
// drops it when the process ends however it ends, so a file whose lock can be taken is one that
// no running program is writing.
//
// Threads: one owner thread; the lock belongs to the open file, not to a thread.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens path and takes the lock without waiting. With create the file is made when missing
    // and given mode (umask aside: a recording is for its owner only); without it the file is
    // opened for reading and never changed. Returns 0, or -1 with error() set; busy() then says
    // whether another holder has the lock (as opposed to the file being unusable).
    int acquire(const std::string& path, bool create, mode_t mode = 0600);
    // Drops the lock and closes the file. Safe to call twice.
    void release();

    bool held() const { return m_fd >= 0; }
    bool busy() const { return m_busy; }
    const std::string& error() const { return m_error; }

private:
    int m_fd = -1;
    bool m_busy = false;
    std::string m_error;
};

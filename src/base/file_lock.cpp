#include "base/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int FileLock::acquire(const std::string& path, bool create, mode_t mode) {
    release();
    m_busy = false;
    m_error.clear();
    const int flags = create ? O_WRONLY | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
    m_fd = ::open(path.c_str(), flags, mode);
    if (m_fd < 0) {
        m_error = strerror(errno);
        return -1;
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_busy = errno == EWOULDBLOCK;
        m_error = m_busy ? "another program is writing it" : strerror(errno);
        release();
        return -1;
    }
    // A file that was already there keeps its old mode through open(): set it here.
    if (create && fchmod(m_fd, mode) != 0) {
        m_error = strerror(errno);
        release();
        return -1;
    }
    return 0;
}

void FileLock::release() {
    if (m_fd < 0) return;
    ::close(m_fd);  // drops the lock with the last descriptor of this open file
    m_fd = -1;
}

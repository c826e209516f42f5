#pragma once
// Counts what the program's own code copies, for the benchmarks that report copies: the
// executable's link wraps memcpy and memmove (-Wl,--wrap=memcpy,--wrap=memmove), which covers
// the executable and its static libraries but not the shared ones (FFmpeg, GStreamer). Include
// it in one file of the executable.
#include <sys/resource.h>

#include <atomic>
#include <cstddef>

// Bytes moved by memcpy and memmove so far, from any thread.
inline std::atomic<long> gCopiedBytes{0};

extern "C" {
void* __real_memcpy(void* to, const void* from, size_t size);
void* __real_memmove(void* to, const void* from, size_t size);
void* __wrap_memcpy(void* to, const void* from, size_t size) {
    gCopiedBytes.fetch_add(long(size), std::memory_order_relaxed);
    return __real_memcpy(to, from, size);
}
void* __wrap_memmove(void* to, const void* from, size_t size) {
    gCopiedBytes.fetch_add(long(size), std::memory_order_relaxed);
    return __real_memmove(to, from, size);
}
}

// CPU seconds the whole process has used so far, user and system.
inline double processCpuSeconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

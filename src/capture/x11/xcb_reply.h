#pragma once

#include <cstdlib>
#include <memory>

// The single owner of an xcb reply (or event), which xcb allocates with malloc.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

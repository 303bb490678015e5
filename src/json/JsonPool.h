#pragma once

// Small-block pool for the JSON tree. A parsed document is hundreds of thousands of small blocks (values,
// member nodes, tables, array slots) that are made together and usually freed together; the general
// allocator spends more time on them than the reader spends on the text, and scatters them so that walking
// the tree misses the cache. Here each thread carves its blocks in order out of 64 KiB chunks; a freed block
// only counts its chunk down, and a chunk whose blocks are all freed is reused whole. A block may be freed on
// any thread. The price: memory of freed blocks comes back only when all of its chunk's blocks are freed.
//
// The common steps (carving from the current chunk, counting a free in the chunk last freed into) are inline;
// everything else is in JsonPool.cpp.
//
// Under AddressSanitizer the pool passes everything to the general allocator so that use-after-free and
// overflows inside the tree are still caught.

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QARVIA_JSON_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QARVIA_JSON_POOL 0
#endif
#endif
#ifndef QARVIA_JSON_POOL
#define QARVIA_JSON_POOL 1
#endif

namespace qarvia::json::pool {

inline constexpr size_t MaxPooled = 256;
inline constexpr size_t Granule = 16;
inline constexpr size_t ChunkSize = 64 * 1024;

// The size a pooled block of `size` bytes takes, and the chunk a pooled block lies in.
inline constexpr size_t pooledSize(size_t size) {
    return size == 0 ? Granule : (size + Granule - 1) & ~(Granule - 1);
}
inline void* chunkOf(const void* block) noexcept {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t(ChunkSize - 1));
}

void* allocateSlow(size_t size);
void releaseSlow(void* block, size_t size) noexcept;

#if QARVIA_JSON_POOL

// This thread's carving position and the frees it has not yet handed to their chunk. Plain data without
// constructor or destructor, so that the inline steps reach it directly; the thread's end is seen to in
// JsonPool.cpp.
struct CarverState {
    char* bump;
    char* end;
    int64_t carved;      // blocks carved from the current chunk
    void* freeChunk;     // the chunk the pending frees belong to
    int64_t freePending; // frees counted but not yet handed to that chunk
};
extern constinit thread_local CarverState carverState;

inline void* allocate(size_t size) {
    if (size <= MaxPooled) {
        const size_t rounded = pooledSize(size);
        CarverState& c = carverState;
        if (size_t(c.end - c.bump) >= rounded) {
            void* block = c.bump;
            c.bump += rounded;
            ++c.carved;
            return block;
        }
    }
    return allocateSlow(size);
}

inline void release(void* block, size_t size) noexcept {
    CarverState& c = carverState;
    if (size <= MaxPooled && block && chunkOf(block) == c.freeChunk) {
        ++c.freePending;
        return;
    }
    releaseSlow(block, size);
}

#else

inline void* allocate(size_t size) {
    return ::operator new(size);
}

inline void release(void* block, size_t) noexcept {
    ::operator delete(block);
}

#endif

} // namespace qarvia::json::pool

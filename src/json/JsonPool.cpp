#include "json/JsonPool.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

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

#if QARVIA_JSON_POOL

namespace {

constexpr size_t Granule = 16;
constexpr size_t Classes = MaxPooled / Granule;
constexpr size_t ChunkSize = 64 * 1024;

struct FreeBlock {
    FreeBlock* next;
};

// Every chunk ever taken, so that they stay reachable (and reusable) after their thread ends.
std::mutex chunkMutex;
std::vector<void*>* chunks = nullptr;

char* newChunk() {
    void* chunk = std::malloc(ChunkSize);
    if (!chunk)
        throw std::bad_alloc();
    std::lock_guard<std::mutex> lock(chunkMutex);
    if (!chunks)
        chunks = new std::vector<void*>;
    chunks->push_back(chunk);
    return static_cast<char*>(chunk);
}

struct ThreadPool {
    FreeBlock* heads[Classes] = {};
    char* bump = nullptr;
    char* bumpEnd = nullptr;

    void* take(size_t cls) {
        if (FreeBlock* b = heads[cls]) {
            heads[cls] = b->next;
            return b;
        }
        const size_t size = (cls + 1) * Granule;
        if (size_t(bumpEnd - bump) < size) {
            // Give the tail of the old chunk to the free lists before moving on.
            while (bump && size_t(bumpEnd - bump) >= Granule) {
                const size_t rest = size_t(bumpEnd - bump) / Granule - 1;
                const size_t c = rest < Classes ? rest : Classes - 1;
                give(bump, c);
                bump += (c + 1) * Granule;
            }
            bump = newChunk();
            bumpEnd = bump + ChunkSize;
        }
        void* block = bump;
        bump += size;
        return block;
    }
    void give(void* block, size_t cls) noexcept {
        auto* b = static_cast<FreeBlock*>(block);
        b->next = heads[cls];
        heads[cls] = b;
    }
};

thread_local ThreadPool local;

inline size_t classOf(size_t size) {
    return size == 0 ? 0 : (size - 1) / Granule;
}

} // namespace

void* allocate(size_t size) {
    if (size > MaxPooled)
        return ::operator new(size);
    return local.take(classOf(size));
}

void release(void* block, size_t size) noexcept {
    if (!block)
        return;
    if (size > MaxPooled) {
        ::operator delete(block);
        return;
    }
    local.give(block, classOf(size));
}

#else

void* allocate(size_t size) {
    return ::operator new(size);
}

void release(void* block, size_t) noexcept {
    ::operator delete(block);
}

#endif

} // namespace qarvia::json::pool

#include "json/JsonPool.h"

#include <atomic>
#include <cstdint>
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
constexpr size_t ChunkSize = 64 * 1024;
constexpr size_t HeaderSize = 64;
constexpr int64_t Bias = int64_t(1) << 40;
constexpr size_t KeptChunks = 512; // up to 32 MiB kept for the next document

// At the start of every chunk. Counts blocks not yet freed, plus Bias while a thread still carves from it.
struct alignas(64) ChunkHeader {
    std::atomic<int64_t> live;
};
static_assert(sizeof(ChunkHeader) <= HeaderSize);

// Dead chunks kept for reuse (the rest go back to the system).
std::mutex spareMutex;
std::vector<void*>* spares = nullptr;

ChunkHeader* acquireChunk() {
    void* chunk = nullptr;
    {
        std::lock_guard<std::mutex> lock(spareMutex);
        if (spares && !spares->empty()) {
            chunk = spares->back();
            spares->pop_back();
        }
    }
    if (!chunk)
        chunk = std::aligned_alloc(ChunkSize, ChunkSize);
    if (!chunk)
        throw std::bad_alloc();
    auto* header = new (chunk) ChunkHeader;
    header->live.store(Bias, std::memory_order_relaxed);
    return header;
}

void recycleChunk(ChunkHeader* header) noexcept {
    header->~ChunkHeader();
    {
        std::lock_guard<std::mutex> lock(spareMutex);
        if (!spares)
            spares = new (std::nothrow) std::vector<void*>;
        if (spares && spares->size() < KeptChunks) {
            try {
                spares->push_back(header);
                return;
            } catch (...) {
            }
        }
    }
    std::free(header);
}

void countDown(ChunkHeader* header, int64_t n) noexcept {
    if (header->live.fetch_sub(n, std::memory_order_acq_rel) == n)
        recycleChunk(header);
}

struct ThreadCarver {
    ChunkHeader* chunk = nullptr;
    char* bump = nullptr;
    char* end = nullptr;
    int64_t carved = 0;
    // Frees are counted here while they fall in one chunk (a tree is freed mostly chunk by chunk) and
    // handed to the chunk's shared counter in one step; at worst one chunk per thread waits for the next
    // free, allocation or the thread's end.
    ChunkHeader* freeChunk = nullptr;
    int64_t freePending = 0;

    ~ThreadCarver() {
        flushFrees();
        retire();
    }

    void flushFrees() noexcept {
        if (freeChunk)
            countDown(freeChunk, freePending);
        freeChunk = nullptr;
        freePending = 0;
    }
    void countFree(ChunkHeader* header) noexcept {
        if (header != freeChunk) {
            flushFrees();
            freeChunk = header;
        }
        ++freePending;
    }

    // Hands the chunk over to its blocks: it dies with the last of them.
    void retire() noexcept {
        if (chunk)
            countDown(chunk, Bias - carved);
        chunk = nullptr;
        bump = end = nullptr;
        carved = 0;
    }

    void* take(size_t size) {
        if (size_t(end - bump) < size) {
            flushFrees(); // a chunk that died meanwhile can be taken again at once
            retire();
            chunk = acquireChunk();
            bump = reinterpret_cast<char*>(chunk) + HeaderSize;
            end = reinterpret_cast<char*>(chunk) + ChunkSize;
        }
        void* block = bump;
        bump += size;
        ++carved;
        return block;
    }
};

thread_local ThreadCarver carver;

} // namespace

void* allocate(size_t size) {
    if (size > MaxPooled)
        return ::operator new(size);
    return carver.take(size == 0 ? Granule : (size + Granule - 1) & ~(Granule - 1));
}

void release(void* block, size_t size) noexcept {
    if (!block)
        return;
    if (size > MaxPooled) {
        ::operator delete(block);
        return;
    }
    carver.countFree(reinterpret_cast<ChunkHeader*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t(ChunkSize - 1)));
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

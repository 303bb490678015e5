#include "json/JsonPool.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace qarvia::json::pool {

#if QARVIA_JSON_POOL

constinit thread_local CarverState carverState{};

namespace {

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

// Frees are counted in carverState while they fall in one chunk (a tree is freed mostly chunk by chunk) and
// handed to the chunk's shared counter in one step; at worst one chunk per thread waits for the next free,
// allocation or the thread's end.
void flushFrees() noexcept {
    CarverState& c = carverState;
    if (c.freeChunk)
        countDown(static_cast<ChunkHeader*>(c.freeChunk), c.freePending);
    c.freeChunk = nullptr;
    c.freePending = 0;
}

// Hands the carving chunk over to its blocks: it dies with the last of them.
void retire() noexcept {
    CarverState& c = carverState;
    if (c.end)
        countDown(static_cast<ChunkHeader*>(chunkOf(c.end - 1)), Bias - c.carved);
    c.bump = c.end = nullptr;
    c.carved = 0;
}

// Settles the thread's chunk and pending frees when the thread ends; armed by the first chunk it takes.
struct ThreadEnd {
    ~ThreadEnd() {
        flushFrees();
        retire();
    }
};
thread_local ThreadEnd threadEnd;

} // namespace

void* allocateSlow(size_t size) {
    if (size > MaxPooled)
        return ::operator new(size);
    // The current chunk has no room left: carve from a new one.
    CarverState& c = carverState;
    [[maybe_unused]] volatile ThreadEnd* arm = &threadEnd;
    flushFrees(); // a chunk that died meanwhile can be taken again at once
    retire();
    ChunkHeader* chunk = acquireChunk();
    c.bump = reinterpret_cast<char*>(chunk) + HeaderSize;
    c.end = reinterpret_cast<char*>(chunk) + ChunkSize;
    return allocate(size);
}

void releaseSlow(void* block, size_t size) noexcept {
    if (!block)
        return;
    if (size > MaxPooled) {
        ::operator delete(block);
        return;
    }
    CarverState& c = carverState;
    void* header = chunkOf(block);
    if (header != c.freeChunk) {
        [[maybe_unused]] volatile ThreadEnd* arm = &threadEnd; // a thread that only frees settles them too
        flushFrees();
        c.freeChunk = header;
    }
    ++c.freePending;
}

#else

void* allocateSlow(size_t size) {
    return ::operator new(size);
}

void releaseSlow(void* block, size_t) noexcept {
    ::operator delete(block);
}

#endif

} // namespace qarvia::json::pool

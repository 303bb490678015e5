#pragma once

// Small-block pool for the JSON tree. A parsed document is hundreds of thousands of small blocks (values,
// member nodes, tables, array slots) that are made together and usually freed together; the general
// allocator spends more time on them than the reader spends on the text, and scatters them so that walking
// the tree misses the cache. Here each thread carves its blocks in order out of 64 KiB chunks; a freed block
// only counts its chunk down, and a chunk whose blocks are all freed is reused whole. A block may be freed on
// any thread. The price: memory of freed blocks comes back only when all of its chunk's blocks are freed.
//
// Under AddressSanitizer the pool passes everything to the general allocator so that use-after-free and
// overflows inside the tree are still caught.

#include <cstddef>

namespace qarvia::json::pool {

inline constexpr size_t MaxPooled = 256;

void* allocate(size_t size);
void release(void* block, size_t size) noexcept;

} // namespace qarvia::json::pool

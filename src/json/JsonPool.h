#pragma once

// Small-block pool for the JSON tree. A parsed document is hundreds of thousands of small blocks (values,
// member nodes, tables, array slots) that are made and freed together; the general allocator spends more
// time on them than the reader spends on the text. Each thread keeps free lists per 16-byte size class and
// carves new blocks out of 64 KiB chunks. A block may be freed on any thread; it then joins that thread's
// list. Chunks stay registered for the life of the process and are reused, never returned to the system.
//
// Under AddressSanitizer the pool passes everything to the general allocator so that use-after-free and
// overflows inside the tree are still caught.

#include <cstddef>

namespace qarvia::json::pool {

inline constexpr size_t MaxPooled = 256;

void* allocate(size_t size);
void release(void* block, size_t size) noexcept;

} // namespace qarvia::json::pool

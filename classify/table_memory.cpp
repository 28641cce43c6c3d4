// Memory for the pair table's big arrays: zeroed, huge-page aligned, returned whole.
//
// They are randomly probed, so they are backed by huge pages where the kernel
// allows, which saves a TLB miss on most lookups of a large table.
#include "classify/classify.h"

#include <sys/mman.h>

namespace {

constexpr size_t HUGE_PAGE_SIZE = size_t{2} << 20;

}  // namespace

void *allocate_table_memory(size_t bytes, table_memory &memory) {
    const size_t length = bytes + HUGE_PAGE_SIZE;
    void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(base) + HUGE_PAGE_SIZE - 1) & ~(HUGE_PAGE_SIZE - 1);
    madvise(reinterpret_cast<void *>(aligned), bytes, MADV_HUGEPAGE);  // only advice: fine if refused
    memory = {base, length};
    return reinterpret_cast<void *>(aligned);
}

void free_table_memory(table_memory &memory) {
    if (memory.base != nullptr) {
        munmap(memory.base, memory.length);
    }
    memory = {nullptr, 0};
}

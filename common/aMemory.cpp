#include "common/aMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr uintptr_t kHugePage = 2 * 1024 * 1024;

}  // namespace

void aMemory_AdviseHugePages(void* buffer, size_t length) {
    uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + length) & ~(kHugePage - 1);
    if (buffer && end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

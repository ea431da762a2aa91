#include "scratch.hpp"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tolm::scratch {

namespace {

void ask_large_pages(std::uintptr_t address, std::size_t bytes) {
#ifdef __linux__
    constexpr std::uintptr_t large = std::uintptr_t{1} << 21;
    const std::uintptr_t from = (address + large - 1) & ~(large - 1);
    const std::uintptr_t to = (address + bytes) & ~(large - 1);
    if (from < to) {
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#else
    (void)address;
    (void)bytes;
#endif
}

}  // namespace

ZeroedBlock::ZeroedBlock(std::size_t bytes, bool large) : block_(std::calloc(bytes + line, 1), &std::free) {
    if (!block_) {
        throw std::bad_alloc();
    }
    const auto address = reinterpret_cast<std::uintptr_t>(block_.get());
    aligned_ = reinterpret_cast<void*>((address + line - 1) & ~std::uintptr_t{line - 1});
    if (large) {
        ask_large_pages(address, bytes + line);
    }
}

}  // namespace tolm::scratch

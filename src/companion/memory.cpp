#include "memory.hpp"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tolmkit {

void* zeroed(std::size_t bytes, Pages pages) {
#ifdef __linux__
    if (pages == Pages::large) {
        void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        // Advice only: on small pages the memory works the same, slower.
        madvise(memory, bytes, MADV_HUGEPAGE);
        return memory;
    }
#endif
    void* memory = std::calloc(bytes, 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void release(void* memory, std::size_t bytes, Pages pages) {
#ifdef __linux__
    if (pages == Pages::large) {
        munmap(memory, bytes);
        return;
    }
#endif
    static_cast<void>(bytes);
    std::free(memory);
}

}  // namespace tolmkit

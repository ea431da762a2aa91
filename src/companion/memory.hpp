// Zeroed memory for tables that are read all over: on the system's large
// pages where it has them (Linux's transparent huge pages), where on small
// pages nearly every read would miss the address cache too.
#pragma once

#include <cstddef>

namespace tolmkit {

// Where the memory comes from: large pages where the system has them, or
// ordinary memory.
enum class Pages { large, small };

// `bytes` zeroed bytes; throws std::bad_alloc.
void* zeroed(std::size_t bytes, Pages pages);

// Gives back what zeroed(bytes, pages) gave.
void release(void* memory, std::size_t bytes, Pages pages);

// n zeroed elements of T, T being zero when all its bytes are.
template <typename T>
class Zeroed {
public:
    Zeroed(std::size_t n, Pages pages)
        : bytes_(n * sizeof(T) + 1), pages_(pages), data_(static_cast<T*>(zeroed(bytes_, pages))) {}
    ~Zeroed() {
        if (data_ != nullptr) {
            release(data_, bytes_, pages_);
        }
    }
    Zeroed(Zeroed&& other) noexcept : bytes_(other.bytes_), pages_(other.pages_), data_(other.data_) {
        other.data_ = nullptr;
    }
    Zeroed(const Zeroed&) = delete;
    Zeroed& operator=(const Zeroed&) = delete;
    Zeroed& operator=(Zeroed&&) = delete;

    T& operator[](std::size_t k) { return data_[k]; }

private:
    std::size_t bytes_;
    Pages pages_;
    T* data_;
};

}  // namespace tolmkit

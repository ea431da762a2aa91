#include "identifiers.hpp"

#include <cstddef>
#include <cstring>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tolmkit {

namespace {

// Strings whose slots are looked up ahead, so that the memory fetches of a
// batch overlap instead of following one another.
constexpr std::int64_t kBatch = 32;
// The longest string kept in its slot, compared there without a fetch from
// the strings; identifiers are mostly shorter.
constexpr std::int64_t kInline = 20;

std::uint64_t mixed(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t hash(const std::uint8_t* bytes, std::int64_t length) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(length);
    std::int64_t at = 0;
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        h = (h ^ word) * 0x9fb21c651e98df25ULL;
        h ^= h >> 29;
    }
    // Byte by byte: a copy of a variable length would be a call.
    std::uint64_t tail = 0;
    for (std::int64_t k = length - 1; k >= at; --k) {
        tail = (tail << 8) | bytes[k];
    }
    return mixed(h ^ tail);
}

// Half a cache line: a look-up of a short string reads its slots alone.
struct alignas(32) Slot {
    std::uint32_t tag;     // the upper half of the string's hash
    std::uint32_t number;  // the string's number + 1, 0 when empty
    std::uint32_t length;
    std::uint8_t bytes[kInline];
};
static_assert(sizeof(Slot) == 32, "a slot is half a cache line");

// Zeroed slots in memory of their own, on large pages where the system has
// them: look-ups land anywhere in the table, and on small pages nearly each
// would miss the address cache too.
class Slots {
   public:
    explicit Slots(std::uint64_t count) : bytes_(count * sizeof(Slot)) {
#ifdef __linux__
        void* memory = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        madvise(memory, bytes_, MADV_HUGEPAGE);
        slots_ = static_cast<Slot*>(memory);
#else
        slots_ = new Slot[count]();
#endif
    }
    ~Slots() {
#ifdef __linux__
        munmap(slots_, bytes_);
#else
        delete[] slots_;
#endif
    }
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;

    Slot& operator[](std::uint64_t k) { return slots_[k]; }
    const Slot& operator[](std::uint64_t k) const { return slots_[k]; }

   private:
    std::size_t bytes_;
    Slot* slots_;
};

// An open-addressing table of string numbers.
class Table {
   public:
    Table(const Strings& strings, std::uint64_t capacity)
        : strings_(strings), slots_(capacity), mask_(capacity - 1) {}
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    void prefetch(std::uint64_t h) const { __builtin_prefetch(&slots_[h & mask_]); }

    // The number of the first string equal to string k, inserting k when
    // `insert` and there is none; −1 for none without inserting.
    std::int64_t find(std::int64_t k, std::uint64_t h, bool insert) {
        const auto tag = static_cast<std::uint32_t>(h >> 32);
        const std::uint8_t* bytes = strings_.data + strings_.offsets[k];
        const auto length = static_cast<std::uint32_t>(strings_.offsets[k + 1] - strings_.offsets[k]);
        for (std::uint64_t at = h & mask_;; at = (at + 1) & mask_) {
            Slot& slot = slots_[at];
            if (slot.number == 0) {
                if (insert) {
                    slot.tag = tag;
                    slot.number = static_cast<std::uint32_t>(k + 1);
                    slot.length = length;
                    std::memcpy(slot.bytes, bytes, length <= kInline ? length : 0);
                    ++used_;
                }
                return -1;
            }
            if (slot.tag == tag && slot.length == length) {
                const std::int64_t other = std::int64_t{slot.number} - 1;
                const std::uint8_t* held = length <= kInline ? slot.bytes : strings_.data + strings_.offsets[other];
                if (std::memcmp(bytes, held, length) == 0) {
                    return other;
                }
            }
        }
    }

    bool crowded() const { return 4 * used_ > 3 * (mask_ + 1); }

   private:
    const Strings& strings_;
    Slots slots_;
    std::uint64_t mask_;
    std::uint64_t used_ = 0;
};

// One pass of match_identifiers over a table of `capacity` slots; −1 when
// the table grew more than 3/4 full.
std::int64_t matched(const Strings& strings, std::int64_t n, std::uint64_t capacity, std::int64_t* found,
                     std::int64_t* outside, std::int64_t* first) {
    Table table(strings, capacity);
    std::int64_t names = 0;
    std::uint64_t hashes[kBatch];
    std::int64_t entries[kBatch];
    // Animals first, then the parents record by record, then the codes.
    const std::int64_t total = strings.count;
    auto entry = [&](std::int64_t step) -> std::int64_t {
        if (step < n || step >= 3 * n) {
            return step;
        }
        const std::int64_t record = (step - n) / 2;
        return record + (1 + (step - n) % 2) * n;
    };
    for (std::int64_t batch = 0; batch < total; batch += kBatch) {
        const std::int64_t size = batch + kBatch <= total ? kBatch : total - batch;
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = entry(batch + j);
            const std::int64_t begin = strings.offsets[k];
            entries[j] = k;
            hashes[j] = hash(strings.data + begin, strings.offsets[k + 1] - begin);
            table.prefetch(hashes[j]);
        }
        for (std::int64_t j = 0; j < size; ++j) {
            const std::int64_t k = entries[j];
            const bool parent = k >= n && k < 3 * n;
            const std::int64_t other = table.find(k, hashes[j], k < 3 * n);
            // After every insertion: a full table would leave a look-up no empty slot to end at.
            if (table.crowded()) {
                return -1;
            }
            if (k < n) {
                found[k] = other < 0 ? k : other;
                outside[k] = -1;
            } else if (other >= 0 && other < n) {
                found[k] = other;
                outside[k] = -1;
            } else {
                found[k] = -1;
                if (!parent) {
                    outside[k] = -1;
                } else if (other < 0) {
                    first[names] = k;
                    outside[k] = names++;
                } else {
                    outside[k] = outside[other];
                }
            }
        }
    }
    return names;
}

constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;

// The high bit of each byte of `word` that equals c, and no other bit.
std::uint64_t bytes_equal(std::uint64_t word, std::uint8_t c) {
    const std::uint64_t x = word ^ (0x0101010101010101ULL * c);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// With & and | rather than && and ||, so that a loop of it vectorises.
unsigned is_control(std::uint8_t c) {
    return (static_cast<unsigned>(c < 0x20) & static_cast<unsigned>(c != '\t') & static_cast<unsigned>(c != '\n')) |
           static_cast<unsigned>(c == 0x7f);
}

// 1 when an odd number of the bytes' high bits are set, else 0.
std::uint64_t parity(std::uint64_t marks) {
    marks ^= marks >> 32;
    marks ^= marks >> 16;
    marks ^= marks >> 8;
    return (marks >> 7) & 1;
}

}  // namespace

std::int64_t match_identifiers(const Strings& strings, std::int64_t n, std::int64_t* found, std::int64_t* outside,
                               std::int64_t* first) {
    // At most two thirds full with the animals alone, room left for the parents
    // that are no animals; doubled whenever they crowd it. The table is the
    // largest memory of the reading, which it reaches all over.
    std::uint64_t capacity = 16;
    while (2 * capacity < 3 * static_cast<std::uint64_t>(n)) {
        capacity *= 2;
    }
    std::int64_t names = matched(strings, n, capacity, found, outside, first);
    while (names < 0) {
        capacity *= 2;
        names = matched(strings, n, capacity, found, outside, first);
    }
    return names;
}

std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, std::int64_t* work) {
    constexpr std::int64_t kUnseen = -2;
    constexpr std::int64_t kOpen = -3;
    for (std::int64_t i = 0; i < n; ++i) {
        generation[i] = kUnseen;
    }
    // Ancestors first by a search up the parents, `order` its stack.
    std::int64_t* stack = order;
    for (std::int64_t root = 0; root < n; ++root) {
        if (generation[root] != kUnseen) {
            continue;
        }
        std::int64_t top = 0;
        stack[top++] = root;
        generation[root] = kOpen;
        while (top > 0) {
            const std::int64_t animal = stack[top - 1];
            const std::int64_t parents[2] = {sire[animal], dam[animal]};
            bool waiting = false;
            for (const std::int64_t parent : parents) {
                if (parent >= 0 && generation[parent] == kUnseen) {
                    generation[parent] = kOpen;
                    stack[top++] = parent;
                    waiting = true;
                    break;
                }
            }
            if (waiting) {
                continue;
            }
            std::int64_t depth = 0;
            for (const std::int64_t parent : parents) {
                if (parent < 0) {
                    continue;
                }
                // A parent still open lies on the stack: a loop through this animal.
                depth = generation[parent] < 0 || depth < 0 ? -1
                                                            : (generation[parent] + 1 > depth ? generation[parent] + 1
                                                                                              : depth);
            }
            generation[animal] = depth;
            --top;
        }
    }
    // Each generation in the order of the numbers, by counting.
    for (std::int64_t g = 0; g <= n; ++g) {
        work[g] = 0;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            ++work[generation[i] + 1];
        }
    }
    for (std::int64_t g = 0; g < n; ++g) {
        work[g + 1] += work[g];
    }
    const std::int64_t placed = work[n];
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            order[work[generation[i]]++] = i;
        }
    }
    return placed;
}

std::int64_t first_control(const std::uint8_t* text, std::int64_t size) {
    // Whole blocks without an early exit, which the compiler turns into
    // vector instructions; the block that holds one is looked at again.
    constexpr std::int64_t kBlock = 4096;
    for (std::int64_t start = 0; start < size; start += kBlock) {
        const std::int64_t end = start + kBlock < size ? start + kBlock : size;
        unsigned found = 0;
        for (std::int64_t at = start; at < end; ++at) {
            found |= is_control(text[at]);
        }
        for (std::int64_t at = start; found != 0 && at < end; ++at) {
            if (is_control(text[at]) != 0) {
                return at;
            }
        }
    }
    return -1;
}

std::int64_t unclosed_quote(const std::uint8_t* text, std::int64_t size) {
    // Eight bytes at a time: only the parity of the quotes before each line
    // end counts, taken from the high bits that mark the bytes.
    std::uint64_t odd = 0;
    std::int64_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + at, 8);
        std::uint64_t quotes = bytes_equal(word, '"');
        for (std::uint64_t ends = bytes_equal(word, '\n'); ends != 0; ends &= ends - 1) {
            const std::uint64_t before = (ends & (~ends + 1)) - 1;
            odd ^= parity(quotes & before);
            if (odd != 0) {
                return at + __builtin_ctzll(ends) / 8;
            }
            quotes &= ~before;
        }
        odd ^= parity(quotes);
    }
    for (; at < size; ++at) {
        odd ^= static_cast<std::uint64_t>(text[at] == '"');
        if (text[at] == '\n' && odd != 0) {
            return at;
        }
    }
    return odd != 0 ? size - 1 : -1;
}

}  // namespace tolmkit

#include "ordering.hpp"

#include <vector>

namespace tolmkit {

namespace {

constexpr std::int64_t unseen = -2;
constexpr std::int64_t open = -3;  // on the search's stack: its ancestors are being visited

// The generation of every animal by a depth-first search up the parents
// that finishes each animal after its ancestors (a depth-first topological
// order), its stack kept in `stack` (n entries) rather than on the call
// stack, which a pedigree of many generations would overflow. An animal
// found open again lies on a loop.
void searched(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
              std::int64_t* stack, Pacer& pace) {
    for (std::int64_t i = 0; i < n; ++i) {
        generation[i] = unseen;
    }
    for (std::int64_t root = 0; root < n; ++root) {
        if (generation[root] != unseen) {
            continue;
        }
        std::int64_t top = 0;
        stack[top++] = root;
        generation[root] = open;
        while (top > 0) {
            pace();
            const std::int64_t animal = stack[top - 1];
            const std::int64_t parents[2] = {sire[animal], dam[animal]};
            bool waiting = false;
            for (const std::int64_t parent : parents) {
                if (parent >= 0 && generation[parent] == unseen) {
                    generation[parent] = open;
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
                depth = generation[parent] < 0 || depth < 0
                            ? -1
                            : (generation[parent] + 1 > depth ? generation[parent] + 1 : depth);
            }
            generation[animal] = depth;
            --top;
        }
    }
}

}  // namespace

std::int64_t generations(std::int64_t n, const std::int64_t* sire, const std::int64_t* dam, std::int64_t* generation,
                         std::int64_t* order, Pacer& pace) {
    searched(n, sire, dam, generation, order, pace);
    // Each generation in the order of the numbers, by a counting sort.
    std::vector<std::int64_t> starts(static_cast<std::size_t>(n) + 1, 0);
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            ++starts[static_cast<std::size_t>(generation[i]) + 1];
        }
    }
    for (std::size_t g = 0; g < static_cast<std::size_t>(n); ++g) {
        starts[g + 1] += starts[g];
    }
    const std::int64_t placed = starts[static_cast<std::size_t>(n)];
    for (std::int64_t i = 0; i < n; ++i) {
        if (generation[i] >= 0) {
            order[starts[static_cast<std::size_t>(generation[i])]++] = i;
        }
    }
    return placed;
}

}  // namespace tolmkit

#include "parent_checks.hpp"

#include <array>
#include <vector>

namespace tolmkit {

namespace {

bool is_animal(std::int32_t parent, std::int64_t n) { return parent >= 0 && parent < n; }

}  // namespace

ParentFinding parent_fault(const std::int32_t* sire, const std::int32_t* dam, std::int64_t n, const std::int8_t* sex,
                           bool selfing) {
    // The first animal of each fault, by its number in ParentFault.
    std::array<std::int64_t, 7> first;
    first.fill(-1);
    const auto note = [&first](ParentFault fault, std::int64_t k) {
        std::int64_t& at = first[static_cast<std::size_t>(fault)];
        if (at < 0) {
            at = k;
        }
    };
    // One bit an animal: whether it sires some animal.
    std::vector<std::uint64_t> sires(selfing ? 0 : static_cast<std::size_t>((n + 63) / 64));
    for (std::int64_t k = 0; k < n; ++k) {
        const std::int32_t s = sire[k], d = dam[k];
        if (s == k) {
            note(ParentFault::own_sire, k);
        }
        if (d == k) {
            note(ParentFault::own_dam, k);
        }
        if (!selfing && is_animal(s, n)) {
            sires[static_cast<std::size_t>(s) / 64] |= std::uint64_t{1} << (s % 64);
            if (s == d) {
                note(ParentFault::selfed, k);
            }
        }
        if (sex != nullptr && is_animal(s, n) && sex[s] == 2) {
            note(ParentFault::female_sire, k);
        }
        if (sex != nullptr && is_animal(d, n) && sex[d] == 1) {
            note(ParentFault::male_dam, k);
        }
    }
    for (std::int64_t k = 0; !selfing && k < n; ++k) {
        const std::int32_t d = dam[k];
        if (is_animal(d, n) && ((sires[static_cast<std::size_t>(d) / 64] >> (d % 64)) & 1) != 0) {
            note(ParentFault::sire_and_dam, k);
            break;
        }
    }
    for (std::size_t fault = 1; fault < first.size(); ++fault) {
        if (first[fault] >= 0) {
            return {static_cast<ParentFault>(fault), first[fault]};
        }
    }
    return {ParentFault::none, -1};
}

}  // namespace tolmkit

// Strings laid out as the companion's routines read them, from a list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "identifiers.hpp"

namespace tolmkit::testing_support {

struct StringTable {
    explicit StringTable(const std::vector<std::string>& strings) : offsets{0} {
        for (const std::string& s : strings) {
            bytes.insert(bytes.end(), s.begin(), s.end());
            offsets.push_back(static_cast<std::int32_t>(bytes.size()));
        }
        bytes.push_back(0);  // data() of an empty list is still a pointer
    }
    Strings strings() const { return {static_cast<std::int64_t>(offsets.size()) - 1, offsets.data(), bytes.data()}; }

    std::vector<std::int32_t> offsets;
    std::vector<std::uint8_t> bytes;
};

}  // namespace tolmkit::testing_support

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "identifiers.hpp"
#include "strings.hpp"

namespace {

using namespace tolmkit;
using testing_support::StringTable;

struct Matched {
    std::vector<std::int32_t> found;
    Outside outside;
    bool operator==(const Matched& other) const {
        return found == other.found && outside.entry == other.outside.entry && outside.name == other.outside.name &&
               outside.first == other.outside.first;
    }
};

// Animals, sires and dams of n records, then codes.
Matched matched(const std::vector<std::string>& strings, std::int64_t n, Pages pages = Pages::large, int threads = 1) {
    const StringTable table(strings);
    Matched result{std::vector<std::int32_t>(strings.size()), {}};
    Pacer pace;
    result.outside = match_identifiers(table.strings(), n, result.found.data(), pace, pages, threads);
    return result;
}

// The matching as its contract states it, with a map.
Matched oracle(const std::vector<std::string>& strings, std::int64_t n) {
    Matched result{std::vector<std::int32_t>(strings.size(), -1), {}};
    std::map<std::string, std::int32_t> animal, name;
    for (std::int64_t k = 0; k < n; ++k) {
        animal.emplace(strings[k], static_cast<std::int32_t>(k));
    }
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(strings.size()); ++k) {
        const auto it = animal.find(strings[k]);
        result.found[k] = it == animal.end() ? -1 : it->second;
    }
    for (std::int64_t record = 0; record < n; ++record) {
        for (const std::int64_t role : {0, 1}) {
            const std::int64_t k = (1 + role) * n + record;
            if (result.found[k] < 0) {
                Outside& outside = result.outside;
                const auto [it, added] = name.emplace(strings[k], static_cast<std::int32_t>(outside.first.size()));
                if (added) {
                    outside.first.push_back(k);
                }
                outside.entry.push_back(2 * record + role);
                outside.name.push_back(it->second);
            }
        }
    }
    return result;
}

TEST(MatchIdentifiers, ParentsNotListedAreNumberedRecordByRecordSireBeforeDam) {
    // Records (c, a, x), (d, y, a), (c, x, z) and the codes "0", "d".
    const Matched got = matched({"c", "d", "c", "a", "y", "x", "x", "a", "z", "0", "d"}, 3);
    EXPECT_EQ(got.found, (std::vector<std::int32_t>{0, 1, 0, -1, -1, -1, -1, -1, -1, -1, 1}));
    EXPECT_EQ(got.outside.entry, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(got.outside.name, (std::vector<std::int32_t>{0, 1, 2, 0, 1, 3}));
    EXPECT_EQ(got.outside.first, (std::vector<std::int64_t>{3, 6, 4, 8}));  // a, x, y, z
}

// Identifiers longer than a slot holds, alike in their first bytes, beside
// short ones and the empty string; enough of them that the table grows
// several times (it starts sized for the animals alone); both kinds of
// memory, large pages or not; the animals put in and the parents looked up
// on 1 to 3 threads.
class AgainstTheOracle : public testing::TestWithParam<Pages> {};

TEST_P(AgainstTheOracle, LongShortAndEmptyIdentifiersThroughGrowth) {
    std::mt19937_64 random(7);
    const std::string prefix(IdentifierTable::inline_length, 'H');
    const auto name = [&](std::uint64_t pool) {
        const std::uint64_t k = random() % pool;
        return k % 5 == 0 ? std::string() : k % 2 == 0 ? prefix + std::to_string(k) : std::to_string(k);
    };
    for (const std::int64_t n : {1, 5, 300}) {
        std::vector<std::string> strings;
        for (std::int64_t k = 0; k < n; ++k) {
            strings.push_back(name(4 * static_cast<std::uint64_t>(n)));
        }
        for (std::int64_t k = 0; k < 2 * n + 7; ++k) {
            strings.push_back(name(40 * static_cast<std::uint64_t>(n)));
        }
        for (const int threads : {1, 2, 3}) {
            EXPECT_EQ(matched(strings, n, GetParam(), threads), oracle(strings, n)) << n << " animals, " << threads;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, AgainstTheOracle, testing::Values(Pages::large, Pages::small),
                         [](const testing::TestParamInfo<Pages>& info) {
                             return info.param == Pages::large ? "LargePages" : "SmallPages";
                         });

TEST(IdentifierTable, StringsOfTheSameHashAreToldApart) {
    const std::string long_one(IdentifierTable::inline_length + 5, 'x');
    const std::string long_two = long_one.substr(1) + "y";
    const StringTable strings({"a", "b", "ab", "", long_one, long_two, "a", long_two});
    const Strings held = strings.strings();
    IdentifierTable table(held, 16);
    const std::uint64_t same = 0x0123456789abcdefULL;  // every string in one run of slots, with one tag
    for (std::int64_t k = 0; k < 6; ++k) {
        EXPECT_EQ(table.find(k, held.at(k), same, true), -1) << k;
    }
    EXPECT_EQ(table.find(6, held.at(6), same, false), 0);
    EXPECT_EQ(table.find(7, held.at(7), same, false), 5);
}

TEST(MatchIdentifiers, StopsWhenThePacersCheckThrows) {
    std::vector<std::string> strings;
    for (int k = 0; k < 300000; ++k) {
        strings.push_back(std::to_string(k));
    }
    const StringTable table(strings);
    std::vector<std::int32_t> found(strings.size());
    Pacer pace([] { throw std::runtime_error("stop"); }, std::chrono::nanoseconds(0));
    EXPECT_THROW(match_identifiers(table.strings(), 100000, found.data(), pace), std::runtime_error);
}

}  // namespace

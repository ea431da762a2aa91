#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "parent_checks.hpp"

namespace {

using tolmkit::ParentFault;

struct Case {
    const char* name;
    std::vector<std::int32_t> sire, dam;
    std::vector<std::int8_t> sex;  // empty: not recorded
    bool selfing;
    ParentFault fault;
    std::int64_t animal;
};

class ParentChecks : public testing::TestWithParam<Case> {};

TEST_P(ParentChecks, FindTheFirstFaultOfTheFirstKind) {
    const Case& c = GetParam();
    const auto found = tolmkit::parent_fault(c.sire.data(), c.dam.data(), static_cast<std::int64_t>(c.sire.size()),
                                             c.sex.empty() ? nullptr : c.sex.data(), c.selfing);
    EXPECT_EQ(found.fault, c.fault);
    EXPECT_EQ(found.animal, c.animal);
}

// Each kind comes after a later animal of an earlier kind, which wins; a
// parent out of range is not looked at.
INSTANTIATE_TEST_SUITE_P(
    Pedigrees, ParentChecks,
    testing::Values(Case{"Sound", {-1, -1, 0, 0}, {-1, -1, 1, 1}, {1, 2, 0, 0}, false, ParentFault::none, -1},
                    Case{"OwnDamAfterOwnSire", {-1, -1, 0, 3}, {-1, 1, 1, 1}, {}, false, ParentFault::own_sire, 3},
                    Case{"SelfedBeforeALaterOwnDam", {-1, 0, -1}, {-1, 0, 2}, {}, false, ParentFault::own_dam, 2},
                    Case{"Selfed", {-1, -1, 0, 1}, {-1, -1, 1, 1}, {}, false, ParentFault::selfed, 3},
                    Case{"SelfedAllowed", {-1, -1, 1}, {-1, -1, 1}, {}, true, ParentFault::none, -1},
                    Case{"DamThatSiresLater", {-1, -1, -1, 0}, {-1, -1, 0, 2}, {}, false, ParentFault::sire_and_dam, 2},
                    Case{"FemaleSireBeforeMaleDam",
                         {-1, -1, -1, 1},
                         {-1, -1, 0, 2},
                         {1, 2, 1, 0},
                         false,
                         ParentFault::female_sire,
                         3},
                    Case{"MaleDam", {-1, -1, 1}, {-1, -1, 0}, {1, 1, 0}, true, ParentFault::male_dam, 2},
                    Case{"OutOfRange", {-1, 7}, {-1, -5}, {0, 0}, false, ParentFault::none, -1}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace

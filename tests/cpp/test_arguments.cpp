#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "fcoeff.hpp"
#include "helpers.hpp"

namespace {

using tolm::ArgumentError;
using tolm::BufferLayout;
using tolm::Verdict;
using namespace tolm::testing_support;

// The worked pedigree of seven animals, every argument well formed; each test
// breaks one thing.
struct FcoeffCall {
    std::vector<std::int32_t> sire{7, 7, 0, 0, 2, 4, 4};
    std::vector<std::int32_t> dam{7, 7, 1, 1, 3, 1, 4};
    std::vector<double> inbreeding{0, 0, 0, 0, 0, 0, 0, -1.0};
    std::vector<double> sampling_var = std::vector<double>(7);
    std::vector<std::int32_t> n_animals{7};
    std::vector<std::int32_t> mode{1};
    std::array<BufferLayout, 6> layouts{layout_of(sire),         layout_of(dam),       layout_of(inbreeding),
                                        layout_of(sampling_var), layout_of(n_animals), layout_of(mode)};

    FcoeffCall() = default;
    FcoeffCall(const FcoeffCall&) = delete;  // the layouts point into this object
    Verdict check() const { return tolm::check_fcoeff_arguments(layouts); }
};

TEST(FcoeffArguments, WellFormedCallPasses) { expect_accepted(FcoeffCall{}.check()); }

struct FormatCase {
    const char* format;
    std::ptrdiff_t itemsize;
    const char* got;  // nullptr: accepted for an int32 argument
};

class Int32Formats : public testing::TestWithParam<FormatCase> {};

TEST_P(Int32Formats, AreAcceptedOrNamedInTheTypeError) {
    const FormatCase c = GetParam();
    FcoeffCall call;
    std::vector<std::int64_t> storage(7, 7);
    call.layouts[0] = {storage.data(), c.format, c.itemsize, {56 / c.itemsize}, {c.itemsize}};
    if (c.got == nullptr) {
        expect_accepted(call.check());
    } else {
        expect_problem(
            call.check(), ArgumentError::Kind::type,
            std::string("fcoeff(): argument 0 (sire) must hold int32, got ") + c.got + " (format '" + c.format + "')");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Int32Formats,
    testing::Values(FormatCase{"i", 4, nullptr}, FormatCase{"@i", 4, nullptr}, FormatCase{"=i", 4, nullptr},
                    FormatCase{"<i", 4, nullptr}, FormatCase{"<l", 4, nullptr}, FormatCase{"=l", 4, nullptr},
                    FormatCase{"B", 1, nullptr}, FormatCase{"b", 1, nullptr}, FormatCase{"c", 1, nullptr},
                    FormatCase{"", 1, nullptr}, FormatCase{"l", 8, "int64"}, FormatCase{"q", 8, "int64"},
                    FormatCase{">i", 4, "big-endian int32"}, FormatCase{"!i", 4, "big-endian int32"},
                    FormatCase{"I", 4, "uint32"}, FormatCase{"h", 2, "int16"}, FormatCase{"f", 4, "float32"},
                    FormatCase{"d", 8, "float64"}, FormatCase{"?", 1, "bool"}, FormatCase{"2i", 8, "items of 8 bytes"},
                    FormatCase{"T{i:a:i:b:}", 8, "items of 8 bytes"}),
    [](const testing::TestParamInfo<FormatCase>& info) {
        std::string name = info.param.format[0] == '\0' ? "Empty" : "";
        for (const char* c = info.param.format; *c != '\0'; ++c) {
            switch (*c) {
                case '@':
                    name += "Native";
                    break;
                case '=':
                    name += "Standard";
                    break;
                case '<':
                    name += "Little";
                    break;
                case '>':
                    name += "Big";
                    break;
                case '!':
                    name += "Network";
                    break;
                default:
                    name += std::isalnum(static_cast<unsigned char>(*c)) ? std::string(1, *c) : "_";
            }
        }
        return name + "_" + std::to_string(info.param.itemsize);
    });

TEST(FcoeffArguments, RealArgumentsMustHoldFloat64) {
    FcoeffCall call;
    std::vector<float> single(8);
    call.layouts[3] = layout_of(single, "f");
    expect_problem(call.check(), ArgumentError::Kind::type,
                   "fcoeff(): argument 3 (sampling_var) must hold float64, got float32 (format 'f')");
}

TEST(FcoeffArguments, RawBytesAreSizedInWholeElements) {
    FcoeffCall call;
    std::vector<double> storage(8);
    // 63 bytes hold seven whole doubles, one short of n + 1.
    call.layouts[2] = {storage.data(), "B", 1, {63}, {1}};
    expect_value_error(call.check(), "fcoeff(): argument 2 (inbreeding) needs at least 8 float64 elements, got 7");
    call.layouts[2].shape = {64};
    expect_accepted(call.check());
}

TEST(FcoeffArguments, MultiDimensionalContiguousArraysCountAllElements) {
    FcoeffCall call;
    std::vector<double> storage(8);
    call.layouts[2] = {storage.data(), "d", 8, {2, 1, 4}, {32, 8, 8}};
    expect_accepted(call.check());
}

TEST(FcoeffArguments, ScalarOfNoDimensionsHoldsOneElement) {
    FcoeffCall call;
    call.layouts[4].shape.clear();
    call.layouts[4].strides.clear();
    expect_accepted(call.check());
}

TEST(FcoeffArguments, StridedArraysAreRefused) {
    FcoeffCall call;
    std::vector<std::int32_t> every_other(14, 7);
    call.layouts[1] = {every_other.data(), "i", 4, {7}, {8}};
    expect_value_error(call.check(), "fcoeff(): argument 1 (dam) must be C-contiguous");
    call.layouts[1] = {every_other.data(), "i", 4, {2, 7}, {4, 8}};  // Fortran order
    expect_value_error(call.check(), "fcoeff(): argument 1 (dam) must be C-contiguous");
    call.layouts[1] = {every_other.data(), "i", 4, {0, 7}, {4, 8}};  // empty
    expect_value_error(call.check(), "fcoeff(): argument 1 (dam) needs at least 7 int32 elements, got 0");
}

TEST(FcoeffArguments, MisalignedDataIsRefused) {
    FcoeffCall call;
    std::vector<double> storage(9);
    call.layouts[2] = {reinterpret_cast<const char*>(storage.data()) + 4, "B", 1, {64}, {1}};
    expect_value_error(call.check(), "fcoeff(): argument 2 (inbreeding) must start at an address aligned to 8 bytes");
}

struct LengthCase {
    std::size_t index;
    std::ptrdiff_t given;
    const char* message;
};

class FcoeffLengths : public testing::TestWithParam<LengthCase> {};

TEST_P(FcoeffLengths, ShortArraysAreRefused) {
    const LengthCase c = GetParam();
    FcoeffCall call;
    call.layouts[c.index].shape = {c.given};
    expect_value_error(call.check(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, FcoeffLengths,
    testing::Values(LengthCase{0, 6, "fcoeff(): argument 0 (sire) needs at least 7 int32 elements, got 6"},
                    LengthCase{1, 0, "fcoeff(): argument 1 (dam) needs at least 7 int32 elements, got 0"},
                    LengthCase{2, 7, "fcoeff(): argument 2 (inbreeding) needs at least 8 float64 elements, got 7"},
                    LengthCase{3, 6, "fcoeff(): argument 3 (sampling_var) needs at least 7 float64 elements, got 6"},
                    LengthCase{4, 0, "fcoeff(): argument 4 (n_animals) needs at least 1 int32 element, got 0"},
                    LengthCase{5, 0,
                               "fcoeff(): argument 5 (compute_inbreeding) needs at least 1 int32 element, got 0"}),
    [](const testing::TestParamInfo<LengthCase>& info) { return "Argument" + std::to_string(info.param.index); });

TEST(FcoeffArguments, WrittenArgumentsMustNotShareMemory) {
    FcoeffCall call;
    std::vector<double> both(15);
    call.layouts[2] = {both.data(), "d", 8, {8}, {8}};
    call.layouts[3] = {both.data() + 7, "d", 8, {7}, {8}};
    expect_value_error(call.check(),
                       "fcoeff(): argument 2 (inbreeding) is written and must not "
                       "share memory with argument 3 (sampling_var)");
    call.layouts[3].data = both.data() + 8;
    expect_accepted(call.check());
}

TEST(FcoeffArguments, WrittenArgumentMustNotShareMemoryWithAnInput) {
    FcoeffCall call;
    call.layouts[0] = {call.sampling_var.data(), "B", 1, {56}, {1}};
    expect_value_error(call.check(),
                       "fcoeff(): argument 3 (sampling_var) is written and must not "
                       "share memory with argument 0 (sire)");
}

TEST(FcoeffArguments, InputsMayShareMemory) {
    FcoeffCall call;
    call.layouts[1] = call.layouts[0];
    call.layouts[5] = call.layouts[4];
    call.n_animals[0] = 1;
    call.sire[0] = 1;
    expect_accepted(call.check());
}

TEST(FcoeffArguments, EmptyArgumentsShareNoMemory) {
    FcoeffCall call;
    call.n_animals[0] = 0;
    for (const std::size_t k : {0, 1, 3}) {
        call.layouts[k] = {call.inbreeding.data(), "B", 1, {0}, {1}};
    }
    expect_accepted(call.check());
}

struct ParentCase {
    const char* name;
    std::int32_t mode;
    std::size_t index;  // 0 sire, 1 dam
    std::int32_t animal;
    std::int32_t code;
    const char* message;  // nullptr: accepted
};

class FcoeffParentCodes : public testing::TestWithParam<ParentCase> {};

TEST_P(FcoeffParentCodes, AreCheckedAgainstTheMode) {
    const ParentCase c = GetParam();
    FcoeffCall call;
    call.mode[0] = c.mode;
    (c.index == 0 ? call.sire : call.dam)[static_cast<std::size_t>(c.animal)] = c.code;
    if (c.message == nullptr) {
        expect_accepted(call.check());
    } else {
        expect_value_error(call.check(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FcoeffParentCodes,
    testing::Values(
        ParentCase{"AboveUnknown", 1, 0, 4, 9, "fcoeff(): sire[4] = 9 must be below 4 or equal to 7 (unknown)"},
        ParentCase{"Self", 1, 1, 5, 5, "fcoeff(): dam[5] = 5 must be below 5 or equal to 7 (unknown)"},
        ParentCase{"Later", 1, 0, 2, 3, "fcoeff(): sire[2] = 3 must be below 2 or equal to 7 (unknown)"},
        ParentCase{"Missing999", 1, 1, 3, -999, "fcoeff(): dam[3] = -999 must be below 3 or equal to 7 (unknown)"},
        ParentCase{"FirstAnimal", 1, 0, 0, 0,
                   "fcoeff(): sire[0] = 0 must be 7 (unknown): no animal comes before animal 0"},
        ParentCase{"LaterWithoutPass", 0, 0, 2, 6, nullptr}, ParentCase{"SelfWithoutPass", 2, 1, 5, 5, nullptr},
        ParentCase{"NegativeWithoutPass", 0, 1, 3, -1, "fcoeff(): dam[3] = -1 must be between 0 and 7 (7 = unknown)"},
        ParentCase{"AboveWithoutPass", -1, 0, 6, 8, "fcoeff(): sire[6] = 8 must be between 0 and 7 (7 = unknown)"}),
    [](const testing::TestParamInfo<ParentCase>& info) { return std::string(info.param.name); });

TEST(FcoeffArguments, FirstBadAnimalIsReported) {
    FcoeffCall call;
    call.dam[3] = 100;
    call.sire[5] = 100;
    expect_value_error(call.check(), "fcoeff(): dam[3] = 100 must be below 3 or equal to 7 (unknown)");
}

class FcoeffCountsForTheKernel : public testing::TestWithParam<std::int32_t> {};

TEST_P(FcoeffCountsForTheKernel, PassUnexamined) {
    // The kernel refuses these counts itself, before it reads any array.
    FcoeffCall call;
    call.n_animals[0] = GetParam();
    expect_accepted(call.check());
}

INSTANTIATE_TEST_SUITE_P(Counts, FcoeffCountsForTheKernel, testing::Values(-1, -999, 1 << 30, 2147483647));

TEST(FcoeffArguments, LargestExaminedCountNeedsItsArrays) {
    FcoeffCall call;
    call.n_animals[0] = (1 << 30) - 1;
    expect_value_error(call.check(), "fcoeff(): argument 0 (sire) needs at least 1073741823 int32 elements, got 7");
}

TEST(FcoeffArguments, TypeIsCheckedBeforeTheCount) {
    FcoeffCall call;
    std::vector<double> count{7.0};
    call.layouts[4] = layout_of(count, "d");
    expect_problem(call.check(), ArgumentError::Kind::type,
                   "fcoeff(): argument 4 (n_animals) must hold int32, got float64 (format 'd')");
}

}  // namespace

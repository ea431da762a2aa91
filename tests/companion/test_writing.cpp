#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "no_threads.hpp"
#include "writing.hpp"

namespace {

using tolmkit::Column;

std::string formatted(double value) {
    char out[tolmkit::real_width];
    return std::string(out, static_cast<std::size_t>(tolmkit::format_real(value, out) - out));
}

struct Real {
    double value;
    const char* text;
};

class FormatReal : public testing::TestWithParam<Real> {};

TEST_P(FormatReal, AsPythonsRepr) { EXPECT_EQ(formatted(GetParam().value), GetParam().text); }

// The turns of repr's layout: positional from 1e-4 to below 1e16, a ".0" on
// whole numbers, two exponent digits at least; exact decimals and shortest
// digits alike.
INSTANTIATE_TEST_SUITE_P(Layouts, FormatReal,
                         testing::Values(Real{1e16, "1e+16"}, Real{1e15, "1000000000000000.0"}, Real{100.0, "100.0"},
                                         Real{1e-4, "0.0001"}, Real{1e-5, "1e-05"}, Real{0.1, "0.1"},
                                         Real{-0.75, "-0.75"}, Real{0.0, "0.0"}, Real{-0.0, "-0.0"},
                                         Real{1.5e300, "1.5e+300"}, Real{5e-324, "5e-324"},
                                         Real{123456789012345680.0, "1.2345678901234568e+17"}, Real{0.3, "0.3"},
                                         Real{1.0 / 3.0, "0.3333333333333333"},
                                         Real{6.666666666666667e-08, "6.666666666666667e-08"},
                                         Real{std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
                                         Real{std::numeric_limits<double>::infinity(), "inf"},
                                         Real{-std::numeric_limits<double>::infinity(), "-inf"},
                                         Real{std::numeric_limits<double>::quiet_NaN(), ""}));

// Lines of every kind of column, `n` of them.
struct Table {
    explicit Table(std::int64_t n) {
        offsets.push_back(0);
        for (std::int64_t i = 0; i < n; ++i) {
            reals.push_back(static_cast<double>(i) / 8);
            integers.push_back(-i);
            const std::string name = "A" + std::to_string(i);
            text += name;
            offsets.push_back(static_cast<std::int64_t>(text.size()));
        }
        const auto size = static_cast<std::int64_t>(text.size());
        columns = {Column{nullptr, nullptr, {offsets.data(), text.data(), size}}, Column{reals.data(), nullptr, {}},
                   Column{nullptr, integers.data(), {}}};
    }
    std::string lines(char separator, int threads = 2) const {
        const auto n = static_cast<std::int64_t>(reals.size());
        std::string out(static_cast<std::size_t>(tolmkit::lines_bound(columns.data(), 3, n)), '\0');
        out.resize(static_cast<std::size_t>(tolmkit::write_lines(columns.data(), 3, n, separator, out.data(),
                                                                 static_cast<std::int64_t>(out.size()), threads)));
        return out;
    }

    std::vector<double> reals;
    std::vector<std::int64_t> integers, offsets;
    std::string text;
    std::vector<Column> columns;
};

std::string expected_lines(std::int64_t n, char separator) {
    std::string out;
    for (std::int64_t i = 0; i < n; ++i) {
        out += "A" + std::to_string(i) + separator + formatted(static_cast<double>(i) / 8) + separator +
               std::to_string(-i) + "\n";
    }
    return out;
}

TEST(WriteLines, OneThreadTwoHalvesOrNoThreadToBeHad) {
    EXPECT_EQ(Table(3).lines(' '), "A0 0.0 0\nA1 0.125 -1\nA2 0.25 -2\n");
    const std::int64_t many = 20000;  // written in two halves
    const std::string expected = expected_lines(many, ',');
    EXPECT_EQ(Table(many).lines(','), expected);
    EXPECT_EQ(Table(many).lines(',', 1), expected);
    const tolmkit::testing::NoThreads none;
    EXPECT_EQ(Table(many).lines(','), expected);
}

TEST(NeedQuotes, TextWithTheSeparatorAQuoteOrALineEndOrASeparatorThatNumbersUse) {
    const Table table(4);
    EXPECT_FALSE(tolmkit::need_quotes(table.columns.data(), 3, 4, ','));
    EXPECT_TRUE(tolmkit::need_quotes(table.columns.data(), 3, 4, 'A'));      // in the text
    EXPECT_TRUE(tolmkit::need_quotes(table.columns.data() + 1, 1, 4, '.'));  // in the numbers
    EXPECT_TRUE(tolmkit::need_quotes(table.columns.data() + 2, 1, 4, '-'));
}

}  // namespace

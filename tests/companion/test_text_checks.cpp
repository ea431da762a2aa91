#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "strings.hpp"
#include "text_checks.hpp"

namespace {

struct Case {
    const char* name;
    std::string text;
    std::int64_t control, quote;
    int cases;
};

class TextChecks : public testing::TestWithParam<Case> {};

TEST_P(TextChecks, FindTheFirstControlCharacterUnclosedQuoteAndLetterCases) {
    const Case& c = GetParam();
    const auto* text = reinterpret_cast<const std::uint8_t*>(c.text.data());
    const auto size = static_cast<std::int64_t>(c.text.size());
    EXPECT_EQ(tolmkit::first_control(text, size), c.control);
    EXPECT_EQ(tolmkit::unclosed_quote(text, size), c.quote);
    EXPECT_EQ(tolmkit::letter_cases(text, size), c.cases);
}

// Lines of more than eight bytes, so that quotes and line ends fall in
// different words and several in one; a control character past a block of
// 4096 bytes; the bytes next to the letters, which are none.
INSTANTIATE_TEST_SUITE_P(Texts, TextChecks,
                         testing::Values(Case{"Clean", "a,\"b c\",d\n\"x\"\"y\",e,f\tg\n", -1, -1, 1},
                                         Case{"QuoteClosedOnTheNextLine", "abcdefgh,\"ij\nkl\"\n", -1, 12, 1},
                                         Case{"QuoteAtTheEndWithoutLineEnd", "abc,\"d", -1, 5, 1},
                                         Case{"TwoLineEndsInOneWord", "a\nb\n\"c\nd\n", -1, 6, 1},
                                         Case{"CarriageReturnAndDelete", "ab\rc\x7f", 2, -1, 1},
                                         Case{"ControlPastTheFirstBlock", std::string(5000, 'a') + "\x01", 5000, -1, 1},
                                         Case{"CapitalsOnly", "DEU1,@[`{\n", -1, -1, 2},
                                         Case{"BothAndBeyondAscii", "Zz,\xc3\xa9\n", -1, -1, 7},
                                         Case{"Empty", "", -1, -1, 0}),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Numbers as programs write them, and the texts next to them that are codes
// or text: a leading zero, a sign, 19 digits, a blank, an Arabic-Indic digit.
TEST(WholeNumbers, ReadPlainNumbersAndStopAtTheFirstThatIsNone) {
    const std::vector<std::string> numbers = {"0", "",  "-7", "2001", "999999999999999999", "-999999999999999999",
                                              "",  "10"};
    const std::vector<std::int64_t> values = {0, 0, -7, 2001, 999999999999999999, -999999999999999999, 0, 10};
    const tolmkit::testing_support::StringTable table(numbers, 3);
    std::vector<std::int64_t> read(numbers.size());
    auto empty = std::make_unique<bool[]>(numbers.size());
    EXPECT_EQ(tolmkit::whole_numbers(table.strings(), read.data(), empty.get()), -1);
    EXPECT_EQ(read, values);
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        EXPECT_EQ(empty[k], numbers[k].empty()) << k;
    }
    for (const std::string stray : {"0012", "-0", "+5", "1000000000000000000", "-", "2 ", "1e5", "\xd9\xa3", "0x1F"}) {
        const tolmkit::testing_support::StringTable one({"1", "", stray, "2"}, 3);
        std::int64_t value[4];
        bool none[4];
        EXPECT_EQ(tolmkit::whole_numbers(one.strings(), value, none), 2) << stray;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "text_checks.hpp"

namespace {

struct Case {
    const char* name;
    std::string text;
    std::int64_t control, quote;
};

class TextChecks : public testing::TestWithParam<Case> {};

TEST_P(TextChecks, FindTheFirstControlCharacterAndUnclosedQuote) {
    const Case& c = GetParam();
    const auto* text = reinterpret_cast<const std::uint8_t*>(c.text.data());
    const auto size = static_cast<std::int64_t>(c.text.size());
    EXPECT_EQ(tolmkit::first_control(text, size), c.control);
    EXPECT_EQ(tolmkit::unclosed_quote(text, size), c.quote);
}

// Lines of more than eight bytes, so that quotes and line ends fall in
// different words and several in one; a control character past a block of
// 4096 bytes.
INSTANTIATE_TEST_SUITE_P(Texts, TextChecks,
                         testing::Values(Case{"Clean", "a,\"b c\",d\n\"x\"\"y\",e,f\tg\n", -1, -1},
                                         Case{"QuoteClosedOnTheNextLine", "abcdefgh,\"ij\nkl\"\n", -1, 12},
                                         Case{"QuoteAtTheEndWithoutLineEnd", "abc,\"d", -1, 5},
                                         Case{"TwoLineEndsInOneWord", "a\nb\n\"c\nd\n", -1, 6},
                                         Case{"CarriageReturnAndDelete", "ab\rc\x7f", 2, -1},
                                         Case{"ControlPastTheFirstBlock", std::string(5000, 'a') + "\x01", 5000, -1},
                                         Case{"Empty", "", -1, -1}),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace

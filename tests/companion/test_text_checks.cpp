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

const std::string wanted = "\"\t,#";

tolmkit::TextMarks marks_of(const std::string& text, int threads) {
    tolmkit::Pacer pace;
    return tolmkit::text_marks(reinterpret_cast<const std::uint8_t*>(text.data()),
                               static_cast<std::int64_t>(text.size()), wanted, threads, pace);
}

TEST_P(TextChecks, FindTheFirstControlCharacterUnclosedQuoteAndLetterCases) {
    const Case& c = GetParam();
    const auto* text = reinterpret_cast<const std::uint8_t*>(c.text.data());
    const auto size = static_cast<std::int64_t>(c.text.size());
    const tolmkit::TextMarks marks = marks_of(c.text, 1);
    EXPECT_EQ(marks.control, c.control);
    EXPECT_EQ(marks.unclosed_quote, c.quote);
    EXPECT_EQ(marks.beyond_ascii, static_cast<std::int64_t>(c.text.find_first_of(std::string(1, '\xc3'))));
    const auto doubled = c.text.find("\n\n");
    const auto empty = c.text.rfind('\n', 0) == 0 ? 0 : doubled == std::string::npos ? doubled : doubled + 1;
    EXPECT_EQ(marks.empty_line, static_cast<std::int64_t>(empty));
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        EXPECT_EQ(marks.held >> k & 1, c.text.find(wanted[k]) != std::string::npos ? 1U : 0U) << wanted[k];
    }
    EXPECT_EQ(tolmkit::letter_cases(text, size), c.cases);
}

// A text of several stretches, which threads take in turn: the first of
// each mark is found whatever their number, the later ones of the same kind
// in other stretches left aside.
TEST(TextMarks, AreTheSameOnEveryNumberOfThreads) {
    const std::string line = "DEU000000000001,\"DEU000000000002\",DEU000000000003,2001,M\n";
    std::string text;
    for (int k = 0; k < 700000; ++k) {
        text += line;
    }
    const auto at = [&](std::size_t row) { return row * line.size() + 3; };
    text[at(400000)] = '\x01';
    text[at(600000)] = '\x02';
    text[at(500000)] = '\xc3';
    text[at(300000) + 14] = '"';
    text[at(650000) + 14] = '"';
    text[at(550000) - 3] = '\n';
    text[at(680000) - 3] = '\n';
    for (const int threads : {1, 2, 3}) {
        const tolmkit::TextMarks marks = marks_of(text, threads);
        EXPECT_EQ(marks.control, static_cast<std::int64_t>(at(400000))) << threads;
        EXPECT_EQ(marks.beyond_ascii, static_cast<std::int64_t>(at(500000))) << threads;
        EXPECT_EQ(marks.unclosed_quote, static_cast<std::int64_t>(at(300001) - 4)) << threads;
        EXPECT_EQ(marks.empty_line, static_cast<std::int64_t>(at(550000) - 3)) << threads;
        EXPECT_EQ(marks.held, 0b0101U) << threads;
    }
}

// A line longer than a block of the scan is measured whole, line end and
// all, wherever it lies and on any number of threads; shorter ones are
// bounded by the block.
TEST(TextMarks, MeasureALineLongerThanABlock) {
    const std::string line(99, 'a');
    std::string text;
    for (int k = 0; k < 400000; ++k) {
        text += line + "\n";
    }
    for (const int threads : {1, 2, 3}) {
        EXPECT_LE(marks_of(text, threads).longest_line, 65536) << threads;
    }
    const std::string lines = text.substr(0, 20000000) + std::string(300000, 'b') + "\n" + text.substr(20000000);
    for (const int threads : {1, 2, 3}) {
        EXPECT_EQ(marks_of(lines, threads).longest_line, 300001) << threads;
        EXPECT_EQ(marks_of(text + std::string(200000, 'c'), threads).longest_line, 200000) << threads;
    }
}

// Lines of more than eight bytes, so that quotes and line ends fall in
// different words and several in one; a control character past a block of
// 4096 bytes; the bytes next to the letters, which are none; empty lines
// first and where a block of 65536 bytes begins.
INSTANTIATE_TEST_SUITE_P(Texts, TextChecks,
                         testing::Values(Case{"Clean", "a,\"b c\",d\n\"x\"\"y\",e,f\tg\n", -1, -1, 1},
                                         Case{"QuoteClosedOnTheNextLine", "abcdefgh,\"ij\nkl\"\n", -1, 12, 1},
                                         Case{"QuoteAtTheEndWithoutLineEnd", "abc,\"d", -1, 5, 1},
                                         Case{"TwoLineEndsInOneWord", "a\nb\n\"c\nd\n", -1, 6, 1},
                                         Case{"CarriageReturnAndDelete", "ab\rc\x7f", 2, -1, 1},
                                         Case{"ControlPastTheFirstBlock", std::string(5000, 'a') + "\x01", 5000, -1, 1},
                                         Case{"CapitalsOnly", "DEU1,@[`{\n", -1, -1, 2},
                                         Case{"BothAndBeyondAscii", "Zz,\xc3\xa9\n", -1, -1, 7},
                                         Case{"Empty", "", -1, -1, 0}, Case{"EmptyFirstLine", "\nab\n\n", -1, -1, 1},
                                         Case{"EmptyLineAtABlockEdge", std::string(65535, 'a') + "\n\nb\n\n", -1, -1,
                                              1}),
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

// Lines of blanks skipped, runs of blanks one separator, quotes holding a
// separator, doubled quotes, a last line without its line end.
TEST(FirstOtherWidth, FindsTheFirstLineOfOtherFieldsAndSaysHowMany) {
    struct Width {
        std::string text;
        char separator;
        std::int64_t line, fields;
    };
    const std::vector<Width> widths = {
        {"a 0 0\n \t \n  b\t a  0 \n", ' ', -1, 0},
        {"a 0 0\n\nNL 12 a b\nc a b\n", ' ', 7, 4},
        {"a,0,0\n\"b,1\",a,0\n\"c\"\"\",a,\"\"\n", ',', -1, 0},
        {"a,0,0\nb,a\n", ',', 6, 2},
        {"a;0;0\nb;a;0;x", ';', 6, 4},
    };
    for (const Width& w : widths) {
        tolmkit::Pacer pace;
        const auto found = tolmkit::first_other_width(reinterpret_cast<const std::uint8_t*>(w.text.data()),
                                                      static_cast<std::int64_t>(w.text.size()), w.separator, 3, pace);
        EXPECT_EQ(found.line, w.line) << w.text;
        EXPECT_EQ(found.fields, w.fields) << w.text;
    }
}

}  // namespace

#include "process/ScriptValue.h"

#include "process/ScriptNumber.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct ValueCase {
    std::u16string key;
    std::u16string text;
    std::u16string value;
};

void ExpectValues(std::u16string (*get)(std::u16string_view, std::u16string_view),
                  std::initializer_list<ValueCase> cases) {
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.key) + " in " + testing::PrintToString(c.text));
        EXPECT_EQ(get(c.key, c.text), c.value);
    }
}

TEST(ScriptValueTest, BraceValue) {
    ExpectValues(GetBraceValue,
                 {
                     {u"K", u"", u""},
                     {u"", u"K{v}", u""},
                     {u"K", u"K{v}", u"v"},
                     {u"K", u"xK{}y", u""},
                     {u"K", u"K {v}", u""},
                     {u"K", u"k{v}", u""},
                     {u"K", u"xK", u""},
                     {u"K", u"K{v", u""},
                     {u"K", u"K[v]", u""},
                     {u"K", u"K{a{b}c}", u"a{b"},
                     {u"K", u"K{ v ]}", u" v ]"},
                     {u"K", u"KK{v}", u"v"},
                     // An occurrence that is not followed by "{" is passed over whole.
                     {u"aa", u"aaa{v}", u""},
                     {u"ProcessEntity-1", u"ProcessEntity-10{a}ProcessEntity-1{b}", u"b"},
                     // The first occurrence wins, even inside another entry's value.
                     {u"B", u"A{B{x}}B{y}", u"x"},
                     {u"K", u"K{x}K{y}", u"x"},
                     {u"键", u"前键{值}", u"值"},
                 });
}

TEST(ScriptValueTest, BracketValue) {
    ExpectValues(GetBracketValue, {
                                      {u"K", u"K[v]", u"v"},
                                      {u"K", u"K{v}", u""},
                                      {u"K", u"K[v}]", u"v}"},
                                      {u"K", u"K[a[b]c]", u"a[b"},
                                      {u"K", u"K [v]", u""},
                                      {u"K", u"K[x]K[y]", u"x"},
                                      {u"K", u"K[", u""},
                                  });
}

struct NumberCase {
    std::u16string value;
    std::int32_t number;
};

void ExpectNumbers(std::initializer_list<NumberCase> cases) {
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        EXPECT_EQ(ScriptNumber(c.value), c.number);
    }
}

TEST(ScriptNumberTest, ReadsSignAndDecimalDigits) {
    ExpectNumbers({
        {u"", 0},
        {u"3", 3},
        {u"00401", 401},
        {u"+5", 5},
        {u"-5", -5},
        {u"3abc", 3},
        {u"12 3", 12},
        {u"abc", 0},
        {u"+", 0},
        {u"--5", 0},
        {u"+-5", 0},
        {u"- 5", 0},
        {u"0x10", 0},
    });
}

TEST(ScriptNumberTest, SkipsUnicodeWhiteSpaceOnly) {
    ExpectNumbers({
        {u" \t\n\v\f\r3", 3},
        {u"\u00A0\u0085\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u30007", 7},
        {u"\u3000-7", -7},
        {u"\u200B7", 0}, // zero width space
        {u"\u180E7", 0}, // Mongolian vowel separator
    });
}

TEST(ScriptNumberTest, CountsOnlyAsciiDigits) {
    ExpectNumbers({
        {u"\uFF13", 0}, // fullwidth
        {u"1\uFF12", 1},
        {u"\u0663", 0}, // Arabic-Indic
    });
}

TEST(ScriptNumberTest, ClampsToThe32BitRange) {
    ExpectNumbers({
        {u"2147483647", INT32_MAX},
        {u"2147483648", INT32_MAX},
        {u"99999999999999999999999999", INT32_MAX},
        {u"+000000000000000000002147483646", INT32_MAX - 1},
        {u"-2147483648", INT32_MIN},
        {u"-2147483649", INT32_MIN},
        {u"-99999999999999999999999999", INT32_MIN},
    });
}

} // namespace

#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using platform::CP_ACP;
using platform::CP_THREAD_ACP;
using platform::CP_UTF8;
using platform::to_narrow;
using platform::to_wide;

constexpr platform::CodePage kGbk = 936;

struct RoundTrip {
    platform::CodePage code_page;
    std::string narrow;
    std::u16string wide;
};

// Text every listed code page holds, so it converts the same both ways.
const RoundTrip kRoundTrips[] = {
    {kGbk, "\xA3\xAC", u"\uFF0C"},
    {kGbk, "\xCD\xA8\xD0\xC5", u"通信"},
    {kGbk, "a\x80z", u"a\u20ACz"},
    {CP_UTF8, "\xE9\x80\x9A\xE4\xBF\xA1\xEF\xBC\x8C", u"通信，"},
    {CP_UTF8, "\xF0\x9F\x98\x80", u"\U0001F600"},
    {CP_UTF8,
     "\xEF\xBB\xBF"
     "a",
     u"\uFEFFa"},
    {54936, "\x94\x39\xFC\x36", u"\U0001F600"},
    {28591, "caf\xE9", u"café"},
    {1252, "\x80", u"\u20AC"},
    {20127, "plain", u"plain"},
    {kGbk, "", u""},
};

TEST(CodePage, ConvertsBothWays) {
    for (const auto& c : kRoundTrips) {
        SCOPED_TRACE(testing::Message() << "code page " << c.code_page << ", " << c.narrow);
        EXPECT_EQ(to_wide(c.code_page, c.narrow), c.wide);
        EXPECT_EQ(to_narrow(c.code_page, c.wide), c.narrow);
    }
}

TEST(CodePage, UnheldCharacterBecomesDefaultCharacter) {
    const struct {
        platform::CodePage code_page;
        std::u16string wide;
        std::string narrow;
    } cases[] = {
        // A surrogate pair is one character, so one default character.
        {kGbk, u"a\U0001F600b", "a?b"},
        {kGbk, u"\xD800x", "?x"},
        {28591, u"\u20AC", "?"},
        {20127, u"caf\u00E9", "caf?"},
        // UTF-8 holds every character; only a lone surrogate has no encoding.
        {CP_UTF8, u"\xD800", "\xEF\xBF\xBD"},
        {CP_UTF8, u"a\xDC00z", "a\xEF\xBF\xBDz"},
        {CP_UTF8,
         u"\xD800"
         "a",
         "\xEF\xBF\xBD"
         "a"},
        {CP_UTF8, u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {CP_UTF8, u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code page " << c.code_page << ", " << c.narrow);
        EXPECT_EQ(to_narrow(c.code_page, c.wide), c.narrow);
    }
}

TEST(CodePage, InvalidBytesBecomeReplacementCharacter) {
    const struct {
        platform::CodePage code_page;
        std::string narrow;
        std::u16string wide;
    } cases[] = {
        {CP_UTF8, "a\xFFz", u"a\uFFFDz"},
        {CP_UTF8,
         "\xE4"
         "A",
         u"\uFFFDA"},
        {CP_UTF8, "\xC0\xAF", u"\uFFFD\uFFFD"},
        {CP_UTF8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        // A sequence cut off by the end of the text is one character.
        {CP_UTF8, "a\xE4\xB8", u"a\uFFFD"},
        {kGbk, "\xFF\xA3\xAC", u"\uFFFD\uFF0C"},
        {kGbk, "\x81 ", u"\uFFFD "},
        {kGbk, "a\x81", u"a\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code page " << c.code_page << ", " << c.narrow);
        EXPECT_EQ(to_wide(c.code_page, c.narrow), c.wide);
    }
}

TEST(CodePage, StopsAtFirstNul) {
    EXPECT_EQ(to_wide(kGbk, std::string_view("\xA3\xAC\0\xA3\xAC", 5)), u"\uFF0C");
    EXPECT_EQ(to_wide(CP_UTF8, std::string_view("\0a", 2)), u"");
    EXPECT_EQ(to_narrow(kGbk, std::u16string_view(u"\uFF0C\0\uFF0C", 3)), "\xA3\xAC");
    EXPECT_EQ(to_narrow(CP_UTF8, std::u16string_view(u"\0a", 2)), "");
}

TEST(CodePage, UnknownCodePageGivesEmptyText) {
    EXPECT_EQ(to_wide(12345, "abc"), u"");
    EXPECT_EQ(to_narrow(12345, u"abc"), "");
}

TEST(CodePage, LongTextConvertsCompletely) {
    std::string gbk;
    std::u16string wide;
    std::string invalid;
    for (int i = 0; i < 50000; ++i) {
        gbk += "\xCD\xA8";
        wide += u"通";
        invalid += '\xFF';
    }
    EXPECT_EQ(to_wide(kGbk, gbk), wide);
    EXPECT_EQ(to_narrow(kGbk, wide), gbk);
    EXPECT_EQ(to_narrow(CP_UTF8, to_wide(CP_UTF8, invalid)).size(), 3 * invalid.size());
    EXPECT_EQ(to_narrow(54936, std::u16string(50000, u'\uFFFD')).size(), 4 * 50000u);
}

TEST(CodePage, FailedConversionLeavesNoStateBehind) {
    EXPECT_EQ(to_wide(CP_UTF8, "\xE4\xB8"), u"\uFFFD");
    EXPECT_EQ(to_wide(CP_UTF8, "\x80"
                               "a"),
              u"\uFFFDa");
    EXPECT_EQ(to_narrow(CP_UTF8, u"\xD800"), "\xEF\xBF\xBD");
    EXPECT_EQ(to_narrow(CP_UTF8, u"\xDC00"
                                 "a"),
              "\xEF\xBF\xBD"
              "a");
}

TEST(CodePage, AnsiCodePagesAgree) {
    const auto ansi = platform::ansi_code_page();
    const std::u16string wide = u"通信，a\U0001F600";
    const std::string narrow = to_narrow(ansi, wide);
    for (const auto code_page : {CP_ACP, CP_THREAD_ACP}) {
        SCOPED_TRACE(code_page);
        EXPECT_EQ(to_narrow(code_page, wide), narrow);
        EXPECT_EQ(to_wide(code_page, narrow), to_wide(ansi, narrow));
    }
}

TEST(CodePage, ThreadsConvertIndependently) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                for (const auto& c : kRoundTrips)
                    if (to_wide(c.code_page, c.narrow) != c.wide ||
                        to_narrow(c.code_page, c.wide) != c.narrow)
                        ++failures[t];
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4));
}

} // namespace

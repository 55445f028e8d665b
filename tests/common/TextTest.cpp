// The text helpers of the leaf below every layer.
#include "common/Text.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using namespace std::string_view_literals;

TEST(Text, Helpers) {
    EXPECT_EQ(text::CharCount("пр.р\xff"), 5u);  // an invalid byte counts one
    EXPECT_EQ(text::TrimSpaces("  a b \t "), "a b \t");
    // Overlong, a surrogate, cut short, a stray continuation; overlong after E0, past U+10FFFF, an F5 lead.
    for (auto bad : {"\xc0\xae"sv, "\xed\xa0\x80"sv, "\xe2\x82"sv, "a\x80"sv, "\xe0\x80\xaf"sv, "\xf4\x90\x80\x80"sv,
                     "\xf5\x80\x80\x80"sv})
        EXPECT_FALSE(text::ValidUtf8(bad));
    EXPECT_TRUE(text::ValidUtf8("пример \xef\xbf\xbd \xf0\x9f\x98\x80"));
}

}  // namespace
}  // namespace tarnwell

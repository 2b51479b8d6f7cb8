#include <gtest/gtest.h>

#include "report.h"
#include "text.h"

namespace brindle::exe {
namespace {

TEST(GroupThousands, InsertsCommasEveryThreeDigits) {
  struct Case {
    std::uint64_t n;
    const char* text;
  } cases[] = {{0, "0"},           {999, "999"},         {1000, "1,000"},
               {1234567, "1,234,567"}, {100000, "100,000"}, {18446744073709551615ull, "18,446,744,073,709,551,615"}};
  for (const auto& c : cases) EXPECT_EQ(group_thousands(c.n), c.text) << c.n;
}

TEST(Utf8, LossyReplacesEachIllFormedSubpart) {
  EXPECT_EQ(utf8_lossy("plain"), "plain");
  EXPECT_EQ(utf8_lossy("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(utf8_lossy("x\xE2\x80"), "x\xEF\xBF\xBD");
  // Surrogates and overlongs are not UTF-8.
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));
  EXPECT_TRUE(is_valid_utf8("\xE2\x80\x94"));
}

TEST(Columns, PadByCharactersAndNeverCut) {
  std::string out;
  append_left(out, "\xC3\xA9t\xC3\xA9", 5);  // "été": 3 characters, 5 bytes
  EXPECT_EQ(out, "\xC3\xA9t\xC3\xA9  ");
  out.clear();
  append_right(out, "abcdef", 3);
  EXPECT_EQ(out, "abcdef");
  EXPECT_EQ(hex18(0x1234), "0x0000000000001234");
  EXPECT_EQ(hex(0xABC), "0xabc");
  EXPECT_EQ(hex(0), "0x0");
}

}  // namespace
}  // namespace brindle::exe

#include <gtest/gtest.h>

#include "demangle.h"

namespace brindle::exe {
namespace {

TEST(DemangleSymbol, KnownNames) {
  struct Case {
    const char* name;
    const char* expected;  // nullptr: no demangled line
  } cases[] = {
      // Itanium C++.
      {"_ZN3foo3barEv", "foo::bar()"},
      {"_ZNK3foo6Widget4sizeEv", "foo::Widget::size() const"},
      {"__Z3foov", "foo()"},  // Mach-O's extra underscore
      {"_Z5twiceIiET_S0_", "int twice<int>(int)"},
      // Plain C names and bare type codes are left alone.
      {"printf", nullptr},
      {"f", nullptr},
      {"main", nullptr},
      // Rust legacy paths: the hash element is dropped, escapes decoded.
      {"_ZN3std2io5stdio6_print17h1234567890abcdefE", "std::io::stdio::_print"},
      {"_ZN4core3ptr85drop_in_place$LT$std..rt..lang_start$LT$$LP$$RP$$GT$..$u7b$$u7b$closure$u7d$$u7d$$GT$"
       "17h0123456789abcdefE",
       "core::ptr::drop_in_place<std::rt::lang_start<()>::{{closure}}>"},
      {"_ZN4test15$RF$$BP$$SP$$C$E", "test::&*@,"},
      {"ZN3foo3barE", "foo::bar"},
      {"__ZN3foo3barE", "foo::bar"},
      // A hash of the wrong length is an ordinary element.
      {"_ZN3foo3bar16h0123456789abcdeE", "foo::bar::h0123456789abcde"},
      // ThinLTO suffixes of hex digits and '@' are removed; other dotted
      // suffixes stay.
      {"_ZN3foo3bar17h0123456789abcdefE.llvm.1A2B@3C", "foo::bar"},
      {"_ZN3foo3barE.cold.1", "foo::bar.cold.1"},
      // Rust v0.
      {"_RNvCs15kBYyAo9fc_7mycrate7example", "mycrate::example"},
      {"_RNvNtCs1234_7mycrate3foo3bar", "mycrate::foo::bar"},
      // Malformed: a length running past the end, a non-digit element.
      {"_ZN3foo3bar17h0123456789abcdeE", nullptr},
      {"_ZN99999999999999999999999foo", nullptr},
      {"_ZNxE", nullptr},
  };
  for (const auto& c : cases) {
    auto got = demangle_symbol(c.name);
    if (c.expected == nullptr) {
      EXPECT_FALSE(got.has_value()) << c.name << " gave " << *got;
    } else {
      ASSERT_TRUE(got.has_value()) << c.name;
      EXPECT_EQ(*got, c.expected) << c.name;
    }
  }
}

TEST(DemangleSymbol, HostileNamesNeitherCrashNorHang) {
  // Nesting deep enough to exhaust the stack of an unbounded parser.
  std::string deep = "_Z1f" + std::string(200000, 'P') + "i";
  EXPECT_FALSE(demangle_symbol(deep).has_value());
  std::string templates = "_Z1f";
  for (int i = 0; i < 50000; ++i) templates += "I1a";
  EXPECT_FALSE(demangle_symbol(templates).has_value());

  // A few megabytes of legacy path: linear work, full result.
  std::string longest = "_ZN";
  for (int i = 0; i < 300000; ++i) longest += "3abc";
  longest += "E";
  auto got = demangle_symbol(longest);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), 300000u * 5 - 2);

  // Back-references that double the printed text at every level: 40
  // levels would print about 10^12 characters; 10 levels print 61 kB.
  auto substitution = [](int index) {  // S_, S0_, S1_, ... in base 36
    if (index == 0) return std::string("S_");
    std::string digits;
    for (int i = index - 1; digits.empty() || i > 0; i /= 36) digits.insert(0, 1, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[i % 36]);
    return "S" + digits + "_";
  };
  auto doubling = [&](int levels) {
    std::string name = "_Z1fPFviiE";
    for (int k = 0, index = 1; k < levels; ++k, index += 2)
      name += "PFv" + substitution(index) + substitution(index) + "E";
    return name;
  };
  EXPECT_FALSE(demangle_symbol(doubling(40)).has_value());
  auto ten = demangle_symbol(doubling(10));
  ASSERT_TRUE(ten.has_value());
  EXPECT_EQ(ten->size(), 61301u);

  // Moderate nesting that real code can produce still demangles.
  std::string pointers = "_Z1f" + std::string(40, 'P') + "iv";
  EXPECT_TRUE(demangle_symbol(pointers).has_value());
}

}  // namespace
}  // namespace brindle::exe

#include <gtest/gtest.h>

#include "macho_exports.h"

namespace brindle::exe {
namespace {

std::expected<std::vector<TrieExport>, std::string> walk(std::vector<std::uint8_t> bytes) {
  return read_exports_trie(Bytes(bytes));
}

// Root with edges "_a" (terminal, address 0x10) and "_b" (re-export of
// ordinal 2 as "other"); "_a" has a child "x" that is a stub and resolver.
const std::vector<std::uint8_t> TRIE = {
    /* 0 root */ 0x00, 0x02, '_', 'a', 0x00, 12, '_', 'b', 0x00, 20,
    /* 10 pad */ 0x00, 0x00,
    /* 12 _a  */ 0x02, 0x00, 0x10, 0x01, 'x', 0x00, 28, 0x00,
    /* 20 _b  */ 0x08, 0x08, 0x02, 'o', 't', 'h', 'e', 'r', 0x00, 0x00,
    /* 30 _ax */ 0x03, 0x10, 0x20, 0x30, 0x00,
};

TEST(ExportsTrie, DepthFirstWithEveryTerminalKind) {
  auto t = TRIE;
  t[18] = 30;  // child offset of "_ax"
  auto got = walk(t);
  ASSERT_TRUE(got.has_value()) << got.error();
  ASSERT_EQ(got->size(), 3u);
  EXPECT_EQ((*got)[0].name, "_a");
  EXPECT_EQ((*got)[0].address, 0x10u);
  EXPECT_EQ((*got)[1].name, "_ax");  // children before the next sibling
  EXPECT_EQ((*got)[1].flags, EXPORT_STUB_AND_RESOLVER);
  EXPECT_EQ((*got)[1].address, 0x20u);
  EXPECT_EQ((*got)[1].other, 0x30u);
  EXPECT_EQ((*got)[2].name, "_b");
  EXPECT_EQ((*got)[2].other, 2u);
  EXPECT_EQ((*got)[2].imported, "other");
}

TEST(ExportsTrie, DamagedTriesGiveErrors) {
  auto loop = TRIE;
  loop[18] = 0;  // "_ax" points back at the root
  auto cut = TRIE;
  cut.resize(16);
  auto past = TRIE;
  past[9] = 120;  // child offset beyond the trie
  std::vector<std::uint8_t> endless_uleb(12, 0x80);
  for (auto* t : {&loop, &cut, &past, &endless_uleb}) {
    auto got = walk(*t);
    ASSERT_FALSE(got.has_value());
    EXPECT_TRUE(got.error().starts_with("malformed exports trie: ")) << got.error();
  }
  EXPECT_TRUE(walk({}).value().empty());
}

}  // namespace
}  // namespace brindle::exe

#include "heif/heif_library.h"

#include <gtest/gtest.h>

#include "heif/utf8_text.h"

namespace brindle::heif {
namespace {

TEST(Utf8Lossy, ReplacesEachInvalidSequenceOnce) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"1.15.1", "1.15.1"},
      {"gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},       // valid two-byte sequences kept
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},                  // a byte that never starts a sequence
      {"\xC3(", "\xEF\xBF\xBD("},                          // truncated sequence, next byte kept
      {"\xE2\x82", "\xEF\xBF\xBD"},                        // truncated at the end: one replacement
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate: not a valid prefix
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},            // four-byte sequence kept
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_lossy(std::string_view(c.in)), c.out) << c.in;
  EXPECT_EQ(utf8_lossy(static_cast<const char*>(nullptr)), "");
}

TEST(HeifErrorMessage, FormatsFailuresOnly) {
  EXPECT_EQ(heif_error_message(LibheifError{0, 5, "ignored"}, "ctx"), std::nullopt);
  EXPECT_EQ(heif_error_message(LibheifError{2, 101, "Unsupported feature"}, "libheif could not open the file"),
            "libheif could not open the file: Unsupported feature (libheif error 2.101)");
  EXPECT_EQ(heif_error_message(LibheifError{7, -3, nullptr}, "no primary image"),
            "no primary image:  (libheif error 7.-3)");
  EXPECT_EQ(heif_error_message(LibheifError{-1, 0, "bad \xFF"}, "c"), "c: bad \xEF\xBF\xBD (libheif error -1.0)");
}

TEST(LoadHeifLibrary, MissingLibraryNamesItAndTheLoaderText) {
  auto lib = load_heif_library("libheif-not-installed.so.1");
  ASSERT_FALSE(lib);
  EXPECT_EQ(lib.error(),
            "libheif-not-installed.so.1 not found (libheif-not-installed.so.1: cannot open shared object file: No such "
            "file or directory)");
  EXPECT_EQ(unavailable_reason(std::unexpected(lib.error())), lib.error());

  // The loader's text is forwarded as UTF-8 even when the file name is not.
  auto odd = load_heif_library("libheif-\xFF.so.1");
  ASSERT_FALSE(odd);
  EXPECT_EQ(odd.error(),
            "libheif-\xFF.so.1 not found (libheif-\xEF\xBF\xBD.so.1: cannot open shared object file: No such file or "
            "directory)");
}

TEST(HeifLibrary, SystemLibraryIsBoundOnceAndDecodesHevc) {
  auto first = heif_library();
  ASSERT_TRUE(first) << first.error();
  auto second = heif_library();
  ASSERT_TRUE(second);
  EXPECT_EQ(*first, *second);  // one slot for the process
  EXPECT_EQ(heif_unavailable_reason(), std::nullopt);
  EXPECT_NE(std::string((*first)->get_version()), "");
}

}  // namespace
}  // namespace brindle::heif

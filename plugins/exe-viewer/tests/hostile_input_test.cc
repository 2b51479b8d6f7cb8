// Damaged files: every fixture cut short at many points and with header
// bytes overwritten. Each must still give a report (or the one-line failure)
// without crashing, hanging or reading outside the buffer; the sanitizer
// build runs the same cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "report.h"
#include "tool_output.h"

namespace brindle::exe {
namespace {

std::vector<std::string> fixture_names() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(EXE_FIXTURE_DIR))
    if (e.is_regular_file() && e.path().extension() != ".sh") names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void expect_report(const std::vector<std::uint8_t>& bytes, const std::string& what) {
  // A copy of exactly the damaged length, so reading past it is caught.
  std::vector<std::uint8_t> exact(bytes);
  std::string r = build_report(Bytes(exact));
  ASSERT_FALSE(r.empty()) << what;
  ASSERT_EQ(r.back(), '\n') << what;
  if (!r.starts_with("Failed to parse executable: ")) {
    ASSERT_TRUE(r.ends_with("\n\n")) << what;
  }
}

TEST(HostileInput, TruncatedFixtures) {
  auto names = fixture_names();
  ASSERT_GE(names.size(), 25u);
  for (const auto& name : names) {
    auto bytes = test::read_fixture(name);
    std::size_t step = std::max<std::size_t>(1, bytes.size() / 150);
    for (std::size_t len = 0; len < bytes.size(); len += step) {
      std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len));
      expect_report(cut, name + " cut at " + std::to_string(len));
    }
  }
}

TEST(HostileInput, CorruptedHeaders) {
  std::mt19937 rng(20261211);
  for (const auto& name : fixture_names()) {
    auto bytes = test::read_fixture(name);
    for (int round = 0; round < 200; ++round) {
      auto damaged = bytes;
      // Headers, load commands and tables sit in the first few KiB; hit
      // them with extreme values rather than random noise.
      std::size_t span = std::min<std::size_t>(damaged.size(), 4096);
      for (int k = 0; k < 4; ++k) {
        std::size_t at = rng() % span;
        static const std::uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
        damaged[at] = values[rng() % 5];
      }
      expect_report(damaged, name + " round " + std::to_string(round));
    }
  }
}

// Inputs that once broke the object-file library, kept as they were found.
TEST(HostileInput, RegressionInputs) {
  for (const auto& e : std::filesystem::directory_iterator(std::string(EXE_FIXTURE_DIR) + "/hostile")) {
    auto bytes = test::read_fixture("hostile/" + e.path().filename().string());
    expect_report(bytes, e.path().filename());
  }
}

}  // namespace
}  // namespace brindle::exe

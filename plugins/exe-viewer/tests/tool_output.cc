#include "tool_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace brindle::exe::test {

std::string fixture_path(const std::string& name) { return std::string(EXE_FIXTURE_DIR) + "/" + name; }

std::vector<std::uint8_t> read_fixture(const std::string& name) {
  std::ifstream in(fixture_path(name), std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string run_tool(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>/dev/null").c_str(), "r"), pclose);
  EXPECT_TRUE(pipe) << command;
  if (!pipe) return {};
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  EXPECT_FALSE(out.empty()) << "no output from: " << command;
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::vector<std::map<std::string, std::string>> readobj_blocks(const std::string& text, const std::string& block) {
  std::vector<std::map<std::string, std::string>> out;
  int depth = 0;
  for (const auto& line : lines_of(text)) {
    auto w = words_of(line);
    if (w.empty()) continue;
    if (depth == 0) {
      if (w.size() == 2 && w[0] == block && w[1] == "{") {
        out.emplace_back();
        depth = 1;
      }
      continue;
    }
    if (w.back() == "{" || w.back() == "[") {
      ++depth;
      out.back()[w[0]] = "";  // a nested block is noted under its name
      continue;
    }
    if (w[0] == "}" || w[0] == "]") {
      if (--depth == 0) continue;
    }
    // "Key: value", where the key may hold spaces ("Value (RelocatableAddress)").
    auto colon = line.find(": ");
    if (colon == std::string::npos && line.ends_with(":")) colon = line.size() - 1;
    if (colon != std::string::npos) {
      auto key_words = words_of(line.substr(0, colon));
      auto value_words = words_of(line.substr(colon + 1));
      std::string key;
      for (const auto& k : key_words) key += (key.empty() ? "" : " ") + k;
      if (!key.empty() && !out.back().contains(key)) out.back()[key] = value_words.empty() ? "" : value_words[0];
    }
  }
  return out;
}

std::uint64_t parse_number(const std::string& text) {
  return std::stoull(text, nullptr, text.starts_with("0x") || text.starts_with("0X") ? 16 : 10);
}

}  // namespace brindle::exe::test

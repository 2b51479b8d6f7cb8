// Test helpers: run an independent tool (readelf, llvm-readobj, llvm-nm,
// llvm-objdump) on a fixture and pick its output apart, so the reader's
// results can be compared with what those tools say about the same file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brindle::exe::test {

std::string fixture_path(const std::string& name);
std::vector<std::uint8_t> read_fixture(const std::string& name);

// Standard output of a shell command; fails the test when it cannot run.
std::string run_tool(const std::string& command);

std::vector<std::string> lines_of(const std::string& text);
std::vector<std::string> words_of(const std::string& line);

// llvm-readobj's "Key: value" blocks opened by "<block> {", each as a map
// from key to the first word of its value. Nested blocks are flattened:
// their keys join the enclosing block's (first one wins) and their names
// appear as keys with an empty value.
std::vector<std::map<std::string, std::string>> readobj_blocks(const std::string& text, const std::string& block);

std::uint64_t parse_number(const std::string& text);  // decimal, or hex with 0x

}  // namespace brindle::exe::test

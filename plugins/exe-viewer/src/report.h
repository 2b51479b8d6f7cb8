// The executable report: one plain-text document about a file's format,
// architecture, entry point and size, then its dependencies, sections,
// exports, imports and symbols, each name followed by its demangled form.
#pragma once

#include <cstdint>
#include <string>

#include "bytes.h"
#include "object_file.h"

namespace brindle::exe {

// Room the report buffer starts with.
inline constexpr std::size_t REPORT_INITIAL_CAPACITY = 65536;
// Where the report stops growing. A few MB of symbol table whose entries
// all name one long string would otherwise spell out terabytes; a report
// that reaches this size ends with a line saying it was cut short.
inline constexpr std::size_t MAX_REPORT_BYTES = 256u << 20;

// Never fails: a file that cannot be parsed gives the one-line
// "Failed to parse executable: {}" report.
std::string build_report(Bytes data);

// The report of an already parsed file (`data` is the whole file).
std::string build_report(const ObjectFile& file);

// Decimal digits with a comma before every group of three from the right.
std::string group_thousands(std::uint64_t n);

}  // namespace brindle::exe

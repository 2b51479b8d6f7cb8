// Opens a file's bytes as one of the ten supported kinds and parses it in
// full. The result borrows `data`, which must outlive it.
#pragma once

#include <expected>
#include <string>

#include "object_file.h"

namespace brindle::exe {

std::expected<ObjectFile, std::string> read_object(Bytes data);

}  // namespace brindle::exe

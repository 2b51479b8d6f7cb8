// Included first into the Cap'n Proto translation units when they are built
// with clang 16 (the fuzzing build): the 0.9 headers compare `const char*`
// with kj strings through reversed comparison candidates that this clang
// does not form, so the plain operators are declared here.
#pragma once

#include <kj/string.h>

namespace kj {
inline bool operator==(const char* a, const StringPtr& b) { return b == StringPtr(a); }
inline bool operator!=(const char* a, const StringPtr& b) { return !(b == StringPtr(a)); }
}  // namespace kj

// Writes 8-bit straight-alpha RGBA pixels as a PNG file.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace brindle::host {

std::expected<void, std::string> write_png(const std::string& path, std::uint32_t width, std::uint32_t height,
                                           std::span<const std::uint8_t> rgba);

}  // namespace brindle::host

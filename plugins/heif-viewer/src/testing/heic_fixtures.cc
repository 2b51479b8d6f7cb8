#include "testing/heic_fixtures.h"

#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace brindle::heif::testing {

Raster make_pattern(std::uint32_t width, std::uint32_t height, unsigned channels) {
  Raster r{width, height, channels, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * channels)};
  std::uint32_t noise = 12345;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      std::uint8_t* p = &r.bytes[(static_cast<std::size_t>(y) * width + x) * channels];
      p[0] = static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1u));
      p[1] = static_cast<std::uint8_t>(y * 255 / std::max(height - 1, 1u));
      // A band of noise near the right edge, calm elsewhere (keeps encoding
      // quick while giving averaging uneven values).
      p[2] = x + 64 >= width ? static_cast<std::uint8_t>((noise >> 16) & 0xFF) : static_cast<std::uint8_t>((x + y) / 4);
      if (channels == 4) p[3] = static_cast<std::uint8_t>(255 - (y * 200 / std::max(height, 1u)) - (x % 3) * 10);
    }
  }
  return r;
}

Raster reference_box(const Raster& src, std::uint32_t tw, std::uint32_t th) {
  Raster out{tw, th, 4, std::vector<std::uint8_t>(static_cast<std::size_t>(tw) * th * 4)};
  const std::uint64_t sw = src.width, sh = src.height;
  for (std::uint64_t y = 0; y < th; ++y) {
    const std::uint64_t y0 = sh * y / th;
    const std::uint64_t y1 = std::min(std::max(sh * (y + 1) / th, y0 + 1), sh);
    for (std::uint64_t x = 0; x < tw; ++x) {
      const std::uint64_t x0 = sw * x / tw;
      const std::uint64_t x1 = std::min(std::max(sw * (x + 1) / tw, x0 + 1), sw);
      const std::uint64_t n = (x1 - x0) * (y1 - y0);
      for (unsigned c = 0; c < 4; ++c) {
        std::uint8_t value = 255;
        if (c < src.channels) {
          std::uint64_t sum = 0;
          for (std::uint64_t r = y0; r < y1; ++r) {
            for (std::uint64_t k = x0; k < x1; ++k) sum += src.bytes[(r * sw + k) * src.channels + c];
          }
          value = static_cast<std::uint8_t>((sum + n / 2) / n);
        }
        out.bytes[(y * tw + x) * 4 + c] = value;
      }
    }
  }
  return out;
}

Raster to_rgba(const Raster& src) {
  if (src.channels == 4) return src;
  Raster out{src.width, src.height, 4, {}};
  out.bytes.reserve(static_cast<std::size_t>(src.width) * src.height * 4);
  for (std::size_t i = 0; i < src.bytes.size(); i += 3) {
    out.bytes.insert(out.bytes.end(), {src.bytes[i], src.bytes[i + 1], src.bytes[i + 2], 255});
  }
  return out;
}

std::expected<void, std::string> write_png(const std::string& path, const Raster& raster) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = raster.width;
  image.height = raster.height;
  image.format = raster.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  image.flags = PNG_IMAGE_FLAG_FAST;
  if (!png_image_write_to_file(&image, path.c_str(), 0, raster.bytes.data(), 0, nullptr)) {
    return std::unexpected("write " + path + ": " + image.message);
  }
  return {};
}

std::expected<Raster, std::string> read_png(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    return std::unexpected("read " + path + ": " + image.message);
  }
  const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  Raster r{image.width, image.height, alpha ? 4u : 3u, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  if (!png_image_finish_read(&image, nullptr, r.bytes.data(), 0, nullptr)) {
    return std::unexpected("decode " + path + ": " + image.message);
  }
  return r;
}

std::expected<std::vector<std::uint8_t>, std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected("cannot open " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::expected<void, std::string> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) return std::unexpected("cannot write " + path);
  return {};
}

std::expected<ProcessResult, std::string> run_process(const std::vector<std::string>& argv,
                                                      const std::vector<std::string>* env) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return std::unexpected(std::string("pipe failed"));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  if (env) {
    for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (rc != 0) {
    close(pipe_fds[0]);
    return std::unexpected("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  ProcessResult result;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n > 0) {
      result.out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

namespace {

std::expected<void, std::string> run_tool(const std::vector<std::string>& argv) {
  auto result = run_process(argv);
  if (!result) return std::unexpected(result.error());
  if (result->exit_status != 0) {
    return std::unexpected(argv[0] + " exited with " + std::to_string(result->exit_status));
  }
  return {};
}

}  // namespace

std::expected<void, std::string> encode_heic(const std::string& png, const std::string& heic) {
  return run_tool({"heif-enc", "-q", "85", "-p", "preset=ultrafast", "-o", heic, png});
}

std::expected<void, std::string> convert_to_png(const std::string& heic, const std::string& png) {
  return run_tool({"heif-convert", "--quiet", heic, png});
}

TempDir::TempDir() {
  char pattern[] = "/tmp/heif-viewer-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace brindle::heif::testing

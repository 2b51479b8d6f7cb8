// Replays fuzz inputs through a fuzz target's entry point, as a plain test
// program: every file named (or found in a directory named) runs once.
// `--max-data-mb N` caps the process's data size first, so an input that
// makes the code allocate far beyond what it needs fails the test (skipped
// under AddressSanitizer, which reserves its shadow memory as data).
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool under_asan() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--max-data-mb" && i + 1 < argc) {
      const rlim_t bytes = std::strtoull(argv[++i], nullptr, 10) << 20;
      const rlimit limit{bytes, bytes};
      if (!under_asan() && setrlimit(RLIMIT_DATA, &limit) != 0) std::perror("setrlimit");
      continue;
    }
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::directory_iterator(arg)) files.push_back(e.path());
    } else {
      files.emplace_back(arg);
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::printf("replaying %s (%zu bytes)\n", f.filename().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}

// Manifest mode, run on real executables copied into scratch directories.
#include "plugin_protocol/manifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_process.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct ScratchDir {
  fs::path path;
  ScratchDir() {
    char tmpl[] = "/tmp/manifest-test-XXXXXX";
    path = ::mkdtemp(tmpl);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  ~ScratchDir() { fs::remove_all(path); }
};

// Copies `exe` into `dir` as `name` and runs it without arguments.
host::ProcessExit run_copy(const std::string& exe, const fs::path& dir, const std::string& name,
                           std::vector<std::string> prefix = {}) {
  fs::copy_file(exe, dir / name, fs::copy_options::overwrite_existing);
  prefix.push_back((dir / name).string());
  auto child = host::ChildProcess::spawn(prefix);
  EXPECT_TRUE(child.has_value());
  return child->wait(10'000);
}

TEST(Manifest, RealPluginsWriteTheirManifestsByteForByte) {
  const std::pair<const char*, const char*> plugins[] = {
#ifdef TIFF_VIEWER
      {TIFF_VIEWER, "tiff-viewer"},
#endif
#ifdef EXE_VIEWER
      {EXE_VIEWER, "exe-viewer"},
#endif
#ifdef HEIF_VIEWER
      {HEIF_VIEWER, "heif-viewer"},
#endif
  };
  for (const auto& [exe, name] : plugins) {
    ScratchDir dir;
    auto exit = run_copy(exe, dir.path, name);
    EXPECT_EQ(exit.status, 0) << name;
    const auto target = dir.path / (std::string(name) + ".toml");
    EXPECT_EQ(exit.stderr_text, "wrote " + target.string() + "\n");
    EXPECT_EQ(slurp(target), slurp(fs::path(EXPECTED_DIR) / (std::string(name) + ".toml"))) << name;
  }
}

TEST(Manifest, NamedAfterTheExecutableStem) {
  ScratchDir dir;
  auto exit = run_copy(TEST_VIEWER, dir.path, "tiff-viewer.old");
  EXPECT_EQ(exit.status, 0);
  const auto written = slurp(dir.path / "tiff-viewer.toml");
  EXPECT_NE(written.find("version = \"0.0.1\"\n"), std::string::npos) << written;
  // A second run replaces the file with the same content.
  EXPECT_EQ(run_copy(TEST_VIEWER, dir.path, "tiff-viewer.old").status, 0);
  EXPECT_EQ(slurp(dir.path / "tiff-viewer.toml"), written);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path)) ++files;
  EXPECT_EQ(files, 2u);
}

TEST(Manifest, UnwritableDirectory) {
  ScratchDir dir;
  std::vector<std::string> prefix;
  if (::geteuid() == 0) {
    // root writes anywhere: run the copy as nobody in a root-owned directory.
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  fs::copy_file(TEST_VIEWER, dir.path / "tiff-viewer");
  fs::permissions(dir.path, fs::perms::owner_write, fs::perm_options::remove);
  auto exit = run_copy(TEST_VIEWER, dir.path, "tiff-viewer", prefix);
  fs::permissions(dir.path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.stderr_text.rfind("error writing tiff-viewer.toml: ", 0), 0u) << exit.stderr_text;
  EXPECT_EQ(std::count(exit.stderr_text.begin(), exit.stderr_text.end(), '\n'), 1);
  EXPECT_FALSE(fs::exists(dir.path / "tiff-viewer.toml"));
}

TEST(Manifest, StemAndTemplateRules) {
  const std::pair<const char*, const char*> stems[] = {
      {"tiff-viewer", "tiff-viewer"}, {"tiff-viewer.bin", "tiff-viewer"}, {".hidden", ".hidden"},
      {"a.b.c", "a.b"},               {"bad\xff.x", "bad\xEF\xBF\xBD"},
  };
  for (const auto& [name, stem] : stems) EXPECT_EQ(manifest_stem(name), stem) << name;

  EXPECT_EQ(*fill_manifest("v = \"@VANTO_PKG_VERSION@\" @VANTO_PKG_VERSION@\n", "1.2"), "v = \"1.2\" 1.2\n");
  auto missing = fill_manifest("id = \"x\"\n", "1.2");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), "manifest template has no `version = \"@VANTO_PKG_VERSION@\"` line");
}

}  // namespace
}  // namespace brindle

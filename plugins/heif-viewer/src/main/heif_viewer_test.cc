#include "main/heif_viewer.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "heif/level_plan.h"
#include "main/install_notice.h"
#include "testing/heic_fixtures.h"

namespace brindle::heif {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(InstallNotice, TwelveLinesAroundTheReason) {
  EXPECT_EQ(install_notice("libheif.so.1 not found (libheif.so.1: cannot open shared object file)"),
            "HEIC / HEIF preview is not available on this system.\n"
            "\n"
            "libheif.so.1 not found (libheif.so.1: cannot open shared object file).\n"
            "\n"
            "Brindle decodes HEIC through the system libheif library and its\n"
            "HEVC codec (libde265); nothing is bundled, so install them with your\n"
            "package manager and open the file again:\n"
            "\n"
            "Fedora:         sudo dnf install libheif libheif-freeworld  (RPM Fusion)\n"
            "Debian/Ubuntu:  sudo apt install libheif1 libheif-plugin-libde265\n"
            "Arch:           sudo pacman -S libheif libde265\n"
            "openSUSE:       sudo zypper install libheif1 libheif-plugin-libde265  (Packman)\n");
}

// The loader's own text for `what` in the stand-in directory `dir`, taken
// from this process so the expectation does not restate glibc's wording.
std::string loader_text(const std::string& dir, const char* symbol) {
  const std::string path = dir + "/libheif.so.1";
  dlerror();
  void* so = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (so == nullptr) return dlerror();
  dlerror();
  void* found = dlsym(so, symbol);
  std::string text = found ? "" : dlerror();
  dlclose(so);
  return text;
}

// What a viewer answers in a process whose loader finds `dir`'s
// libheif.so.1 first: the render reply, 0x1E, the render_level reply.
std::string viewer_replies_with_library_in(const std::string& dir) {
  const std::vector<std::string> env = {"LD_LIBRARY_PATH=" + dir};
  auto run = testing::run_process({HEIF_VIEWER_DRIVER, "/nonexistent/picture.heic"}, &env);
  EXPECT_TRUE(run) << run.error();
  if (!run) return {};
  EXPECT_EQ(run->exit_status, 0);
  return run->out;
}

TEST(InstallNotice, AnsweredWhenTheLibraryCannotBeUsed) {
  const std::string root = HEIF_STAND_IN_ROOT;
  const std::string unloadable = root + "/unloadable";
  const std::string incomplete = root + "/incomplete";
  const std::string no_hevc = root + "/no_hevc";
  const struct {
    std::string dir, reason;
  } cases[] = {
      {unloadable, "libheif.so.1 not found (" + loader_text(unloadable, "heif_get_version") + ")"},
      // heif_image_get_width is missing too; the first in table order is named.
      {incomplete, "libheif.so.1 lacks heif_image_handle_has_alpha_channel: " +
                       loader_text(incomplete, "heif_image_handle_has_alpha_channel")},
      // The stand-in's version text ends in an invalid UTF-8 sequence.
      {no_hevc,
       "libheif 1.99.0-stand-in \xEF\xBF\xBD( is installed but has no HEVC decoder (the libde265 codec plugin)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    // The loader's report names the file it found.
    if (c.dir != no_hevc) {
      ASSERT_NE(c.reason.find(c.dir + "/libheif.so.1: "), std::string::npos) << c.reason;
    }
    // The notice is a successful reply; no document was opened.
    EXPECT_EQ(viewer_replies_with_library_in(c.dir),
              install_notice(c.reason) + "\x1E" + "error 0 render_level before render");
  }
}

TEST(InstallNotice, NotAnsweredWithAWorkingLibrary) {
  // The same driver with the system libheif reports the missing file.
  auto run = testing::run_process({HEIF_VIEWER_DRIVER, "/nonexistent/picture.heic"});
  ASSERT_TRUE(run) << run.error();
  EXPECT_TRUE(run->out.starts_with("error 0 libheif could not open the file: ")) << run->out;
  EXPECT_TRUE(run->out.ends_with("\x1E" "error 0 render_level before render")) << run->out;
}

// A scripted libheif acts out one failure at a time and logs every object
// it hands out and takes back, so each path shows its message and that
// images, handles and contexts were released, in that order.
TEST(ScriptedLibheif, EveryPathReleasesInOrder) {
  const std::string table = [] {
    const Payload p = level_table_payload(4, 2, std::vector<std::uint32_t>{4});
    return std::string(p.begin(), p.end());
  }();
  const std::string level = [] {
    const Payload p = encode_single_frame(3, 8, 4, 2,
                                          Bytes{1,  2,  3,  255, 4,  5,  6,  255, 7,  8,  9,  255, 10, 11, 12, 255,
                                                13, 14, 15, 255, 16, 17, 18, 255, 19, 20, 21, 255, 22, 23, 24, 255});
    return std::string(p.begin(), p.end());
  }();
  const std::string probed = "ctx+ handle+ handle- ctx- " + table + "\x1E";
  const std::string decoded = "ctx+ handle+ image+ image- handle- ctx- ";
  const std::string no_document = "\x1E" "error 0 render_level before render";
  const struct {
    std::string fault, replies;
  } cases[] = {
      {"none", probed + decoded + level},
      {"alloc", "error 0 heif_context_alloc failed" + no_document},
      {"read", "ctx+ ctx- error 0 libheif could not open the file:  (libheif error 2.100)" + no_document},
      {"primary_null", "ctx+ ctx- error 0 no primary image" + no_document},
      {"primary_error",
       "ctx+ handle+ handle- ctx- error 0 no primary image: \xEF\xBF\xBDno item (libheif error 7.3)" + no_document},
      {"empty", "ctx+ handle+ handle- ctx- error 0 container reports an empty image" + no_document},
      {"decode_error",
       probed + decoded + "error 0 libheif could not decode the image: bad stream (libheif error 4.100)"},
      {"null_image", probed + "ctx+ handle+ handle- ctx- error 0 libheif returned no image"},
      {"size_mismatch", probed + decoded + "error 0 decoded 5\u00D72 but the container reported 4\u00D72"},
      {"negative_size", probed + decoded + "error 0 decoded 0\u00D72 but the container reported 4\u00D72"},
      {"no_plane", probed + decoded + "error 0 decoder returned no interleaved RGB plane"},
      {"short_stride", probed + decoded + "error 0 decoder returned no interleaved RGB plane"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> env = {"LD_LIBRARY_PATH=" + std::string(HEIF_STAND_IN_ROOT) + "/scripted",
                                          "HEIF_STAND_IN_FAULT=" + c.fault};
    auto run = testing::run_process({HEIF_VIEWER_DRIVER, "/any/picture.heic"}, &env);
    ASSERT_TRUE(run) << run.error();
    EXPECT_EQ(run->exit_status, 0) << c.fault;
    EXPECT_EQ(run->out, c.replies) << c.fault;
  }
}

class ViewerWithFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir();
    for (const auto& [name, w, h] : {std::tuple{"a", 1000u, 800u}, {"b", 300u, 200u}}) {
      const std::string png = dir_->file(std::string(name) + ".png");
      ASSERT_TRUE(testing::write_png(png, testing::make_pattern(w, h, 3)));
      auto made = testing::encode_heic(png, dir_->file(std::string(name) + ".heic"));
      ASSERT_TRUE(made) << made.error();
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string file(const std::string& name) { return dir_->file(name); }
  static Bytes bytes_of(const std::string& name) {
    auto b = testing::read_file(file(name));
    EXPECT_TRUE(b);
    return b ? *b : Bytes{};
  }
  // A private copy that a test may change or remove.
  std::string scratch_copy(const std::string& name) {
    const std::string path = scratch_.file(name);
    EXPECT_TRUE(testing::write_file(path, bytes_of(name)));
    return path;
  }

  static testing::TempDir* dir_;
  testing::TempDir scratch_;
};

testing::TempDir* ViewerWithFiles::dir_ = nullptr;

void expect_error(const ViewerResult& r, ErrorCode code, const std::string& message) {
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, code);
  EXPECT_EQ(r.error().message, message);
}

TEST_F(ViewerWithFiles, RenderAnswersTheLevelTable) {
  HeifViewer viewer;
  auto table = viewer.render(RenderSource::from_path(file("a.heic")));
  ASSERT_TRUE(table) << table.error().message;
  EXPECT_EQ(*table, level_table_payload(1000, 800, std::vector<std::uint32_t>{500, 1000}));
}

TEST_F(ViewerWithFiles, LevelsBeforeRenderAndOutOfRange) {
  HeifViewer viewer;
  expect_error(viewer.render_level(0), ErrorCode::failed, "render_level before render");
  ASSERT_TRUE(viewer.render(RenderSource::from_path(file("a.heic"))));
  expect_error(viewer.render_level(2), ErrorCode::not_found, "no level 2");
  expect_error(viewer.render_level(4294967295u), ErrorCode::not_found, "no level 4294967295");
  EXPECT_TRUE(viewer.render_level(1));
  expect_error(viewer.render_region(0, 0, 0, 1, 1), ErrorCode::unsupported, "render_region not supported");
}

TEST_F(ViewerWithFiles, LevelsComeFromOneDecode) {
  HeifViewer viewer;
  const std::string path = scratch_copy("a.heic");
  ASSERT_TRUE(viewer.render(RenderSource::from_path(path)));
  auto large = viewer.render_level(1);
  ASSERT_TRUE(large) << large.error().message;
  // With the file gone, only the kept base can serve the next levels.
  ASSERT_EQ(std::remove(path.c_str()), 0);
  auto small = viewer.render_level(0);
  ASSERT_TRUE(small) << small.error().message;
  auto again = viewer.render_level(1);
  ASSERT_TRUE(again) << again.error().message;
  EXPECT_EQ(*again, *large);

  // The last level is the base as decoded, the first its average.
  const Bytes base(large->begin() + IMAGE_HEADER_SIZE + IMAGE_FRAME_HEADER_SIZE, large->end());
  ASSERT_EQ(base.size(), 1000u * 800u * 4u);
  const testing::Raster expected = testing::reference_box(testing::Raster{1000, 800, 4, base}, 500, 400);
  EXPECT_EQ(*small, encode_single_frame(3, 8, 500, 400, expected.bytes));
}

TEST_F(ViewerWithFiles, CorruptFileKeepsThePreviousDocument) {
  HeifViewer viewer;
  ASSERT_TRUE(viewer.render(RenderSource::from_path(file("a.heic"))));
  auto before = viewer.render_level(0);
  ASSERT_TRUE(before);

  const Bytes junk(2048, 0x42);
  auto failed = viewer.render(RenderSource::from_bytes(junk));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().code, ErrorCode::failed);
  EXPECT_TRUE(failed.error().message.starts_with("libheif could not open the file: ")) << failed.error().message;

  auto after = viewer.render_level(0);
  ASSERT_TRUE(after) << after.error().message;
  EXPECT_EQ(*after, *before);
  expect_error(viewer.render_level(2), ErrorCode::not_found, "no level 2");  // still a's two levels
}

TEST_F(ViewerWithFiles, NewDocumentReplacesTheOld) {
  HeifViewer viewer;
  ASSERT_TRUE(viewer.render(RenderSource::from_path(file("a.heic"))));
  ASSERT_TRUE(viewer.render_level(1));
  ASSERT_TRUE(viewer.render(RenderSource::from_path(file("b.heic"))));
  auto level = viewer.render_level(0);
  ASSERT_TRUE(level) << level.error().message;
  EXPECT_EQ(level->size(), IMAGE_HEADER_SIZE + IMAGE_FRAME_HEADER_SIZE + 300u * 200u * 4u);
  expect_error(viewer.render_level(1), ErrorCode::not_found, "no level 1");
}

TEST_F(ViewerWithFiles, InputBytesAreTheDocumentsOwn) {
  HeifViewer by_path;
  ASSERT_TRUE(by_path.render(RenderSource::from_path(file("a.heic"))));
  auto expected = by_path.render_level(0);
  ASSERT_TRUE(expected);

  HeifViewer viewer;
  {
    // The request's bytes die with the request, as the input segment does.
    RenderSource source = RenderSource::from_bytes(bytes_of("a.heic"));
    ASSERT_TRUE(viewer.render(std::move(source)));
  }
  // An empty path also means "take the bytes".
  auto level = viewer.render_level(0);
  ASSERT_TRUE(level) << level.error().message;
  EXPECT_EQ(*level, *expected);
}

TEST_F(ViewerWithFiles, FailedDecodeIsRetriedByTheNextLevelRequest) {
  HeifViewer viewer;
  const Bytes whole = bytes_of("a.heic");
  const std::string path = scratch_.file("wiped.heic");
  ASSERT_TRUE(testing::write_file(path, testing::wipe_media_data(whole)));
  ASSERT_TRUE(viewer.render(RenderSource::from_path(path)));  // the container is intact

  auto broken = viewer.render_level(0);
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().code, ErrorCode::failed);
  EXPECT_TRUE(broken.error().message.starts_with("libheif could not decode the image: ")) << broken.error().message;

  ASSERT_TRUE(testing::write_file(path, whole));
  EXPECT_TRUE(viewer.render_level(0));
}

}  // namespace
}  // namespace brindle::heif

// The heif-viewer executable driven through the protocol the way the file
// manager drives it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "heif/level_plan.h"
#include "host_session.h"
#include "main/install_notice.h"
#include "plugin_protocol/image_payload.h"
#include "testing/heic_fixtures.h"

namespace brindle::heif {
namespace {

using host::HostSession;
using host::Reply;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t OUTPUT_SIZE = 64u << 20;

class PluginProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    png_ = dir_.file("in.png");
    heic_ = dir_.file("picture.heic");
    ASSERT_TRUE(testing::write_png(png_, testing::make_pattern(700, 500, 4)));
    auto made = testing::encode_heic(png_, heic_);
    ASSERT_TRUE(made) << made.error();
  }

  static HostSession start() {
    auto session = HostSession::start(HEIF_VIEWER_EXE);
    EXPECT_TRUE(session) << session.error();
    if (!session) std::abort();
    EXPECT_EQ(session->plugin_id(), "heic");
    return std::move(*session);
  }

  static Reply ok(std::expected<Reply, std::string> reply) {
    EXPECT_TRUE(reply) << reply.error();
    if (!reply) return {};
    EXPECT_TRUE(reply->ok()) << host::error_code_name(reply->error_code) << ": " << reply->error_message;
    return *reply;
  }

  static void expect_error(std::expected<Reply, std::string> reply, ErrorCode code, const std::string& message) {
    ASSERT_TRUE(reply) << reply.error();
    ASSERT_FALSE(reply->ok());
    EXPECT_EQ(reply->error_code, code);
    EXPECT_EQ(reply->error_message, message);
  }

  testing::TempDir dir_;
  std::string png_, heic_;
};

TEST_F(PluginProcess, ServesTableAndLevelsByPathAndByBytes) {
  auto converted = testing::convert_to_png(heic_, dir_.file("reference.png"));
  ASSERT_TRUE(converted) << converted.error();
  auto reference = testing::read_png(dir_.file("reference.png"));
  ASSERT_TRUE(reference) << reference.error();
  const std::vector<std::uint32_t> levels = {350, 700};

  HostSession session = start();
  expect_error(session.render_level(0, OUTPUT_SIZE), ErrorCode::failed, "render_level before render");
  EXPECT_EQ(ok(session.render_path(heic_, OUTPUT_SIZE)).payload, level_table_payload(700, 500, levels));
  const Reply full = ok(session.render_level(1, OUTPUT_SIZE));
  EXPECT_EQ(full.payload, encode_single_frame(3, 8, 700, 500, testing::to_rgba(*reference).bytes));
  const Reply half = ok(session.render_level(0, OUTPUT_SIZE));
  EXPECT_EQ(half.payload, encode_single_frame(3, 8, 350, 250, testing::reference_box(*reference, 350, 250).bytes));
  expect_error(session.render_level(2, OUTPUT_SIZE), ErrorCode::not_found, "no level 2");
  expect_error(session.render_region(0, 0, 0, 8, 8, OUTPUT_SIZE), ErrorCode::unsupported,
               "render_region not supported");

  // The same file through an input segment, which is gone by the time the
  // level is asked for.
  auto bytes = testing::read_file(heic_);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(ok(session.render_bytes(*bytes, OUTPUT_SIZE)).payload, level_table_payload(700, 500, levels));
  EXPECT_EQ(ok(session.render_level(0, OUTPUT_SIZE)).payload, half.payload);

  const host::ProcessExit exit = session.finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0) << exit.stderr_text;
}

TEST_F(PluginProcess, BrokenFileIsAnErrorReplyAndTheDocumentStays) {
  HostSession session = start();
  ASSERT_TRUE(ok(session.render_path(heic_, OUTPUT_SIZE)).payload);
  const Reply before = ok(session.render_level(0, OUTPUT_SIZE));

  auto reply = session.render_bytes(Bytes(1000, 0x17), OUTPUT_SIZE);
  ASSERT_TRUE(reply) << reply.error();
  ASSERT_FALSE(reply->ok());
  EXPECT_EQ(reply->error_code, ErrorCode::failed);
  EXPECT_TRUE(reply->error_message.starts_with("libheif could not open the file: ")) << reply->error_message;
  EXPECT_EQ(ok(session.render_level(0, OUTPUT_SIZE)).payload, before.payload);
  EXPECT_EQ(session.finish().status, 0);
}

// Sets an environment variable for the plug-ins this test starts.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

TEST_F(PluginProcess, NoticeWhenTheLoaderFindsNoUsableLibheif) {
  const ScopedEnv library_path("LD_LIBRARY_PATH", std::string(HEIF_STAND_IN_ROOT) + "/no_hevc");
  HostSession session = start();
  const Reply notice = ok(session.render_path(heic_, OUTPUT_SIZE));
  const std::string expected = install_notice(
      "libheif 1.99.0-stand-in \xEF\xBF\xBD( is installed but has no HEVC decoder (the libde265 codec plugin)");
  EXPECT_EQ(notice.payload, Bytes(expected.begin(), expected.end()));
  EXPECT_EQ(notice.written, expected.size());
  expect_error(session.render_level(0, OUTPUT_SIZE), ErrorCode::failed, "render_level before render");
  EXPECT_EQ(session.finish().status, 0);
}

}  // namespace
}  // namespace brindle::heif

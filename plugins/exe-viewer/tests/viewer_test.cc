// The viewer's render: by path (with the read errors) and by bytes, called
// directly and through a real plug-in process driven by the host session.
#include <gtest/gtest.h>

#include <unistd.h>

#include "exe_viewer.h"
#include "host_session.h"
#include "report.h"
#include "tool_output.h"

namespace brindle::exe {
namespace {

std::string text_of(const Payload& p) { return std::string(p.begin(), p.end()); }

TEST(ExeViewer, RenderByPathAndByBytesAgree) {
  ExeViewer viewer;
  auto by_path = viewer.render(RenderSource::from_path(test::fixture_path("pe-winlib.dll")));
  ASSERT_TRUE(by_path.has_value());
  auto by_bytes = viewer.render(RenderSource::from_bytes(test::read_fixture("pe-winlib.dll")));
  ASSERT_TRUE(by_bytes.has_value());
  EXPECT_EQ(*by_path, *by_bytes);
  EXPECT_TRUE(text_of(*by_path).starts_with("== Executable info ==\n  Format:     PE 64-bit"));
  // Nothing is kept: a second render is byte-identical.
  EXPECT_EQ(*viewer.render(RenderSource::from_path(test::fixture_path("pe-winlib.dll"))), *by_path);
}

TEST(ExeViewer, ReadFailuresAndEmptyInput) {
  ExeViewer viewer;
  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {"/nonexistent/exe-viewer-test", "read /nonexistent/exe-viewer-test: No such file or directory (os error 2)"},
      {"/", "read /: Is a directory (os error 21)"},
      {std::string("/tmp/a\0b", 8), "read " + std::string("/tmp/a\0b", 8) + ": file name contained an unexpected NUL byte"},
      {"/tmp/\xFF", "read /tmp/\xEF\xBF\xBD: No such file or directory (os error 2)"},
      // Devices could stream forever: refused instead of read to the end.
      {"/dev/zero", "read /dev/zero: not a regular file"},
  };
  for (const auto& c : cases) {
    auto r = viewer.render(RenderSource::from_path(c.path));
    ASSERT_FALSE(r.has_value()) << c.path;
    EXPECT_EQ(r.error(), (PluginError{ErrorCode::failed, c.message}));
  }
  auto empty = viewer.render(RenderSource::from_bytes({}));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(text_of(*empty), "Failed to parse executable: Could not read file magic\n");
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = host::HostSession::start(EXE_VIEWER_EXE);
    ASSERT_TRUE(s.has_value()) << s.error();
    session.emplace(std::move(*s));
    ASSERT_EQ(session->plugin_id(), "exeinfo");
  }
  std::optional<host::HostSession> session;
  static constexpr std::uint64_t OUTPUT = 1 << 20;
};

TEST_F(EndToEnd, PathAndSegmentGiveIdenticalReports) {
  for (const char* name : {"elf-x86_64-gcc-cxx", "pe-winapp.exe", "macho-x86_64.dylib", "xcoff64.o"}) {
    auto by_path = session->render_path(test::fixture_path(name), OUTPUT);
    ASSERT_TRUE(by_path.has_value() && by_path->ok()) << name;
    auto bytes = test::read_fixture(name);
    auto by_bytes = session->render_bytes(bytes, OUTPUT);
    ASSERT_TRUE(by_bytes.has_value() && by_bytes->ok()) << name;
    EXPECT_EQ(*by_path->payload, *by_bytes->payload) << name;
    EXPECT_EQ(text_of(*by_path->payload), build_report(Bytes(bytes))) << name;
  }
}

TEST_F(EndToEnd, ErrorsLeaveThePluginRunning) {
  auto dir = session->render_path("/", OUTPUT);
  ASSERT_TRUE(dir.has_value());
  EXPECT_EQ(dir->error_code, ErrorCode::failed);
  EXPECT_EQ(dir->error_message, "read /: Is a directory (os error 21)");

  auto missing = session->render_path("/nonexistent/x.exe", OUTPUT);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->error_message, "read /nonexistent/x.exe: No such file or directory (os error 2)");

  auto level = session->render_level(0, OUTPUT);
  ASSERT_TRUE(level.has_value());
  EXPECT_EQ(level->error_code, ErrorCode::unsupported);
  EXPECT_EQ(level->error_message, "render_level not supported");

  // The plug-in survived every error and ends cleanly.
  auto exit = session->finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0);
}

// Zero bytes reach the viewer only as an input_size of 0 (the viewer's own
// test above gives the one-line report for them): a segment of size 0
// cannot be mapped, so the library answers before the viewer runs, and the
// plug-in goes on serving.
TEST_F(EndToEnd, EmptySegmentIsRefusedByTheLibrary) {
  auto empty = session->render_bytes(std::vector<std::uint8_t>{}, OUTPUT);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->error_code, ErrorCode::failed);
  EXPECT_EQ(empty->error_message, "open input segment: shared memory: MapOpenFailed(22)");
  auto next = session->render_bytes(test::read_fixture("xcoff32.o"), OUTPUT);
  ASSERT_TRUE(next.has_value() && next->ok());
  EXPECT_TRUE(text_of(*next->payload).starts_with("== Executable info ==\n  Format:     XCOFF 32-bit, big-endian\n"));
}

}  // namespace
}  // namespace brindle::exe

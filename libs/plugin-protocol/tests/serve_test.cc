// The request loop end to end: the test viewer runs as a real child process
// behind a real abstract socket, with host-created shared memory.
#include "plugin_protocol/serve.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cstring>

#include "host_segment.h"
#include "host_session.h"
#include "host_socket.h"
#include "plugin_protocol/framing.h"
#include "plugin_protocol/messages.h"
#include "wire_builder.h"

namespace brindle {
namespace {

using host::HostSegment;
using host::HostSession;

std::string text(const host::Reply& r) { return std::string(r.payload->begin(), r.payload->end()); }

HostSession start(std::vector<std::string> args = {}) {
  auto s = HostSession::start(TEST_VIEWER, args);
  EXPECT_TRUE(s.has_value()) << s.error();
  return std::move(*s);
}

void expect_error(const std::expected<host::Reply, std::string>& r, ErrorCode code, const std::string& message) {
  ASSERT_TRUE(r.has_value()) << r.error();
  ASSERT_FALSE(r->ok()) << "payload of " << r->written << " bytes";
  EXPECT_EQ(r->error_code, code);
  EXPECT_EQ(r->error_message, message);
}

TEST(Serve, GreetsAndAnswersTheRenderKinds) {
  auto s = start();
  EXPECT_EQ(s.plugin_id(), "test");

  auto by_path = s.render_path("/some/file.tif", 1024);
  ASSERT_TRUE(by_path.has_value() && by_path->ok());
  EXPECT_EQ(text(*by_path), "path:/some/file.tif;calls:1");
  EXPECT_EQ(by_path->written, by_path->payload->size());

  const std::vector<std::uint8_t> content{'a', 'b', 'c'};
  auto by_bytes = s.render_bytes(content, 1024);
  ASSERT_TRUE(by_bytes.has_value() && by_bytes->ok());
  EXPECT_EQ(text(*by_bytes), "bytes:3:abc;calls:2");

  auto level = s.render_level(0x01020304, 64);
  ASSERT_TRUE(level.has_value() && level->ok());
  ASSERT_EQ(level->payload->size(), 16u);
  EXPECT_EQ((*level->payload)[12], 0x04);

  expect_error(s.render_region(0, 0, 0, 1, 1, 64), ErrorCode::unsupported, "render_region not supported");
  expect_error(s.render_path("fail", 64), ErrorCode::too_large, "refused on purpose");
  expect_error(s.render_path("oom", 64), ErrorCode::failed, "out of memory");
  EXPECT_EQ(s.finish().status, 0);

  auto minimal = start({"minimal"});
  expect_error(minimal.render_level(0, 64), ErrorCode::unsupported, "render_level not supported");
}

TEST(Serve, OtherRequestKindsAreUnsupported) {
  auto s = start();
  for (auto body : {RequestBody(std::in_place_index<REQUEST_OTHER_7>, VoidMember{}),
                    RequestBody(std::in_place_index<0>, TextMember{"x"}),
                    RequestBody(std::in_place_index<11>, Other11{"t", {{"a", "b"}}, "", 1, true, false, 2})})
    expect_error(s.request(body, 64), ErrorCode::unsupported, "this is a viewer plugin and only handles render");
}

TEST(Serve, SegmentRules) {
  auto s = start();
  {  // a payload larger than the output segment is cut, and says so
    auto r = s.render_path("size:1000", 999);
    ASSERT_TRUE(r.has_value() && r->ok());
    EXPECT_EQ(r->written, 999u);
    EXPECT_EQ((*r->payload)[998], 998 % 251);
    auto exact = s.render_path("size:1000", 1000);
    EXPECT_EQ(exact->written, 1000u);
  }
  {  // path wins over input_segment: the segment is not even opened
    auto r = s.request(RequestBody(std::in_place_index<REQUEST_RENDER>,
                                   RenderRequest{"/no-such-segment", 5, "", 0, "/the/path"}),
                       256);
    ASSERT_TRUE(r.has_value() && r->ok());
    EXPECT_EQ(text(*r).rfind("path:/the/path", 0), 0u);
  }
  {  // input_size beyond the segment passes exactly the segment's bytes
    auto input = HostSegment::create(4);
    std::memcpy(input->bytes().data(), "wxyz", 4);
    auto r = s.request(RequestBody(std::in_place_index<REQUEST_RENDER>,
                                   RenderRequest{input->name(), 1000, "", 0, ""}),
                       256);
    ASSERT_TRUE(r.has_value() && r->ok());
    EXPECT_EQ(text(*r).rfind("bytes:4:wxyz;", 0), 0u);
  }
  const auto calls_before = text(*s.render_path("count", 256));
  // a missing input segment: error, and the viewer is not called
  expect_error(s.request(RequestBody(std::in_place_index<REQUEST_RENDER>,
                                     RenderRequest{"/brindle-missing-input", 10, "", 0, ""}),
                         256),
               ErrorCode::failed, "open input segment: shared memory: MapOpenFailed(2)");
  // an empty output segment: error, the payload is dropped
  expect_error(s.render_path("size:10", 0), ErrorCode::failed,
               "open output segment: shared memory: MapOpenFailed(22)");
  // the next request is served, and only the empty-output render reached the viewer
  const auto calls_after = text(*s.render_path("count", 256));
  EXPECT_EQ(calls_before.substr(calls_before.find(";calls:") + 7), "5");
  EXPECT_EQ(calls_after.substr(calls_after.find(";calls:") + 7), "7");
}

TEST(Serve, HostMessagesOtherThanRequestsGetNoReply) {
  auto s = start();
  for (const Message& m : {Message(Hello{1, "host"}), Message(Extra{1, 2, "x"}),
                           Message(Response{5, ResponseBody(std::in_place_index<RESPONSE_WRITTEN>, U64Member{1})})})
    ASSERT_TRUE(s.send_bytes(encode_message(m)).has_value());
  // The next message from the plug-in is the reply to this request.
  auto r = s.render_path("after", 256);
  ASSERT_TRUE(r.has_value()) << r.error();
  EXPECT_EQ(text(*r), "path:after;calls:1");
  EXPECT_EQ(s.finish().status, 0);
}

// Sends `bytes` and expects the plug-in to stop with status 101 and a
// "serve: " line.
void expect_fatal(const std::vector<std::uint8_t>& bytes, const char* what) {
  auto s = start();
  ASSERT_TRUE(s.send_bytes(bytes).has_value());
  auto next = s.read_message();
  EXPECT_TRUE(next.has_value() && !next->has_value()) << what << ": the plug-in answered";
  auto exit = s.finish();
  EXPECT_TRUE(exit.exited) << what;
  EXPECT_EQ(exit.status, 101) << what;
  EXPECT_NE(exit.stderr_text.find("\nserve: "), std::string::npos) << what << ": " << exit.stderr_text;
  // The first line names where the plug-in called plugin_main.
  const auto first_line = exit.stderr_text.substr(0, exit.stderr_text.find('\n'));
  EXPECT_NE(first_line.find("test_viewer.cc:"), std::string::npos) << what << ": " << first_line;
}

std::vector<std::uint8_t> framed(std::vector<std::uint64_t> words) {
  std::vector<std::uint8_t> out(8 + words.size() * 8);
  const auto n = static_cast<std::uint32_t>(words.size());
  std::memcpy(out.data() + 4, &n, 4);
  std::memcpy(out.data() + 8, words.data(), words.size() * 8);
  return out;
}

TEST(Serve, BrokenMessagesStopThePlugin) {
  using testing::struct_ptr;
  expect_fatal(framed({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 23, 0}), "request discriminant 23");
  expect_fatal(framed({struct_ptr(0, 1, 1), 2, struct_ptr(0, 3, 1), 1, 1, 0, struct_ptr(0, 1, 1), 10, 0}),
               "error code 10");
  expect_fatal(encode_message(Request{1, RequestBody(std::in_place_index<REQUEST_RENDER>,
                                                     RenderRequest{"", 0, "/o", 0, "bad\xff"})}),
               "render path not UTF-8");
  expect_fatal(framed({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 11, struct_ptr(0, 2, 3), 0, 0, 0,
                       struct_ptr(1, 0, 0), 0}),
               "malformed other_11 list");
  expect_fatal({0xFF, 0x01, 0, 0, 1, 0, 0, 0}, "512 segments");
}

TEST(Serve, EndOfStream) {
  {  // inside the header: an error
    auto s = start();
    ASSERT_TRUE(s.send_bytes(std::vector<std::uint8_t>{0, 0, 0}).has_value());
    auto exit = s.finish();
    EXPECT_EQ(exit.status, 101);
    EXPECT_NE(exit.stderr_text.find("serve: "), std::string::npos);
  }
  {  // at a message boundary: a clean end
    auto s = start();
    auto exit = s.finish();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.stderr_text, "");
  }
}

TEST(Serve, HostGoneBeforeTheReply) {
  auto s = start();
  auto request = Request{1, RequestBody(std::in_place_index<REQUEST_RENDER>, RenderRequest{"", 0, "/o", 0, "nap"})};
  ASSERT_TRUE(s.send_bytes(encode_message(request)).has_value());
  auto exit = s.finish();  // closes the socket while the render runs
  EXPECT_EQ(exit.status, 101);
  EXPECT_NE(exit.stderr_text.find("\nserve: "), std::string::npos) << exit.stderr_text;
}

TEST(Serve, ConnectFailures) {
  auto nobody = host::ChildProcess::spawn({TEST_VIEWER, host::unique_name("nobody-listens")});
  ASSERT_TRUE(nobody.has_value());
  auto exit = nobody->wait(10'000);
  EXPECT_EQ(exit.status, 101);
  EXPECT_NE(exit.stderr_text.find("\nconnect to host socket: "), std::string::npos) << exit.stderr_text;

  auto too_long = host::ChildProcess::spawn({TEST_VIEWER, std::string(108, 'x'), "ignored", "args"});
  exit = too_long->wait(10'000);
  EXPECT_EQ(exit.status, 101);
  EXPECT_NE(exit.stderr_text.find("connect to host socket: local socket name length exceeds capacity"),
            std::string::npos);

  // The host closes before hello: the greeting (or the read after it) fails.
  const auto name = host::unique_name("closes-early");
  auto listener = host::listen_abstract(name);
  auto child = host::ChildProcess::spawn({TEST_VIEWER, name});
  pollfd p{listener->get(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10'000), 1);
  listener->reset();
  exit = child->wait(10'000);
  EXPECT_EQ(exit.status, 101);
  EXPECT_NE(exit.stderr_text.find("serve: "), std::string::npos) << exit.stderr_text;
}

TEST(Serve, PluginDiesWithItsHost) {
  // Become the subreaper so the orphaned plug-in is reparented to us.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  const pid_t host_pid = ::fork();
  if (host_pid == 0) {
    auto s = HostSession::start(TEST_VIEWER);
    if (!s) ::_exit(1);
    const pid_t plugin = s->pid();
    (void)!::write(pipefd[1], &plugin, sizeof plugin);
    // A long render is under way when the host dies.
    auto request = Request{1, RequestBody(std::in_place_index<REQUEST_RENDER>, RenderRequest{"", 0, "/o", 0, "sleep"})};
    (void)s->send_bytes(encode_message(request));
    ::pause();
    ::_exit(0);
  }
  pid_t plugin = -1;
  ASSERT_EQ(::read(pipefd[0], &plugin, sizeof plugin), static_cast<ssize_t>(sizeof plugin));
  ::usleep(100'000);
  ::kill(host_pid, SIGKILL);
  ::waitpid(host_pid, nullptr, 0);
  int status = 0;
  pid_t reaped = 0;
  for (int i = 0; i < 300 && reaped == 0; ++i) {
    reaped = ::waitpid(plugin, &status, WNOHANG);
    if (reaped == 0) ::usleep(10'000);
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  ASSERT_EQ(reaped, plugin) << "the plug-in outlived its host by 3 s";
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

}  // namespace
}  // namespace brindle

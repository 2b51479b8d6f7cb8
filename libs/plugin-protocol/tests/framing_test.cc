#include "plugin_protocol/framing.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <thread>

#include "host_socket.h"

namespace brindle {
namespace {

struct SocketPair {
  Fd host, plugin;
  SocketPair() {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    host.reset(sv[0]);
    plugin.reset(sv[1]);
  }
  void send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(write_message(host.get(), bytes).has_value());
  }
};

std::vector<std::uint8_t> u32s(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> out;
  for (auto v : values)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
}

TEST(Framing, SegmentCountLimit) {
  {  // 511 segments: the first holds a null root, the rest are empty.
    SocketPair s;
    std::vector<std::uint32_t> table{510, 1};
    table.resize(512, 0);  // 511 sizes after the count, padded to 8 bytes
    auto bytes = u32s({});
    for (auto v : table) {
      auto w = u32s({v});
      bytes.insert(bytes.end(), w.begin(), w.end());
    }
    bytes.resize(bytes.size() + 8, 0);  // segment 0: one zero word
    s.send(bytes);
    auto m = read_message(s.plugin.get());
    ASSERT_TRUE(m.has_value()) << m.error();
    ASSERT_TRUE(m->has_value());
    EXPECT_EQ((*m)->segment_sizes.size(), 511u);
  }
  {  // 512 segments are refused from the header alone.
    SocketPair s;
    s.send(u32s({511, 1}));
    EXPECT_FALSE(read_message(s.plugin.get()).has_value());
  }
  {
    SocketPair s;
    s.send(u32s({0xFFFFFFFF, 1}));
    EXPECT_FALSE(read_message(s.plugin.get()).has_value());
  }
}

TEST(Framing, TotalSizeIsCheckedBeforeTheBody) {
  // Only the table is sent: a reader that waited for the body would block.
  SocketPair s;
  s.send(u32s({1, 8'388'608, 1, 0}));
  auto m = read_message(s.plugin.get());
  ASSERT_FALSE(m.has_value());
  EXPECT_NE(m.error().find("too large"), std::string::npos);
}

TEST(Framing, EndOfStream) {
  {  // closed at a message boundary: a clean end
    SocketPair s;
    s.host.reset();
    auto m = read_message(s.plugin.get());
    ASSERT_TRUE(m.has_value());
    EXPECT_FALSE(m->has_value());
  }
  {  // closed inside the 8-byte header: an error
    SocketPair s;
    s.send({0, 0, 0});
    s.host.reset();
    EXPECT_FALSE(read_message(s.plugin.get()).has_value());
  }
  {  // closed inside a segment: an error
    SocketPair s;
    s.send(u32s({0, 2, 0}));
    s.host.reset();
    EXPECT_FALSE(read_message(s.plugin.get()).has_value());
  }
}

TEST(Framing, WriteToAClosedPeerIsAnError) {
  SocketPair s;
  s.host.reset();
  auto sent = write_message(s.plugin.get(), std::vector<std::uint8_t>(64, 0));
  ASSERT_FALSE(sent.has_value());
  EXPECT_NE(sent.error().find("os error 32"), std::string::npos) << sent.error();
}

TEST(Connect, SocketNames) {
  auto with_nul = connect_to_host(std::string_view("ab\0cd", 5));
  ASSERT_FALSE(with_nul.has_value());
  EXPECT_EQ(with_nul.error(), "interior nul bytes are not allowed inside Unix domain socket names");

  auto too_long = connect_to_host(std::string(108, 'n'));
  ASSERT_FALSE(too_long.has_value());
  EXPECT_EQ(too_long.error(), "local socket name length exceeds capacity of sun_path of sockaddr_un");

  std::string longest = host::unique_name("longest");
  longest.resize(107, 'x');
  auto listener = host::listen_abstract(longest);
  ASSERT_TRUE(listener.has_value()) << listener.error();
  auto connected = connect_to_host(longest);
  EXPECT_TRUE(connected.has_value()) << connected.error();

  auto nobody = connect_to_host(host::unique_name("nobody-listens"));
  ASSERT_FALSE(nobody.has_value());
  EXPECT_NE(nobody.error().find("os error 111"), std::string::npos) << nobody.error();
}

}  // namespace
}  // namespace brindle

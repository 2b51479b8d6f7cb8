#include "plugin_protocol/messages.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>

#include "wire_builder.h"

namespace brindle {
namespace {

using testing::list_ptr;
using testing::one_segment;
using testing::struct_ptr;

// Sends `message` through a real socket pair and reads it back, so the
// framing is part of every round trip.
std::expected<Message, std::string> round_trip(const Message& message) {
  int sv[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  Fd a(sv[0]), b(sv[1]);
  EXPECT_TRUE(write_message(a.get(), encode_message(message)).has_value());
  auto framed = read_message(b.get());
  EXPECT_TRUE(framed.has_value() && framed->has_value());
  return decode_message(**framed);
}

template <std::size_t I, typename T>
Message request(T member) {
  return Request{0x1122334455667788ull + I, RequestBody(std::in_place_index<I>, std::move(member))};
}
template <std::size_t I, typename T>
Message response(T member) {
  return Response{77 + I, ResponseBody(std::in_place_index<I>, std::move(member))};
}

std::vector<Message> every_member() {
  const std::vector<Pair> pairs{{"k1", "v1"}, {"ключ", "значение"}, {"", ""}};
  const Bytes data{0, 1, 2, 255};
  const Record rec{"record", true, false, true, 0xDEADBEEF, 1ull << 40, 99};
  return {
      Hello{1, "tiff"},
      Extra{1, 2, "extra"},
      request<0>(TextMember{"zero"}),
      request<1>(TextMember{"one"}),
      request<2>(TwoTexts{"a", "b"}),
      request<3>(TextBool{"t", true}),
      request<4>(TextMember{"four"}),
      request<5>(TextU64{"t", 5}),
      request<6>(TextData{"t", data}),
      request<7>(VoidMember{}),
      request<8>(RenderRequest{"/in", 10, "/out", 20, "/tmp/a.tif"}),
      request<9>(TextU64U64{"t", 9, 90}),
      request<10>(TextU64Data{"t", 10, data}),
      request<11>(Other11{"t", pairs, "t2", 11, true, true, 1100}),
      request<12>(TextMember{"12"}),
      request<13>(TextMember{"13"}),
      request<14>(TextMember{"14"}),
      request<15>(U64Member{15}),
      request<16>(U64Member{~0ull}),
      request<17>(TwoTextsTwoU64{"a", "b", 17, 170}),
      request<18>(TwoTextsTwoU64{"c", "d", 18, 180}),
      request<19>(TextMember{"19"}),
      request<20>(BoolPairs{true, pairs}),
      request<21>(RenderLevelRequest{3, 4096, "/out"}),
      request<22>(RenderRegionRequest{1, 2, 3, 4, 5, 6, "/out"}),
      response<0>(VoidMember{}),
      response<1>(ErrorReply{ErrorCode::code_9, "nine"}),
      response<2>(std::vector<Record>{rec, Record{}}),
      response<3>(data),
      response<4>(Flags11{{true, false, true, false, false, false, false, false, false, false, true}}),
      response<5>(U64Member{55}),
      response<6>(rec),
      response<7>(U64Member{7}),
      response<8>(TwoU64{8, 80}),
  };
}

TEST(Messages, EveryMemberRoundTrips) {
  for (const auto& m : every_member()) {
    auto back = round_trip(m);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_TRUE(*back == m) << "envelope " << m.index();
  }
}

TEST(Messages, ShortSectionsReadAsDefaults) {
  // Envelope without data section: hello with defaults.
  auto hello = decode_message(one_segment({struct_ptr(0, 0, 1), 0}));
  ASSERT_TRUE(hello.has_value()) << hello.error();
  EXPECT_TRUE(*hello == Message(Hello{0, ""}));

  // Request of one data word: request_id only, member other_0.
  auto other0 = decode_message(one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 1, 1), 42, 0}));
  ASSERT_TRUE(other0.has_value()) << other0.error();
  EXPECT_TRUE(*other0 == Message(Request{42, RequestBody(std::in_place_index<0>, TextMember{})}));

  // Request of two data words, member other_15: its value (byte 16) is 0.
  auto other15 = decode_message(one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 7, 15, 0}));
  ASSERT_TRUE(other15.has_value()) << other15.error();
  const auto& req = std::get<Request>(*other15);
  ASSERT_EQ(req.body.index(), 15u);
  EXPECT_EQ(std::get<15>(req.body).value, 0u);

  // render_region from a sender whose struct has three data words.
  auto region = decode_message(one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 9, 22, struct_ptr(0, 3, 1),
                                            1 | 2ull << 32, 3 | 4ull << 32, 5, 0}));
  ASSERT_TRUE(region.has_value()) << region.error();
  const auto& r = std::get<REQUEST_RENDER_REGION>(std::get<Request>(*region).body);
  EXPECT_EQ(r, (RenderRegionRequest{1, 2, 3, 4, 5, 0, ""}));
}

TEST(Messages, MalformedMessagesFailToDecode) {
  struct Case {
    const char* what;
    FramedMessage message;
  };
  const Case cases[] = {
      {"envelope discriminant 4", one_segment({struct_ptr(0, 1, 1), 4, 0})},
      {"request discriminant 23", one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 23, 0})},
      {"response discriminant 9", one_segment({struct_ptr(0, 1, 1), 2, struct_ptr(0, 3, 1), 1, 9, 0, 0})},
      {"error code 10 in a host response",
       one_segment({struct_ptr(0, 1, 1), 2, struct_ptr(0, 3, 1), 1, 1, 0, struct_ptr(0, 1, 1), 10, 0})},
      {"other_11 pairs behind a struct pointer",
       one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 11, struct_ptr(0, 2, 3), 0, 0, 0,
                    struct_ptr(1, 0, 0), 0})},
      {"other_11 pair text without NUL",
       one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 11, struct_ptr(0, 2, 3), 0, 0, 0,
                    list_ptr(1, 7, 2), 0, struct_ptr(1, 0, 2), list_ptr(1, 2, 3), 0, 0x636261})},
      {"text pointer to a struct", one_segment({struct_ptr(0, 1, 1), 0, struct_ptr(0, 1, 1), 0, struct_ptr(-1, 1, 0)})},
      {"pointer out of the segment", one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(1000, 2, 1)})},
  };
  for (const auto& c : cases) {
    auto decoded = decode_message(c.message);
    EXPECT_FALSE(decoded.has_value()) << c.what;
  }
}

TEST(Messages, ZeroSizedElementsCannotOutnumberTheWords) {
  auto decoded = decode_message(one_segment({struct_ptr(0, 1, 1), 1, struct_ptr(0, 2, 1), 1, 20, struct_ptr(0, 1, 1),
                                             0, list_ptr(0, 7, 0), static_cast<std::uint64_t>(1'000'000) << 2}));
  ASSERT_FALSE(decoded.has_value());
  EXPECT_EQ(decoded.error(), "a list claims more elements than the message holds");
}

TEST(Messages, TextMustBeUtf8) {
  for (const char* bad : {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"}) {
    auto decoded = round_trip(request<8>(RenderRequest{"", 0, "/out", 0, bad}));
    ASSERT_FALSE(decoded.has_value()) << bad;
    EXPECT_EQ(decoded.error(), "text field is not valid UTF-8");
  }
  auto ok = round_trip(request<8>(RenderRequest{"", 0, "/out", 0, "Ünïcødé 🗺"}));
  EXPECT_TRUE(ok.has_value());
}

TEST(Messages, ViewerRepliesHaveTheirWireLayout) {
  // written: Response discriminant 5 at byte 8, count at byte 16.
  auto bytes = encode_message(written_response(3, 1234));
  auto framed = one_segment({});
  framed.words.resize((bytes.size() - 8) / 8);
  std::memcpy(framed.words.data(), bytes.data() + 8, bytes.size() - 8);
  const auto& w = framed.words;
  ASSERT_GE(w.size(), 6u);
  EXPECT_EQ(w[1] & 0xFFFF, 2u);  // envelope: response
  EXPECT_EQ(w[3], 3u);           // request_id
  EXPECT_EQ(w[4] & 0xFFFF, 5u);  // written
  EXPECT_EQ(w[5], 1234u);
}

}  // namespace
}  // namespace brindle

#include "plugin_protocol/messages.h"

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/exception.h>

#include <stdexcept>

#include "protocol.capnp.h"
#include "utf8.h"

namespace brindle {
namespace {

namespace w = wire;

// Raised inside the decoder only; decode_message turns it, and the Cap'n
// Proto reader's own exceptions, into an error value.
struct DecodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string text(capnp::Text::Reader t) {
  std::string_view view(t.cStr(), t.size());
  if (!is_valid_utf8(view)) throw DecodeError("text field is not valid UTF-8");
  return std::string(view);
}

Bytes data(capnp::Data::Reader d) { return Bytes(d.begin(), d.end()); }

// Every element a sender writes takes at least one word of the message, but
// the reader lets a list of zero-sized elements claim millions of them for
// one word each. Decoding those would cost far more memory than the message
// itself, so a message may hold at most as many list elements as it has
// words.
struct ElementBudget {
  std::uint64_t left;
  void take(std::size_t n) {
    if (n > left) throw DecodeError("a list claims more elements than the message holds");
    left -= n;
  }
};

std::vector<Pair> pairs(capnp::List<w::Pair>::Reader list, ElementBudget& budget) {
  budget.take(list.size());
  std::vector<Pair> out;
  out.reserve(list.size());
  for (auto p : list) out.push_back(Pair{text(p.getFirst()), text(p.getSecond())});
  return out;
}

Record record(w::Record::Reader r) {
  return Record{text(r.getText()), r.getFlag0(), r.getFlag1(), r.getHasValue(), r.getNumber(), r.getCount(),
                r.getValue()};
}

TwoTextsTwoU64 two_texts_two_u64(w::TwoTextsTwoU64::Reader r) {
  return {text(r.getFirst()), text(r.getSecond()), r.getA(), r.getB()};
}

template <std::size_t I, typename T>
RequestBody at(T value) {
  return RequestBody(std::in_place_index<I>, std::move(value));
}

RequestBody request_body(w::Request::Reader r, ElementBudget& budget) {
  const auto tag = static_cast<std::uint16_t>(r.which());
  switch (tag) {
    case 0: return at<0>(TextMember{text(r.getOther0())});
    case 1: return at<1>(TextMember{text(r.getOther1())});
    case 2: {
      auto s = r.getOther2();
      return at<2>(TwoTexts{text(s.getFirst()), text(s.getSecond())});
    }
    case 3: {
      auto s = r.getOther3();
      return at<3>(TextBool{text(s.getText()), s.getFlag()});
    }
    case 4: return at<4>(TextMember{text(r.getOther4())});
    case 5: {
      auto s = r.getOther5();
      return at<5>(TextU64{text(s.getText()), s.getValue()});
    }
    case 6: {
      auto s = r.getOther6();
      return at<6>(TextData{text(s.getText()), data(s.getData())});
    }
    case 7: return at<7>(VoidMember{});
    case 8: {
      auto s = r.getRender();
      return at<8>(RenderRequest{text(s.getInputSegment()), s.getInputSize(), text(s.getOutputSegment()),
                                 s.getOutputSize(), text(s.getPath())});
    }
    case 9: {
      auto s = r.getOther9();
      return at<9>(TextU64U64{text(s.getText()), s.getA(), s.getB()});
    }
    case 10: {
      auto s = r.getOther10();
      return at<10>(TextU64Data{text(s.getText()), s.getValue(), data(s.getData())});
    }
    case 11: {
      auto s = r.getOther11();
      return at<11>(Other11{text(s.getText()), pairs(s.getPairs(), budget), text(s.getText2()), s.getNumber(),
                            s.getFlag0(), s.getFlag1(), s.getValue()});
    }
    case 12: return at<12>(TextMember{text(r.getOther12())});
    case 13: return at<13>(TextMember{text(r.getOther13())});
    case 14: return at<14>(TextMember{text(r.getOther14())});
    case 15: return at<15>(U64Member{r.getOther15()});
    case 16: return at<16>(U64Member{r.getOther16()});
    case 17: return at<17>(two_texts_two_u64(r.getOther17()));
    case 18: return at<18>(two_texts_two_u64(r.getOther18()));
    case 19: return at<19>(TextMember{text(r.getOther19())});
    case 20: {
      auto s = r.getOther20();
      return at<20>(BoolPairs{s.getFlag(), pairs(s.getPairs(), budget)});
    }
    case 21: {
      auto s = r.getRenderLevel();
      return at<21>(RenderLevelRequest{s.getLevel(), s.getOutputSize(), text(s.getOutputSegment())});
    }
    case 22: {
      auto s = r.getRenderRegion();
      return at<22>(RenderRegionRequest{s.getLevel(), s.getX(), s.getY(), s.getWidth(), s.getHeight(),
                                        s.getOutputSize(), text(s.getOutputSegment())});
    }
    default: throw DecodeError("request kind " + std::to_string(tag) + " is not in the schema");
  }
}

ErrorCode error_code(w::ErrorCode code) {
  const auto raw = static_cast<std::uint16_t>(code);
  if (raw >= ERROR_CODE_COUNT) throw DecodeError("error code " + std::to_string(raw) + " is not in the schema");
  return static_cast<ErrorCode>(raw);
}

template <std::size_t I, typename T>
ResponseBody resp(T value) {
  return ResponseBody(std::in_place_index<I>, std::move(value));
}

ResponseBody response_body(w::Response::Reader r, ElementBudget& budget) {
  const auto tag = static_cast<std::uint16_t>(r.which());
  switch (tag) {
    case 0: return resp<0>(VoidMember{});
    case 1: {
      auto e = r.getError();
      return resp<1>(ErrorReply{error_code(e.getCode()), text(e.getMessage())});
    }
    case 2: {
      std::vector<Record> records;
      auto list = r.getResult2();
      budget.take(list.size());
      records.reserve(list.size());
      for (auto rec : list) records.push_back(record(rec));
      return resp<2>(std::move(records));
    }
    case 3: return resp<3>(data(r.getResult3()));
    case 4: {
      auto f = r.getResult4();
      return resp<4>(Flags11{{f.getF0(), f.getF1(), f.getF2(), f.getF3(), f.getF4(), f.getF5(), f.getF6(), f.getF7(),
                              f.getF8(), f.getF9(), f.getF10()}});
    }
    case 5: return resp<5>(U64Member{r.getWritten()});
    case 6: return resp<6>(record(r.getResult6()));
    case 7: return resp<7>(U64Member{r.getResult7()});
    case 8: {
      auto s = r.getResult8();
      return resp<8>(TwoU64{s.getA(), s.getB()});
    }
    default: throw DecodeError("response kind " + std::to_string(tag) + " is not in the schema");
  }
}

Message envelope(w::Envelope::Reader env, ElementBudget budget) {
  const auto tag = static_cast<std::uint16_t>(env.which());
  switch (tag) {
    case 0: {
      auto h = env.getHello();
      return Hello{h.getProtocolVersion(), text(h.getPluginId())};
    }
    case 1: {
      auto r = env.getRequest();
      return Request{r.getRequestId(), request_body(r, budget)};
    }
    case 2: {
      auto r = env.getResponse();
      return Response{r.getRequestId(), response_body(r, budget)};
    }
    case 3: {
      auto e = env.getExtra();
      return Extra{e.getA(), e.getB(), text(e.getText())};
    }
    default: throw DecodeError("envelope kind " + std::to_string(tag) + " is not in the schema");
  }
}

// ---- encoding ----

capnp::Text::Reader t(const std::string& s) { return capnp::Text::Reader(s.c_str(), s.size()); }
capnp::Data::Reader d(const Bytes& b) { return capnp::Data::Reader(b.data(), b.size()); }

void set_pairs(capnp::List<w::Pair>::Builder list, const std::vector<Pair>& src) {
  for (unsigned i = 0; i < src.size(); ++i) {
    list[i].setFirst(t(src[i].first));
    list[i].setSecond(t(src[i].second));
  }
}

void set_record(w::Record::Builder b, const Record& r) {
  b.setText(t(r.text));
  b.setFlag0(r.flag0);
  b.setFlag1(r.flag1);
  b.setHasValue(r.has_value);
  b.setNumber(r.number);
  b.setCount(r.count);
  b.setValue(r.value);
}

void set_two_texts_two_u64(w::TwoTextsTwoU64::Builder b, const TwoTextsTwoU64& v) {
  b.setFirst(t(v.first));
  b.setSecond(t(v.second));
  b.setA(v.a);
  b.setB(v.b);
}

void encode_request(w::Request::Builder b, const Request& req) {
  b.setRequestId(req.request_id);
  const auto& v = req.body;
  switch (v.index()) {
    case 0: b.setOther0(t(std::get<0>(v).text)); break;
    case 1: b.setOther1(t(std::get<1>(v).text)); break;
    case 2: {
      auto s = b.initOther2();
      s.setFirst(t(std::get<2>(v).first));
      s.setSecond(t(std::get<2>(v).second));
      break;
    }
    case 3: {
      auto s = b.initOther3();
      s.setText(t(std::get<3>(v).text));
      s.setFlag(std::get<3>(v).flag);
      break;
    }
    case 4: b.setOther4(t(std::get<4>(v).text)); break;
    case 5: {
      auto s = b.initOther5();
      s.setText(t(std::get<5>(v).text));
      s.setValue(std::get<5>(v).value);
      break;
    }
    case 6: {
      auto s = b.initOther6();
      s.setText(t(std::get<6>(v).text));
      s.setData(d(std::get<6>(v).data));
      break;
    }
    case 7: b.setOther7(); break;
    case 8: {
      const auto& r = std::get<8>(v);
      auto s = b.initRender();
      s.setInputSegment(t(r.input_segment));
      s.setInputSize(r.input_size);
      s.setOutputSegment(t(r.output_segment));
      s.setOutputSize(r.output_size);
      s.setPath(t(r.path));
      break;
    }
    case 9: {
      auto s = b.initOther9();
      s.setText(t(std::get<9>(v).text));
      s.setA(std::get<9>(v).a);
      s.setB(std::get<9>(v).b);
      break;
    }
    case 10: {
      auto s = b.initOther10();
      s.setText(t(std::get<10>(v).text));
      s.setValue(std::get<10>(v).value);
      s.setData(d(std::get<10>(v).data));
      break;
    }
    case 11: {
      const auto& o = std::get<11>(v);
      auto s = b.initOther11();
      s.setText(t(o.text));
      set_pairs(s.initPairs(static_cast<unsigned>(o.pairs.size())), o.pairs);
      s.setText2(t(o.text2));
      s.setNumber(o.number);
      s.setFlag0(o.flag0);
      s.setFlag1(o.flag1);
      s.setValue(o.value);
      break;
    }
    case 12: b.setOther12(t(std::get<12>(v).text)); break;
    case 13: b.setOther13(t(std::get<13>(v).text)); break;
    case 14: b.setOther14(t(std::get<14>(v).text)); break;
    case 15: b.setOther15(std::get<15>(v).value); break;
    case 16: b.setOther16(std::get<16>(v).value); break;
    case 17: set_two_texts_two_u64(b.initOther17(), std::get<17>(v)); break;
    case 18: set_two_texts_two_u64(b.initOther18(), std::get<18>(v)); break;
    case 19: b.setOther19(t(std::get<19>(v).text)); break;
    case 20: {
      const auto& o = std::get<20>(v);
      auto s = b.initOther20();
      s.setFlag(o.flag);
      set_pairs(s.initPairs(static_cast<unsigned>(o.pairs.size())), o.pairs);
      break;
    }
    case 21: {
      const auto& r = std::get<21>(v);
      auto s = b.initRenderLevel();
      s.setLevel(r.level);
      s.setOutputSize(r.output_size);
      s.setOutputSegment(t(r.output_segment));
      break;
    }
    case 22: {
      const auto& r = std::get<22>(v);
      auto s = b.initRenderRegion();
      s.setLevel(r.level);
      s.setX(r.x);
      s.setY(r.y);
      s.setWidth(r.width);
      s.setHeight(r.height);
      s.setOutputSize(r.output_size);
      s.setOutputSegment(t(r.output_segment));
      break;
    }
  }
}

void encode_response(w::Response::Builder b, const Response& resp_in) {
  b.setRequestId(resp_in.request_id);
  const auto& v = resp_in.body;
  switch (v.index()) {
    case 0: b.setResult0(); break;
    case 1: {
      auto e = b.initError();
      e.setCode(static_cast<w::ErrorCode>(std::get<1>(v).code));
      e.setMessage(t(std::get<1>(v).message));
      break;
    }
    case 2: {
      const auto& recs = std::get<2>(v);
      auto list = b.initResult2(static_cast<unsigned>(recs.size()));
      for (unsigned i = 0; i < recs.size(); ++i) set_record(list[i], recs[i]);
      break;
    }
    case 3: b.setResult3(d(std::get<3>(v))); break;
    case 4: {
      const auto& f = std::get<4>(v).flags;
      auto s = b.initResult4();
      s.setF0(f[0]);
      s.setF1(f[1]);
      s.setF2(f[2]);
      s.setF3(f[3]);
      s.setF4(f[4]);
      s.setF5(f[5]);
      s.setF6(f[6]);
      s.setF7(f[7]);
      s.setF8(f[8]);
      s.setF9(f[9]);
      s.setF10(f[10]);
      break;
    }
    case 5: b.setWritten(std::get<5>(v).value); break;
    case 6: set_record(b.initResult6(), std::get<6>(v)); break;
    case 7: b.setResult7(std::get<7>(v).value); break;
    case 8: {
      auto s = b.initResult8();
      s.setA(std::get<8>(v).a);
      s.setB(std::get<8>(v).b);
      break;
    }
  }
}

}  // namespace

std::expected<Message, std::string> decode_message(const FramedMessage& message) {
  try {
    std::vector<kj::ArrayPtr<const capnp::word>> segments;
    segments.reserve(message.segment_sizes.size());
    const auto* base = reinterpret_cast<const capnp::word*>(message.words.data());
    std::size_t offset = 0;
    for (auto size : message.segment_sizes) {
      segments.emplace_back(base + offset, size);
      offset += size;
    }
    capnp::ReaderOptions options;
    options.traversalLimitInWords = MAX_MESSAGE_WORDS;
    options.nestingLimit = MAX_NESTING_DEPTH;
    capnp::SegmentArrayMessageReader reader(kj::arrayPtr(segments.data(), segments.size()), options);
    return envelope(reader.getRoot<w::Envelope>(), ElementBudget{offset});
  } catch (const DecodeError& e) {
    return std::unexpected(std::string(e.what()));
  } catch (const kj::Exception& e) {
    return std::unexpected("malformed message: " + std::string(e.getDescription().cStr()));
  } catch (const std::exception& e) {
    return std::unexpected("malformed message: " + std::string(e.what()));
  }
}

Bytes encode_message(const Message& message) {
  capnp::MallocMessageBuilder builder(1024);
  auto env = builder.initRoot<w::Envelope>();
  switch (message.index()) {
    case 0: {
      const auto& h = std::get<Hello>(message);
      auto b = env.initHello();
      b.setProtocolVersion(h.protocol_version);
      b.setPluginId(t(h.plugin_id));
      break;
    }
    case 1: encode_request(env.initRequest(), std::get<Request>(message)); break;
    case 2: encode_response(env.initResponse(), std::get<Response>(message)); break;
    case 3: {
      const auto& e = std::get<Extra>(message);
      auto b = env.initExtra();
      b.setA(e.a);
      b.setB(e.b);
      b.setText(t(e.text));
      break;
    }
  }
  auto flat = capnp::messageToFlatArray(builder);
  auto bytes = flat.asBytes();
  return Bytes(bytes.begin(), bytes.end());
}

Message hello_message(std::string plugin_id) { return Hello{1, std::move(plugin_id)}; }

Message written_response(std::uint64_t request_id, std::uint64_t written) {
  return Response{request_id, ResponseBody(std::in_place_index<RESPONSE_WRITTEN>, U64Member{written})};
}

Message error_response(std::uint64_t request_id, ErrorCode code, std::string message) {
  return Response{request_id, ResponseBody(std::in_place_index<RESPONSE_ERROR>, ErrorReply{code, std::move(message)})};
}

}  // namespace brindle

# Wire schema between the file manager and its plug-ins. The schema is
# shared by every plug-in kind of the host, so it carries many members a
# viewer never serves; ordinals, placements and sizes are binding, names are
# not.
@0xb7c41d6e9a0f3e21;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("brindle::wire");

struct Envelope {
  union {
    hello @0 :Hello;
    request @1 :Request;
    response @2 :Response;
    extra @3 :Extra;
  }
}

struct Hello {
  protocolVersion @0 :UInt32;
  pluginId @1 :Text;
}

struct Extra {
  a @0 :UInt64;
  b @1 :UInt64;
  text @2 :Text;
}

struct Pair {
  first @0 :Text;
  second @1 :Text;
}

struct Record {
  text @0 :Text;
  flag0 @1 :Bool;
  flag1 @2 :Bool;
  hasValue @3 :Bool;
  number @4 :UInt32;
  count @5 :UInt64;
  value @6 :UInt64;
}

struct TwoTexts {
  first @0 :Text;
  second @1 :Text;
}

struct TextBool {
  text @0 :Text;
  flag @1 :Bool;
}

struct TextU64 {
  text @0 :Text;
  value @1 :UInt64;
}

struct TextData {
  text @0 :Text;
  data @1 :Data;
}

struct TextU64U64 {
  text @0 :Text;
  a @1 :UInt64;
  b @2 :UInt64;
}

struct TextU64Data {
  text @0 :Text;
  value @1 :UInt64;
  data @2 :Data;
}

struct Other11 {
  text @0 :Text;
  pairs @1 :List(Pair);
  text2 @2 :Text;
  number @3 :UInt32;
  flag0 @4 :Bool;
  flag1 @5 :Bool;
  value @6 :UInt64;
}

struct TwoTextsTwoU64 {
  first @0 :Text;
  second @1 :Text;
  a @2 :UInt64;
  b @3 :UInt64;
}

struct BoolPairs {
  flag @0 :Bool;
  pairs @1 :List(Pair);
}

struct RenderRequest {
  inputSegment @0 :Text;
  inputSize @1 :UInt64;
  outputSegment @2 :Text;
  outputSize @3 :UInt64;
  path @4 :Text;
}

struct RenderLevelRequest {
  level @0 :UInt32;
  outputSegment @1 :Text;
  outputSize @2 :UInt64;
}

struct RenderRegionRequest {
  level @0 :UInt32;
  x @1 :UInt32;
  y @2 :UInt32;
  width @3 :UInt32;
  height @4 :UInt32;
  outputSegment @5 :Text;
  outputSize @6 :UInt64;
}

struct Request {
  requestId @0 :UInt64;
  union {
    other0 @1 :Text;
    other1 @2 :Text;
    other2 @3 :TwoTexts;
    other3 @4 :TextBool;
    other4 @5 :Text;
    other5 @6 :TextU64;
    other6 @7 :TextData;
    other7 @8 :Void;
    render @9 :RenderRequest;
    other9 @10 :TextU64U64;
    other10 @11 :TextU64Data;
    other11 @12 :Other11;
    other12 @13 :Text;
    other13 @14 :Text;
    other14 @15 :Text;
    other15 @16 :UInt64;
    other16 @17 :UInt64;
    other17 @18 :TwoTextsTwoU64;
    other18 @19 :TwoTextsTwoU64;
    other19 @20 :Text;
    other20 @21 :BoolPairs;
    renderLevel @22 :RenderLevelRequest;
    renderRegion @23 :RenderRegionRequest;
  }
}

enum ErrorCode {
  failed @0;
  notFound @1;
  code2 @2;
  code3 @3;
  code4 @4;
  unsupported @5;
  tooLarge @6;
  code7 @7;
  code8 @8;
  code9 @9;
}

struct ErrorReply {
  code @0 :ErrorCode;
  message @1 :Text;
}

struct Flags11 {
  f0 @0 :Bool;
  f1 @1 :Bool;
  f2 @2 :Bool;
  f3 @3 :Bool;
  f4 @4 :Bool;
  f5 @5 :Bool;
  f6 @6 :Bool;
  f7 @7 :Bool;
  f8 @8 :Bool;
  f9 @9 :Bool;
  f10 @10 :Bool;
}

struct TwoU64 {
  a @0 :UInt64;
  b @1 :UInt64;
}

struct Response {
  requestId @0 :UInt64;
  union {
    result0 @1 :Void;
    error @2 :ErrorReply;
    result2 @3 :List(Record);
    result3 @4 :Data;
    result4 @5 :Flags11;
    written @6 :UInt64;
    result6 @7 :Record;
    result7 @8 :UInt64;
    result8 @9 :TwoU64;
  }
}

// Writes the seed corpora of the fuzz targets into the directory given:
// encoded protocol messages, small TIFF files of the kinds the viewer
// handles (written by libtiff), GDAL metadata texts and symbol names. The
// executable fixtures of the exe-viewer tests seed build_report directly.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plugin_protocol/messages.h"
#include "testing/tiff_writer.h"

namespace fs = std::filesystem;
using namespace brindle;
using brindle::tiff::testing::IfdFixture;
using brindle::tiff::testing::write_tiff;

namespace {

void put(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

void messages(const fs::path& dir) {
  const std::vector<Message> seeds{
      Hello{1, "tiff"},
      Request{1, RequestBody(std::in_place_index<REQUEST_RENDER>, RenderRequest{"/in", 10, "/out", 64, "a.tif"})},
      Request{2, RequestBody(std::in_place_index<REQUEST_RENDER_LEVEL>, RenderLevelRequest{3, 64, "/out"})},
      Request{3, RequestBody(std::in_place_index<REQUEST_RENDER_REGION>, RenderRegionRequest{1, 2, 3, 4, 5, 6, "/o"})},
      Request{4, RequestBody(std::in_place_index<11>, Other11{"t", {{"k", "v"}, {"a", "b"}}, "u", 1, true, false, 2})},
      Request{5, RequestBody(std::in_place_index<20>, BoolPairs{true, {{"x", "y"}}})},
      Request{6, RequestBody(std::in_place_index<10>, TextU64Data{"t", 7, {1, 2, 3}})},
      Response{7, ResponseBody(std::in_place_index<RESPONSE_ERROR>, ErrorReply{ErrorCode::too_large, "big"})},
      Response{8, ResponseBody(std::in_place_index<2>, std::vector<Record>{Record{"r", true, true, true, 1, 2, 3}})},
      Extra{1, 2, "extra"},
  };
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    const Bytes b = encode_message(seeds[i]);
    put(dir, "message-" + std::to_string(i), std::string(b.begin(), b.end()));
  }
}

void tiffs(const fs::path& dir) {
  fs::create_directories(dir);
  const std::string meta =
      "<GDALMetadata><Item name=\"STATISTICS_MINIMUM\" sample=\"0\">10</Item>"
      "<Item name=\"STATISTICS_MAXIMUM\" sample=\"0\">900</Item></GDALMetadata>";
  IfdFixture grey{.width = 300, .height = 200};
  IfdFixture sixteen{.width = 40, .height = 30, .bits = 16, .tile_width = 16, .tile_height = 16};
  sixteen.gdal_nodata = std::string("-9999") + '\0';
  sixteen.gdal_metadata = meta + '\0';
  IfdFixture floats{.width = 20, .height = 10, .bits = 32, .sample_format = 3, .compression = 8, .predictor = 3};
  IfdFixture palette{.width = 16, .height = 16, .bits = 4, .photometric = 3};
  palette.color_map = std::vector<std::uint16_t>(48, 0x8000);
  IfdFixture rgb{.width = 33, .height = 17, .samples_per_pixel = 3, .photometric = 2, .planar = true, .compression = 5};
  IfdFixture rgba{.width = 8, .height = 8, .samples_per_pixel = 4, .photometric = 2, .compression = 32773};
  rgba.extra_samples = {2};
  IfdFixture bilevel{.width = 64, .height = 8, .bits = 1, .photometric = 0, .compression = 4};
  IfdFixture reduced{.width = 150, .height = 100, .subfile_type = 1};
  write_tiff(dir / "grey-with-overview.tif", {grey, reduced});
  write_tiff(dir / "sixteen-tiled-gdal.tif", {sixteen});
  write_tiff(dir / "float-deflate-predictor.tif", {floats}, {.big_tiff = true});
  write_tiff(dir / "palette.tif", {palette}, {.big_endian = true});
  write_tiff(dir / "rgb-planar-lzw.tif", {rgb});
  write_tiff(dir / "rgba-packbits.tif", {rgba});
  write_tiff(dir / "bilevel-g4.tif", {bilevel});
}

void texts(const fs::path& dir) {
  // First byte: the sample count the text is read against.
  put(dir, "nodata", std::string("\x01") + " -9999\0\0");
  put(dir, "stats", "\x03<Item name=\"STATISTICS_MAXIMUM\" sample=\"1\">250</Item>"
                    "<Item role=\"x\" name=\"STATISTICS_MINIMUM\" sample=\"1\"> 1e1 </Item><Item name=\"A\">nan</Item>");
}

void symbols(const fs::path& dir) {
  const char* names[] = {"_ZN3foo3barEv", "_ZN4core3fmt5write17h0123456789abcdefE", "_RNvCs1234_7mycrate3foo",
                         "__ZN3std2io5stdio6_print17h1234567890abcdefE.llvm.123", "_ZNSt6vectorIiSaIiEE9push_backERKi",
                         "ZN8$LT$T$GT$3fooE", "printf"};
  int i = 0;
  for (const char* n : names) put(dir, "symbol-" + std::to_string(i++), n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const fs::path root = argv[1];
  messages(root / "decode_message_fuzz");
  tiffs(root / "tiff_document_fuzz");
  fs::create_directories(root / "palette_scan_fuzz");
  for (const auto& e : fs::directory_iterator(root / "tiff_document_fuzz"))
    fs::copy_file(e.path(), root / "palette_scan_fuzz" / e.path().filename(), fs::copy_options::overwrite_existing);
  texts(root / "raster_meta_fuzz");
  symbols(root / "demangle_fuzz");
  return 0;
}

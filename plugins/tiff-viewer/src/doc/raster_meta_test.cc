#include "doc/raster_meta.h"

#include <gtest/gtest.h>

#include <cmath>

#include "doc/tiff_doc.h"
#include "testing/tiff_writer.h"

namespace brindle::tiff {
namespace {

using namespace std::string_literals;

TEST(NodataTest, TrimsThenDropsTrailingNuls) {
  EXPECT_EQ(parse_nodata("-9999\0"s), -9999.0);
  EXPECT_EQ(parse_nodata("  12.5e2 "), 1250.0);
  EXPECT_TRUE(std::isnan(parse_nodata(" nan ").value()));
  EXPECT_EQ(parse_nodata("-Infinity"), -INFINITY);
  EXPECT_EQ(parse_nodata(".5"), 0.5);
  EXPECT_EQ(parse_nodata("12."), 12.0);
  EXPECT_EQ(parse_nodata("1e400"), INFINITY);
  // The space stays because NULs are removed after the trim.
  EXPECT_FALSE(parse_nodata("-9999 \0"s));
  for (const char* bad : {"none", "", ".", "1e", "1e+", "--1", "0x10", "1,5", "nan(1)", "+"}) {
    EXPECT_FALSE(parse_nodata(bad)) << bad;
  }
  EXPECT_EQ(trim_white_space("\u00a0\t7\u3000"), "7");
}

TEST(XmlAttrTest, FindsDoubleQuotedValues) {
  EXPECT_EQ(xml_attr(R"(<Item role="x" name="A" sample="2")", "name"), "A");
  EXPECT_EQ(xml_attr(R"(<Item name="A")", "sample"), std::nullopt);
  EXPECT_EQ(xml_attr(R"(<Item name='A')", "name"), std::nullopt);
  EXPECT_EQ(xml_attr(R"(<Item name="A)", "name"), std::nullopt);
  EXPECT_EQ(xml_attr(R"(<Item name="&amp;")", "name"), "&amp;");
}

using Stats = std::vector<std::optional<BandStats>>;

TEST(BandStatsTest, GdalMetadataCases) {
  struct Case {
    std::string text;
    Stats expected;
  };
  const std::vector<Case> cases = {
      {R"(<GDALMetadata><Item name="STATISTICS_MAXIMUM" sample="1">250</Item>)"
       R"(<Item name="STATISTICS_MINIMUM" sample="1"> 10 </Item></GDALMetadata>)",
       {std::nullopt, BandStats{10, 250}}},
      // Attributes in any order; role and domain ignored.
      {R"(<Item role="stat" name="STATISTICS_MINIMUM" domain="">1</Item><Item name="STATISTICS_MAXIMUM">2</Item>)",
       {BandStats{1, 2}}},
      // A tab after Item is not an item.
      {"<Item\tname=\"STATISTICS_MINIMUM\">1</Item><Item name=\"STATISTICS_MAXIMUM\">2</Item>", {std::nullopt}},
      // Minimum above maximum.
      {R"(<Item name="STATISTICS_MINIMUM">300</Item><Item name="STATISTICS_MAXIMUM">200</Item>)", {std::nullopt}},
      // A later non-number replaces an earlier number.
      {R"(<Item name="STATISTICS_MINIMUM">1</Item><Item name="STATISTICS_MAXIMUM">9</Item>)"
       R"(<Item name="STATISTICS_MINIMUM">low</Item>)",
       {std::nullopt}},
      // A letter as sample means band 0; "+1" is band 1.
      {R"(<Item name="STATISTICS_MINIMUM" sample="x">1</Item><Item name="STATISTICS_MAXIMUM">5</Item>)"
       R"(<Item name="STATISTICS_MINIMUM" sample="+1">2</Item><Item name="STATISTICS_MAXIMUM" sample="1">3</Item>)",
       {BandStats{1, 5}, BandStats{2, 3}}},
      // Cut before the last </Item>: earlier items stay.
      {R"(<Item name="STATISTICS_MINIMUM">0</Item><Item name="STATISTICS_MAXIMUM">4095</Item>)"
       R"(<Item name="STATISTICS_MINIMUM">7</It)",
       {BandStats{0, 4095}}},
      {R"(<Item name="STATISTICS_MINIMUM">nan</Item><Item name="STATISTICS_MAXIMUM">1</Item>)", {std::nullopt}},
      {R"(<Item name="statistics_minimum">0</Item><Item name="STATISTICS_MAXIMUM">1</Item>)", {std::nullopt}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_band_stats(c.text, 3), c.expected) << c.text;
}

TEST(BandStatsTest, SampleIndexBeyondTheBandsAllocatesNothing) {
  const std::string text =
      R"(<Item name="STATISTICS_MINIMUM" sample="18446744073709551615">1</Item>)"
      R"(<Item name="STATISTICS_MAXIMUM" sample="4000000000">2</Item>)"
      R"(<Item name="STATISTICS_MINIMUM" sample="99999999999999999999999">1</Item>)"
      R"(<Item name="STATISTICS_MINIMUM" sample="1">1</Item><Item name="STATISTICS_MAXIMUM" sample="1">2</Item>)";
  EXPECT_EQ(parse_band_stats(text, 2), (Stats{std::nullopt, BandStats{1, 2}}));
  // The unparsable (overflowing) index counts as band 0.
  EXPECT_EQ(parse_band_stats(text, 1), (Stats{std::nullopt}));
}

// The tags as libtiff writes them: the text as stored, plus the terminator.
TEST(RasterMetaTest, ReadsBothTagsFromIfdZero) {
  testing::TempDir dir;
  testing::IfdFixture ifd;
  ifd.width = ifd.height = 4;
  ifd.bits = 16;
  ifd.gdal_nodata = "-9999\0\0"s;
  ifd.gdal_metadata = R"(<GDALMetadata><Item name="STATISTICS_MINIMUM" sample="0">100</Item>)"
                      R"(<Item name="STATISTICS_MAXIMUM" sample="0">4000</Item></GDALMetadata>)"s + '\0';
  testing::IfdFixture second = ifd;
  second.gdal_nodata = "5"s + '\0';
  testing::write_tiff(dir / "m.tif", {ifd, second});
  auto doc = open_doc(DocSource::file(dir / "m.tif"), std::nullopt);
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_EQ(doc->meta.nodata, -9999.0);
  EXPECT_EQ(doc->meta.band_stats, (Stats{BandStats{100, 4000}}));

  ifd.gdal_nodata = "-9999 \0\0"s;
  ifd.gdal_metadata.reset();
  testing::write_tiff(dir / "n.tif", {ifd});
  doc = open_doc(DocSource::file(dir / "n.tif"), std::nullopt);
  ASSERT_TRUE(doc) << doc.error();
  EXPECT_FALSE(doc->meta.nodata);
  EXPECT_TRUE(doc->meta.band_stats.empty());
}

}  // namespace
}  // namespace brindle::tiff

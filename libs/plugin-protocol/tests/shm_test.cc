#include "plugin_protocol/shm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "host_segment.h"
#include "plugin_protocol/image_payload.h"

namespace brindle {
namespace {

using host::HostSegment;

TEST(SharedMemory, OpenFailures) {
  struct Case {
    std::string name;
    std::string error;
  };
  auto empty = HostSegment::create(0);
  ASSERT_TRUE(empty.has_value());
  const Case cases[] = {
      {std::string(4096, 'a'), "shared memory: MapOpenFailed(36)"},
      {std::string("/a\0b", 4), "shared memory: MapOpenFailed(22)"},
      {"/brindle-no-such-segment", "shared memory: MapOpenFailed(2)"},
      {empty->name(), "shared memory: MapOpenFailed(22)"},
  };
  for (const auto& c : cases) {
    auto seg = open_segment(c.name);
    ASSERT_FALSE(seg.has_value()) << c.error;
    EXPECT_EQ(seg.error(), c.error);
  }
}

TEST(SharedMemory, WriteOutputCutsToTheSegment) {
  const std::vector<std::uint8_t> payload{1, 2, 3, 4, 5, 6, 7, 8};
  for (std::size_t size : {8u, 7u, 16u}) {
    auto seg = HostSegment::create(size);
    ASSERT_TRUE(seg.has_value());
    std::fill(seg->bytes().begin(), seg->bytes().end(), 0xEE);
    auto n = write_output(seg->name(), payload);
    ASSERT_TRUE(n.has_value()) << n.error();
    EXPECT_EQ(*n, std::min<std::size_t>(size, 8));
    for (std::size_t i = 0; i < size; ++i) EXPECT_EQ(seg->bytes()[i], i < 8 ? payload[i] : 0xEE) << size << " " << i;
  }
}

TEST(SharedMemory, ReadInputTakesTheSmallerSize) {
  auto seg = HostSegment::create(5);
  ASSERT_TRUE(seg.has_value());
  std::copy_n("hello", 5, seg->bytes().begin());
  EXPECT_EQ(*read_input(seg->name(), 3), (std::vector<std::uint8_t>{'h', 'e', 'l'}));
  EXPECT_EQ(read_input(seg->name(), 1000)->size(), 5u);
}

TEST(SharedMemory, ASegmentShrunkByTheHostGivesAShortCopy) {
  auto seg = HostSegment::create(1 << 20);
  ASSERT_TRUE(seg.has_value());
  auto opened = open_segment(seg->name());
  ASSERT_TRUE(opened.has_value());
  ASSERT_EQ(::truncate(("/dev/shm" + seg->name()).c_str(), 10), 0);
  std::vector<std::uint8_t> out(1 << 20);
  EXPECT_EQ(opened->read_prefix(out), 10u);
  const std::vector<std::uint8_t> payload(100, 7);
  EXPECT_EQ(opened->write_prefix(payload), 100u);  // a write extends the file, no signal
}

TEST(ImagePayload, Layout) {
  const LevelSize levels[] = {{300, 50}, {100, 400}, {20, 20}};
  const auto table = encode_image(level_table_image(IMAGE_FLAG_TIFF_LEVELS, 1, 16, levels));
  ASSERT_EQ(table.size(), 55u);
  const std::vector<std::uint8_t> header{0xFF, 'I', 'M', 'G', 12, 44, 1, 0, 0, 144, 1, 0, 0, 1, 16, 3, 0, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(table.begin(), table.begin() + 19), header);
  // second frame: tag 0, 100, 400
  const std::vector<std::uint8_t> frame1{0, 0, 0, 0, 100, 0, 0, 0, 144, 1, 0, 0};
  EXPECT_EQ(std::vector<std::uint8_t>(table.begin() + 31, table.begin() + 43), frame1);

  std::vector<std::uint8_t> pixels(24);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i);
  const auto image = encode_image(single_frame_image(3, 8, 2, 3, pixels));
  ASSERT_EQ(image.size(), 55u);
  EXPECT_EQ(image[4], 0);
  EXPECT_EQ(image[15], 1);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 31, image.end()), pixels);
  EXPECT_EQ(encode_single_frame(3, 8, 2, 3, pixels), image);
}

}  // namespace
}  // namespace brindle

// Composing captured outputs into the desktop's picture, on hand-made
// buffers: the transforms a compositor can report, row order, formats,
// placement and density. Also the portal's file URIs.
#include <gtest/gtest.h>
#include <string.h>
#include <wayland-client-protocol.h>

#include <vector>

#include "portal_screenshot.h"
#include "wl_compose.h"

namespace kplat {
namespace wl {
namespace {

// A buffer of 32-bit pixels given row by row.
struct Buffer {
  int32_t width, height;
  std::vector<uint32_t> pixels;

  OutputImage Image(uint32_t format = WL_SHM_FORMAT_XRGB8888,
                    bool yInvert = false) const {
    return OutputImage{reinterpret_cast<const uint8_t *>(pixels.data()),
                       width,
                       height,
                       width * 4,
                       format,
                       yInvert};
  }
};

std::vector<uint32_t> PictureRow(const Picture &picture, int y) {
  std::vector<uint32_t> row(size_t(picture.width));
  memcpy(row.data(), picture.pixels + size_t(y) * picture.stride,
         row.size() * 4);
  return row;
}

std::vector<uint32_t> Pixels(const Picture &picture) {
  std::vector<uint32_t> all;
  for (int y = 0; y < picture.height; ++y) {
    const std::vector<uint32_t> row = PictureRow(picture, y);
    all.insert(all.end(), row.begin(), row.end());
  }
  return all;
}

enum : uint32_t { a = 0xa, b = 0xb, c = 0xc, d = 0xd, e = 0xe, f = 0xf };

// What the user sees on a 3 x 2 output:  a b c
//                                        d e f
const std::vector<uint32_t> kSeen = {a, b, c, d, e, f};

TEST(ComposeTest, EveryTransformIsUndone) {
  // The buffer as the compositor stores it for each wl_output transform:
  // the picture flipped (4-7), then turned a quarter counter-clockwise per
  // step.
  const struct {
    int32_t transform;
    Buffer buffer;
  } cases[] = {
      {WL_OUTPUT_TRANSFORM_NORMAL, {3, 2, {a, b, c, d, e, f}}},
      {WL_OUTPUT_TRANSFORM_90, {2, 3, {c, f, b, e, a, d}}},
      {WL_OUTPUT_TRANSFORM_180, {3, 2, {f, e, d, c, b, a}}},
      {WL_OUTPUT_TRANSFORM_270, {2, 3, {d, a, e, b, f, c}}},
      {WL_OUTPUT_TRANSFORM_FLIPPED, {3, 2, {c, b, a, f, e, d}}},
      {WL_OUTPUT_TRANSFORM_FLIPPED_90, {2, 3, {a, d, b, e, c, f}}},
      {WL_OUTPUT_TRANSFORM_FLIPPED_180, {3, 2, {d, e, f, a, b, c}}},
      {WL_OUTPUT_TRANSFORM_FLIPPED_270, {2, 3, {f, c, e, b, d, a}}},
  };
  for (const auto &test : cases) {
    SCOPED_TRACE(test.transform);
    const Placement placement = {0, 0, 3, 2, test.transform};
    const OutputImage image = test.buffer.Image();
    Picture picture = {};
    ASSERT_TRUE(Compose(&placement, &image, 1, &picture));
    EXPECT_EQ(picture.width, 3);
    EXPECT_EQ(picture.height, 2);
    EXPECT_EQ(Pixels(picture), kSeen);
    FreePicture(&picture);
  }
}

TEST(ComposeTest, BottomUpBufferIsReadBeforeTheTurn) {
  const struct {
    int32_t transform;
    Buffer buffer;
  } cases[] = {
      {WL_OUTPUT_TRANSFORM_NORMAL, {3, 2, {d, e, f, a, b, c}}},
      // Turned 90 degrees, then stored bottom-up.
      {WL_OUTPUT_TRANSFORM_90, {2, 3, {a, d, b, e, c, f}}},
  };
  for (const auto &test : cases) {
    SCOPED_TRACE(test.transform);
    const Placement placement = {0, 0, 3, 2, test.transform};
    const OutputImage image = test.buffer.Image(WL_SHM_FORMAT_XRGB8888, true);
    Picture picture = {};
    ASSERT_TRUE(Compose(&placement, &image, 1, &picture));
    EXPECT_EQ(Pixels(picture), kSeen);
    FreePicture(&picture);
  }
}

TEST(ComposeTest, OutputsArePlacedInTheirBoundingBoxWithBlackGaps) {
  // Logical positions may be negative; the picture starts at the smallest.
  const Buffer left = {2, 2, {1, 2, 3, 4}}, right = {1, 1, {5}};
  const Placement placements[] = {{-2, -1, 2, 2, 0}, {1, 0, 1, 1, 0}};
  const OutputImage images[] = {left.Image(), right.Image()};
  Picture picture = {};
  ASSERT_TRUE(Compose(placements, images, 2, &picture));
  EXPECT_EQ(picture.width, 4);
  EXPECT_EQ(picture.height, 2);
  EXPECT_EQ(Pixels(picture), (std::vector<uint32_t>{1, 2, 0, 0, 3, 4, 0, 5}));
  FreePicture(&picture);
}

// Only upright outputs at the picture's density, in its format, whose
// stride is the picture's get a place for the compositor to write into.
TEST(ComposeTest, OutputsWrittenInPlaceAreThoseThatNeedNoCopy) {
  const Buffer wide = {2, 1, {1, 2}}, narrow = {1, 1, {3}};
  const Buffer sharp = {2, 2, {4, 5, 6, 7}};
  const struct {
    const char *name;
    Placement placements[2];
    OutputImage images[2];
    int64_t offsets[2];
  } cases[] = {
      {"stacked",
       {{0, 0, 2, 1, 0}, {0, 1, 2, 1, 0}},
       {wide.Image(), wide.Image()},
       {0, 8}},
      {"narrower below",
       {{0, 0, 2, 1, 0}, {0, 1, 1, 1, 0}},
       {wide.Image(), narrow.Image()},
       {0, -1}},
      {"turned",
       {{0, 0, 2, 1, 0}, {0, 1, 2, 1, WL_OUTPUT_TRANSFORM_180}},
       {wide.Image(), wide.Image()},
       {0, -1}},
      {"other format",
       {{0, 0, 2, 1, 0}, {0, 1, 2, 1, 0}},
       {wide.Image(), wide.Image(WL_SHM_FORMAT_XBGR8888)},
       {0, -1}},
      {"lower density",
       {{0, 0, 1, 1, 0}, {0, 1, 1, 1, 0}},
       {sharp.Image(), narrow.Image()},
       {0, -1}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture = {};
    ASSERT_TRUE(Compose(c.placements, c.images, 2, &picture));
    int64_t offsets[2];
    PlaceInPicture(c.placements, c.images, 2, picture, offsets);
    EXPECT_EQ(offsets[0], c.offsets[0]);
    EXPECT_EQ(offsets[1], c.offsets[1]);
    FreePicture(&picture);
  }
}

// An output the compositor wrote in place bottom-up is turned upright
// there; the others are drawn as usual.
TEST(ComposeTest, BottomUpOutputWrittenInPlaceIsTurnedUpright) {
  const Buffer top = {2, 2, {1, 2, 3, 4}}, bottom = {2, 1, {5, 6}};
  const Placement placements[] = {{0, 0, 2, 2, 0}, {0, 2, 2, 1, 0}};
  const OutputImage images[] = {top.Image(), bottom.Image()};
  Picture picture = {};
  ASSERT_TRUE(Compose(placements, images, 2, &picture));
  // As the compositor leaves it: the first output's rows reversed.
  memcpy(picture.pixels, top.pixels.data() + 2, 8);
  memcpy(picture.pixels + picture.stride, top.pixels.data(), 8);
  OutputImage written[] = {top.Image(WL_SHM_FORMAT_XRGB8888, true),
                           bottom.Image()};
  const bool inPlace[] = {true, false};
  ASSERT_TRUE(Compose(placements, written, 2, &picture, inPlace));
  EXPECT_EQ(Pixels(picture), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  FreePicture(&picture);
}

TEST(ComposeTest, LowerDensityOutputsAreEnlargedByWholePixels) {
  // A 2x output (4 x 2 pixels for 2 x 1 logical) beside a 1x one.
  const Buffer sharp = {4, 2, {1, 2, 3, 4, 5, 6, 7, 8}},
               plain = {2, 1, {9, 10}};
  const Placement placements[] = {{0, 0, 2, 1, 0}, {2, 0, 2, 1, 0}};
  const OutputImage images[] = {sharp.Image(), plain.Image()};
  Picture picture = {};
  ASSERT_TRUE(Compose(placements, images, 2, &picture));
  EXPECT_EQ(picture.width, 8);
  EXPECT_EQ(picture.height, 2);
  EXPECT_EQ(Pixels(picture), (std::vector<uint32_t>{1, 2, 3, 4, 9, 9, 10, 10, 5,
                                                    6, 7, 8, 9, 9, 10, 10}));
  FreePicture(&picture);
}

TEST(ComposeTest, SharedFormatIsKeptWithItsStride) {
  // RGB565 rows padded to 8 bytes.
  const uint16_t rows[2][4] = {{0xf800, 0x07e0, 0xdead, 0xdead},
                               {0x001f, 0x1234, 0xdead, 0xdead}};
  const OutputImage image = {reinterpret_cast<const uint8_t *>(rows),
                             2,
                             2,
                             8,
                             WL_SHM_FORMAT_RGB565,
                             false};
  const Placement placement = {0, 0, 2, 2, 0};
  Picture picture = {};
  ASSERT_TRUE(Compose(&placement, &image, 1, &picture));
  EXPECT_EQ(picture.format.bitsPerPixel, 16);
  EXPECT_EQ(picture.format.redMask, 0xf800u);
  EXPECT_EQ(picture.format.greenMask, 0x07e0u);
  EXPECT_EQ(picture.format.blueMask, 0x001fu);
  ASSERT_EQ(picture.stride, 4u);
  const uint16_t *out = reinterpret_cast<const uint16_t *>(picture.pixels);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4),
            (std::vector<uint16_t>{0xf800, 0x07e0, 0x001f, 0x1234}));
  FreePicture(&picture);
}

TEST(ComposeTest, DifferingFormatsMeetInTheDeepestXrgb) {
  // An 8-bit XBGR output beside a 10-bit XRGB one: every channel rescaled
  // exactly, alpha dropped.
  const Buffer bgr = {1, 1, {0xff0080ffu}};  // A=ff B=00 G=80 R=ff
  const Buffer deep = {1, 1, {0x3ff00201u}};
  const Placement placements[] = {{0, 0, 1, 1, 0}, {1, 0, 1, 1, 0}};
  const OutputImage images[] = {bgr.Image(WL_SHM_FORMAT_ABGR8888),
                                deep.Image(WL_SHM_FORMAT_XRGB2101010)};
  Picture picture = {};
  ASSERT_TRUE(Compose(placements, images, 2, &picture));
  EXPECT_EQ(picture.format.redMask, 0x3ff00000u);
  EXPECT_EQ(picture.format.blueMask, 0x3ffu);
  // 0xff -> 0x3ff, 0x80 -> (128 * 1023 + 127) / 255 = 514 = 0x202.
  EXPECT_EQ(
      Pixels(picture),
      (std::vector<uint32_t>{(0x3ffu << 20) | (0x202u << 10), 0x3ff00201u}));
  FreePicture(&picture);
}

TEST(ComposeTest, UnknownFormatOrEmptyOutputIsRefused) {
  const Buffer buffer = {1, 1, {0}};
  const Placement placement = {0, 0, 1, 1, 0};
  Picture picture = {};
  const OutputImage yuv = buffer.Image(WL_SHM_FORMAT_YUYV);
  EXPECT_FALSE(Compose(&placement, &yuv, 1, &picture));
  const Placement empty = {0, 0, 0, 1, 0};
  const OutputImage image = buffer.Image();
  EXPECT_FALSE(Compose(&empty, &image, 1, &picture));
  EXPECT_FALSE(Compose(&placement, &image, 0, &picture));
}

TEST(PortalUriTest, LocalFileUrisBecomePaths) {
  char path[64];
  ASSERT_TRUE(portal::UriToPath("file:///tmp/a%20b%25.png", path, sizeof path));
  EXPECT_STREQ(path, "/tmp/a b%.png");
  EXPECT_FALSE(portal::UriToPath("file://host/tmp/x.png", path, sizeof path));
  EXPECT_FALSE(portal::UriToPath("http:///tmp/x.png", path, sizeof path));
  EXPECT_FALSE(portal::UriToPath("file:///tmp/%00x", path, sizeof path));
  EXPECT_FALSE(portal::UriToPath("file:///tmp/%4", path, sizeof path));
  char small[8];
  EXPECT_FALSE(
      portal::UriToPath("file:///tmp/long-name.png", small, sizeof small));
}

}  // namespace
}  // namespace wl
}  // namespace kplat

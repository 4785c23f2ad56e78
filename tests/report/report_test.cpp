#include <gtest/gtest.h>
#include <png.h>

#include <cmath>

#include "report/colormaps.h"
#include "report/pairreport.h"
#include "report/pngencode.h"
#include "report/sliceviews.h"

namespace daxo::report {
namespace {

// Decodes PNG bytes with libpng's simplified reader; an empty picture when
// they are no PNG.
RgbImage decodePng(const std::string& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
  image.format = PNG_FORMAT_RGB;
  RgbImage picture(static_cast<int>(image.width), static_cast<int>(image.height));
  if (!png_image_finish_read(&image, nullptr, const_cast<Rgb*>(picture.data()), 0, nullptr)) return {};
  return picture;
}

std::string decodeBase64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return out;
}

TEST(Png, EncodesPixelsExactlyAndBase64MatchesTheStandardVectors) {
  RgbImage picture(5, 3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 5; ++c) picture.at(c, r) = Rgb{uint8_t(c * 50), uint8_t(r * 100), uint8_t(c + r)};
  }
  const RgbImage back = decodePng(encodePng(picture));
  ASSERT_EQ(back.width(), 5);
  ASSERT_EQ(back.height(), 3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 5; ++c) EXPECT_EQ(back.at(c, r), picture.at(c, r));
  }
  EXPECT_THROW(encodePng(RgbImage()), std::runtime_error);
  const std::pair<const char*, const char*> vectors[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                                                         {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) EXPECT_EQ(base64(plain), encoded);
}

double luminance(const Rgb& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

TEST(ColourMaps, EndsMiddlesAndOrder) {
  EXPECT_NEAR(viridis(0.0).r, 68, 3);
  EXPECT_NEAR(viridis(0.0).b, 84, 3);
  EXPECT_NEAR(viridis(1.0).r, 253, 3);
  EXPECT_NEAR(viridis(1.0).g, 231, 3);
  for (int k = 1; k <= 32; ++k) EXPECT_GT(luminance(viridis(k / 32.0)), luminance(viridis((k - 1) / 32.0)));
  EXPECT_EQ(diverging(0.5), (Rgb{221, 221, 221}));
  EXPECT_GT(diverging(0.0).b, diverging(0.0).r);
  EXPECT_GT(diverging(1.0).r, diverging(1.0).b);
  EXPECT_EQ(viridis(NAN), viridis(0.0));
  EXPECT_EQ(grey(2.0), (Rgb{255, 255, 255}));
}

TEST(SliceViews, OrientationsPutTheVoxelWhereTheViewerExpectsIt) {
  Volume v(4, 5, 6, 0.0f);
  v(1, 0, 2) = 1.0f;  // low y, low-ish z
  const Window w{0.0, 1.0};
  const PixelScale one{1, 1, 1};
  const RgbImage axial = greySlice(v, Orientation::Axial, 2, w, one);
  ASSERT_EQ(axial.width(), 4);
  ASSERT_EQ(axial.height(), 5);
  EXPECT_EQ(axial.at(1, 4).r, 255);  // y = 0 is the bottom row
  const RgbImage coronal = greySlice(v, Orientation::Coronal, 0, w, one);
  EXPECT_EQ(coronal.height(), 6);
  EXPECT_EQ(coronal.at(1, 6 - 1 - 2).r, 255);
  const RgbImage sagittal = greySlice(v, Orientation::Sagittal, 1, w, one);
  EXPECT_EQ(sagittal.width(), 5);
  EXPECT_EQ(sagittal.at(0, 3).r, 255);
  // Anisotropic voxels keep their aspect: 2 mm slices are twice as high.
  const PixelScale scale = pixelScaleFor({4, 5, 6}, {1.0, 1.0, 2.0}, 48);
  EXPECT_EQ(scale.z, 2 * scale.x);
  EXPECT_EQ(greySlice(v, Orientation::Coronal, 0, w, scale).height(), 6 * scale.z);
  EXPECT_THROW(greySlice(v, Orientation::Axial, 6, w, one), std::out_of_range);
}

// A blob pair with a small shift, its "correction" and a map.
PairReportInputs samplePair() {
  PairReportInputs in;
  in.title = "sub-01 <AP> & PA";
  const Dimensions d{20, 24, 10};
  in.scan0 = Volume(d, 0.0f);
  in.scan1 = Volume(d, 0.0f);
  in.map = Volume(d, 0.0f);
  in.headMask = Volume(d, 0.0f);
  for (int z = 0; z < d.z; ++z) {
    for (int y = 0; y < d.y; ++y) {
      for (int x = 0; x < d.x; ++x) {
        const double r0 = std::hypot(x - 10.0, y - 12.5, (z - 5.0) * 2.0);
        const double r1 = std::hypot(x - 10.0, y - 11.5, (z - 5.0) * 2.0);
        in.scan0(x, y, z) = r0 < 8 ? float(100 + 5 * x) : 0.0f;
        in.scan1(x, y, z) = r1 < 8 ? float(100 + 5 * x) : 0.0f;
        in.headMask(x, y, z) = r0 < 8 ? 1.0f : 0.0f;
        in.map(x, y, z) = float(0.5 - y / 24.0);
      }
    }
  }
  in.corrected0 = in.scan0;
  in.corrected1 = in.scan0;
  in.voxelSizeMm = {2.0, 2.0, 4.0};
  in.hzPerVoxel = -21.0;
  in.numbers = {{"Correlation inside the head", "0.912 before, 0.995 after"}};
  in.settings = {{"Method", "variational"}};
  in.verdict = "Self-check: passed";
  return in;
}

struct EmbeddedPicture {
  int width, height;
  RgbImage picture;
};

// The text between `open` and the next `close` after `from`; "" when absent.
std::string between(const std::string& text, const std::string& open, const std::string& close, size_t from) {
  const size_t start = text.find(open, from);
  if (start == std::string::npos || start >= text.find('>', from)) return "";
  const size_t end = text.find(close, start + open.size());
  return end == std::string::npos ? "" : text.substr(start + open.size(), end - start - open.size());
}

// Every <img> with its stated size and its decoded PNG.
std::vector<EmbeddedPicture> picturesIn(const std::string& html) {
  std::vector<EmbeddedPicture> found;
  for (size_t at = html.find("<img"); at != std::string::npos; at = html.find("<img", at + 1)) {
    const std::string width = between(html, "width=\"", "\"", at);
    const std::string height = between(html, "height=\"", "\"", at);
    const std::string data = between(html, "src=\"data:image/png;base64,", "\"", at);
    found.push_back({width.empty() ? -1 : std::stoi(width), height.empty() ? -1 : std::stoi(height),
                     decodePng(decodeBase64(data))});
  }
  return found;
}

bool isBlank(const RgbImage& p) {
  for (int r = 0; r < p.height(); ++r) {
    for (int c = 0; c < p.width(); ++c) {
      if (!(p.at(c, r) == p.at(0, 0))) return false;
    }
  }
  return true;
}

TEST(PairReport, EveryPictureIsAValidPngOfItsStatedSizeNotBlankAndWindowedAlike) {
  const PairReportInputs in = samplePair();
  const std::string html = pairReportHtml(in);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);
  EXPECT_NE(html.find("sub-01 &lt;AP&gt; &amp; PA"), std::string::npos);
  EXPECT_NE(html.find("0.912 before, 0.995 after"), std::string::npos);
  EXPECT_NE(html.find("Self-check: passed"), std::string::npos);
  EXPECT_NE(html.find("+0.5 voxels (-10.5 Hz)"), std::string::npos);
  const std::vector<EmbeddedPicture> pictures = picturesIn(html);
  // The summary's slice; three views: two pairs in turn, one difference, one
  // map; and two colour bars (difference and map).
  ASSERT_EQ(pictures.size(), 1 + 3u * (4 + 1 + 1) + 2);
  for (const EmbeddedPicture& p : pictures) {
    ASSERT_EQ(p.picture.width(), p.width);
    ASSERT_EQ(p.picture.height(), p.height);
    EXPECT_FALSE(isBlank(p.picture));
  }
  // The first scan is unchanged by this "correction": before and after it
  // must look the same, pixel for pixel, which only one shared window gives.
  for (size_t view = 0; view < 3; ++view) {
    const RgbImage& before = pictures[1 + 4 * view].picture;
    const RgbImage& after = pictures[1 + 4 * view + 2].picture;
    for (int r = 0; r < before.height(); ++r) {
      for (int c = 0; c < before.width(); ++c) ASSERT_EQ(before.at(c, r), after.at(c, r));
    }
  }
}

// The pixels of columns [left, right) and rows [top, bottom) that are
// neither the black ground between slices nor `colour`.
int pixelsOtherThan(const RgbImage& p, Rgb colour, int left, int right, int top, int bottom) {
  int count = 0;
  for (int r = top; r < bottom; ++r) {
    for (int c = left; c < right; ++c) {
      if (!(p.at(c, r) == colour) && !(p.at(c, r) == Rgb{0, 0, 0})) ++count;
    }
  }
  return count;
}

// A pair that differs after correction only by the brightness the stretch
// gives it: the differences after correction are of the rescaled pair, so
// they are zero (the colour map's low end) on the page and in its summary,
// while the plain corrected pair's would not be.
TEST(PairReport, DifferencesAfterCorrectionAreThoseOfThePairRescaledByTheStretch) {
  PairReportInputs in = samplePair();
  in.corrected1 = in.scan0 * 0.7f;
  in.rescaled0 = in.scan0;
  in.rescaled1 = in.scan0;
  const Rgb zero = viridis(0.0);
  for (const bool rescaled : {true, false}) {
    if (!rescaled) in.rescaled0 = in.rescaled1 = Volume();
    const std::string html = pairReportHtml(in);
    const std::vector<EmbeddedPicture> pictures = picturesIn(html);
    ASSERT_EQ(pictures.size(), 1 + 3u * (4 + 1 + 1) + 2);
    // The differences: upper row before, lower row after.
    for (size_t view = 0; view < 3; ++view) {
      const RgbImage& p = pictures[1 + 12 + 1 + view].picture;
      const int rowHeight = (p.height() - 4) / 2;
      EXPECT_GT(pixelsOtherThan(p, zero, 0, p.width(), 0, rowHeight), 0) << view;
      const int after = pixelsOtherThan(p, zero, 0, p.width(), rowHeight + 4, p.height());
      EXPECT_EQ(after == 0, rescaled) << view << " " << after;
    }
    // The summary: before, after and the map side by side.
    const RgbImage& summary = pictures[0].picture;
    const int panel = (summary.width() - 2 * 4) / 3;
    EXPECT_GT(pixelsOtherThan(summary, zero, 0, panel, 0, summary.height()), 0);
    EXPECT_EQ(pixelsOtherThan(summary, zero, panel + 4, 2 * panel + 4, 0, summary.height()) == 0, rescaled);
    EXPECT_EQ(html.find("after correction, rescaled by the local stretch") != std::string::npos, rescaled);
    // The summary, which the subject's page copies, holds the figures and
    // the first picture; the page says why the two correlations differ.
    const std::vector<std::string> summaries = summariesIn(html);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_NE(summaries[0].find("0.912 before, 0.995 after"), std::string::npos);
    EXPECT_EQ(picturesIn(summaries[0]).size(), 1u);
    EXPECT_EQ(html.find(escapeHtml(agreementNote())) != std::string::npos, rescaled);
  }
}

// The phase-encoding axis as BIDS names it, beside the anatomical
// direction when the orientation is known.
TEST(PairReport, AxesAreNamedAsBidsDoesBesideTheirAnatomicalDirections) {
  EXPECT_EQ(axisName(1, "LAS"), "j (y, posterior to anterior)");
  EXPECT_EQ(axisName(0, "LAS"), "i (x, right to left)");
  EXPECT_EQ(axisName(2, "RPI"), "k (z, superior to inferior)");
  EXPECT_EQ(axisName(1, ""), "j (y)");
  PairReportInputs in = samplePair();
  in.orientation = "RAS";
  EXPECT_NE(pairReportHtml(in).find("Phase-encoding axis: j (y, posterior to anterior), up in axial views"),
            std::string::npos);
}

TEST(PairReport, VolumesOfOtherExtentsAreRefused) {
  PairReportInputs in = samplePair();
  in.map = Volume(20, 24, 9, 0.0f);
  EXPECT_THROW(pairReportHtml(in), std::invalid_argument);
}

TEST(SeriesReport, FirstVolumesBeforeAndAfterAndTheMap) {
  const PairReportInputs pair = samplePair();
  SeriesReportInputs in;
  in.title = "Corrected series";
  in.series = {{"run-1", pair.scan0, pair.scan1, pair.map}, {"run-2", pair.scan1, pair.scan0, pair.map}};
  in.voxelSizeMm = pair.voxelSizeMm;
  const std::vector<EmbeddedPicture> pictures = picturesIn(seriesReportHtml(in));
  EXPECT_EQ(pictures.size(), 2u * 3 * 2 + 3 + 1);
  for (const EmbeddedPicture& p : pictures) EXPECT_FALSE(isBlank(p.picture));
}

}  // namespace
}  // namespace daxo::report

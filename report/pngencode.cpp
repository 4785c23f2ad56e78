#include "report/pngencode.h"

#include <png.h>

#include <stdexcept>
#include <vector>

namespace daxo::report {

namespace {

void appendToString(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}

void flushNothing(png_structp) {}

// libpng's write state, released however encodePng ends. libpng reports
// errors by a long jump back to encodePng's frame, which then throws; no
// frame with destructors lies between.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

}  // namespace

std::string encodePng(const RgbImage& image) {
  if (image.width() == 0 || image.height() == 0) throw std::runtime_error("an empty picture cannot be a PNG");
  std::string out;
  PngWriter w;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (w.png == nullptr) throw std::runtime_error("libpng could not start");
  w.info = png_create_info_struct(w.png);
  if (w.info == nullptr) throw std::runtime_error("libpng could not start");
  std::vector<png_bytep> rows(static_cast<size_t>(image.height()));
  for (int r = 0; r < image.height(); ++r) {
    rows[static_cast<size_t>(r)] = const_cast<png_bytep>(reinterpret_cast<const png_byte*>(&image.at(0, r)));
  }
  if (setjmp(png_jmpbuf(w.png))) throw std::runtime_error("libpng failed to encode a picture");
  png_set_write_fn(w.png, &out, appendToString, flushNothing);
  png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(w.png, w.info, rows.data());
  png_write_png(w.png, w.info, PNG_TRANSFORM_IDENTITY, nullptr);
  return out;
}

std::string base64(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t n = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string pngDataUri(const RgbImage& image) { return "data:image/png;base64," + base64(encodePng(image)); }

}  // namespace daxo::report

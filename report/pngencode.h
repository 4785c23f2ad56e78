#pragma once

#include <string>

#include "report/rgbimage.h"

namespace daxo::report {

// The picture as the bytes of a PNG file (8-bit RGB, no interlacing), made
// with libpng. Throws std::runtime_error when libpng fails or the picture is
// empty.
std::string encodePng(const RgbImage& image);

// "data:image/png;base64,..." for embedding the picture in a page.
std::string pngDataUri(const RgbImage& image);

// Standard base64 (RFC 4648) with padding.
std::string base64(const std::string& bytes);

}  // namespace daxo::report

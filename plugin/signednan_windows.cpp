#include <cmath>
#include <ios>
#include <string>

#include "plugin/signednan.h"

namespace daxo {

namespace {

class SignedNanPut : public std::num_put<char> {
 protected:
  iter_type do_put(iter_type out, std::ios_base& stream, char fill, double value) const override {
    if (!std::isnan(value)) return std::num_put<char>::do_put(out, stream, fill, value);
    return putNan(out, stream, fill, std::signbit(value));
  }
  iter_type do_put(iter_type out, std::ios_base& stream, char fill, long double value) const override {
    if (!std::isnan(value)) return std::num_put<char>::do_put(out, stream, fill, value);
    return putNan(out, stream, fill, std::signbit(value));
  }

 private:
  // As printf's %g writes a NaN: sign ("+" only with showpos), "nan", padded
  // to the field width (fill after the sign when adjusted internally).
  static iter_type putNan(iter_type out, std::ios_base& stream, char fill, bool negative) {
    const std::ios_base::fmtflags flags = stream.flags();
    const std::string sign = negative ? "-" : ((flags & std::ios_base::showpos) ? "+" : "");
    const std::string body = (flags & std::ios_base::uppercase) ? "NAN" : "nan";
    const std::streamsize width = stream.width(0);
    const size_t length = sign.size() + body.size();
    const std::string padding(width > 0 && static_cast<size_t>(width) > length ? width - length : 0, fill);
    const std::ios_base::fmtflags adjust = flags & std::ios_base::adjustfield;
    std::string text;
    if (adjust == std::ios_base::left) {
      text = sign + body + padding;
    } else if (adjust == std::ios_base::internal) {
      text = sign + padding + body;
    } else {
      text = padding + sign + body;
    }
    for (char c : text) *out++ = c;
    return out;
  }
};

}  // namespace

std::locale withSignedNan(const std::locale& base) { return std::locale(base, new SignedNanPut); }

}  // namespace daxo

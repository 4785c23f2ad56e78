#include "host/mapfileformat.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "fileio/stagedoutputfile.h"

namespace daxo::host {

namespace {

constexpr int32_t kMaxExtent = 65535;

class ByteWriter {
 public:
  void u16(unsigned value) {
    bytes_.push_back(static_cast<unsigned char>(value & 0xFFu));
    bytes_.push_back(static_cast<unsigned char>((value >> 8) & 0xFFu));
  }
  void u32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<unsigned char>((value >> shift) & 0xFFu));
  }
  void f32(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    u32(bits);
  }
  void text(const std::string& value) {
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    bytes_.push_back(0);
  }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// Reads little-endian values from a file image; running past the end throws.
class ByteReader {
 public:
  ByteReader(const std::vector<unsigned char>& bytes, const std::string& path) : bytes_(bytes), path_(path) {}
  unsigned u16() {
    need(2);
    const unsigned value = bytes_[pos_] | (static_cast<unsigned>(bytes_[pos_ + 1]) << 8);
    pos_ += 2;
    return value;
  }
  uint32_t u32() {
    need(4);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += 4;
    return value;
  }
  float f32() {
    const uint32_t bits = u32();
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  std::string text() {
    const size_t start = pos_;
    while (pos_ < bytes_.size() && bytes_[pos_] != 0) ++pos_;
    if (pos_ == bytes_.size()) fail("the file ends inside the reference name");
    if (pos_ == start) fail("the reference name is empty");
    std::string value(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                      bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
    ++pos_;
    return value;
  }
  size_t remaining() const { return bytes_.size() - pos_; }
  [[noreturn]] void fail(const std::string& problem) const {
    throw std::runtime_error("cannot read map file " + path_ + ": " + problem);
  }

 private:
  void need(size_t count) const {
    if (remaining() < count) fail("the file is truncated");
  }
  const std::vector<unsigned char>& bytes_;
  const std::string& path_;
  size_t pos_ = 0;
};

std::vector<unsigned char> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read map file " + path + ": " + std::strerror(errno));
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read map file " + path + ": read error");
  return bytes;
}

[[noreturn]] void failSave(const std::string& path, const std::string& reason) {
  throw std::runtime_error("could not save map file " + path + ": " + reason);
}

}  // namespace

std::vector<unsigned char> encodeMapFile(const HostMap& map, const std::string& referenceName) {
  const Dimensions& d = map.extents();
  if (d.x > kMaxExtent || d.y > kMaxExtent || d.z > kMaxExtent) {
    throw std::invalid_argument("map extents " + std::to_string(d.x) + " x " + std::to_string(d.y) + " x " +
                                std::to_string(d.z) + " do not fit a map file (at most 65535 each)");
  }
  if (referenceName.empty()) throw std::invalid_argument("a map file needs a non-empty reference name");

  ByteWriter out;
  out.u16(kMapTypeCode);
  out.u16(static_cast<unsigned>(d.z));
  out.u16(static_cast<unsigned>(d.y));
  out.u16(static_cast<unsigned>(d.x));
  out.u16(1);
  out.f32(map.firstValue);
  out.f32(map.secondValue);
  out.u16(0);
  out.u16(kMapFormatLevel);
  out.u32(0);
  out.u32(0);
  out.text(referenceName);
  const size_t sliceSize = static_cast<size_t>(d.x) * static_cast<size_t>(d.y);
  for (int32_t z = 0; z < d.z; ++z) {
    out.u16(static_cast<unsigned>(z));
    const float* slice = map.values().data() + static_cast<size_t>(z) * sliceSize;
    for (size_t i = 0; i < sliceSize; ++i) out.f32(slice[i]);
  }
  return std::move(out.bytes());
}

void saveMapFile(const std::string& path, const HostMap& map, const std::string& referenceName) {
  std::vector<unsigned char> bytes;
  try {
    bytes = encodeMapFile(map, referenceName);
  } catch (const std::invalid_argument& e) {
    failSave(path, e.what());
  }
  StagedOutputFile file(path);
  if (!file.isOpen()) failSave(path, file.problem());
  file.stream().write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  try {
    file.commit();
  } catch (const std::exception&) {
    failSave(path, file.problem());
  }
}

HostMap loadMapFile(const std::string& path) {
  const std::vector<unsigned char> bytes = readWholeFile(path);
  ByteReader in(bytes, path);
  const unsigned typeCode = in.u16();
  const unsigned word2 = in.u16();
  const unsigned ny = in.u16();
  const unsigned nx = in.u16();
  in.u16();  // word 5
  const float firstValue = in.f32();
  const float secondValue = in.f32();
  if (typeCode / 10000 == 2) in.u16();  // type-2 word
  in.u16();                             // word 6
  const unsigned formatLevel = in.u16();
  if (formatLevel > 2) {
    in.u32();
    in.u32();
  }
  in.text();  // reference name
  const unsigned nz = word2 != 0 ? word2 : typeCode % 10000;
  if (nx == 0 || ny == 0 || nz == 0) in.fail("the map is empty");

  // Checked before allocating, so a corrupt header cannot ask for gigabytes.
  const size_t sliceSize = static_cast<size_t>(nx) * ny;
  if (in.remaining() / nz < 2 + 4 * sliceSize) in.fail("the file is truncated");

  HostMap map(Dimensions{static_cast<int32_t>(nx), static_cast<int32_t>(ny), static_cast<int32_t>(nz)});
  map.kind = static_cast<int32_t>(typeCode / 10000);
  map.firstValue = firstValue;
  map.secondValue = secondValue;
  for (unsigned z = 0; z < nz; ++z) {
    in.u16();  // slice number
    float* slice = map.slices()[z];
    for (size_t i = 0; i < sliceSize; ++i) slice[i] = in.f32();
  }
  return map;
}

}  // namespace daxo::host

#include "fileio/nifti/niftiimage.h"

#include <nifti/nifti2_io.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "fileio/fileerrors.h"
#include "fileio/platformfile.h"

namespace daxo {

struct NiftiImage::Header {
  nifti_image* nim = nullptr;
  int version = 1;  // NIfTI-1 or NIfTI-2, as the file's header says
  ~Header() {
    if (nim != nullptr) nifti_image_free(nim);
  }
};

namespace {

namespace fs = std::filesystem;

// nifti_clib prints its own complaints on stderr; every failure is reported
// here instead, naming the file.
void silenceLibrary() { nifti_set_debug_level(0); }

std::string lowerCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// "INT16" for NIFTI_TYPE_INT16, and so on.
std::string typeName(int datatype) {
  const std::string name = nifti_datatype_to_string(datatype);
  const std::string prefix = "NIFTI_TYPE_";
  if (name.rfind(prefix, 0) != 0) return std::to_string(datatype) + " (unknown)";
  return name.substr(prefix.size());
}

bool isSupportedType(int datatype) {
  switch (datatype) {
    case DT_UINT8:
    case DT_INT8:
    case DT_INT16:
    case DT_UINT16:
    case DT_INT32:
    case DT_UINT32:
    case DT_INT64:
    case DT_UINT64:
    case DT_FLOAT32:
    case DT_FLOAT64:
      return true;
    default:
      return false;
  }
}

// A slope of 0 (or one that is not finite) means the stored values are the
// values.
bool isScaled(double slope, double inter) { return std::isfinite(slope) && slope != 0.0 && std::isfinite(inter); }

int64_t voxelsPerVolume(const nifti_image& nim) { return nim.nx * nim.ny * nim.nz; }

// What nifti_clib's image record does not tell faithfully, read from the
// header as stored: the version (the record reports NIfTI-2 files as
// NIfTI-1), the voxel sizes (the record replaces a size of 0 by 1 mm, which
// would hide a broken header) and the dimension count, checked before the
// library builds its record: a NIfTI-2 count far outside 1 to 7 overflows
// the library's stack (found by fuzzing).
struct StoredFacts {
  int version = 1;
  int64_t dimensions = 0;
  std::array<int64_t, 8> dim{};  // as stored: dim[0] is the count
  std::array<double, 3> sizes{};
  // As stored; the library's record moves a vox_offset below the header's
  // end and replaces a non-finite slope, which would hide a broken header.
  double voxOffset = 0.0;
  int datatype = 0;
  int bitpix = 0;
  double slope = 0.0;
  double inter = 0.0;
  bool singleFile = true;  // "n+1"/"n+2": header and voxels in one file
};

StoredFacts storedFacts(const std::string& path) {
  StoredFacts facts;
  void* raw = nifti_read_header(path.c_str(), &facts.version, 0);
  if (raw == nullptr) throw ReadFileError(path + ": not a NIfTI-1 or NIfTI-2 image, or its header is damaged");
  // The magic string, "n+1" or "ni1" (and "n+2", "ni2"), tells NIfTI from
  // anything else, ANALYZE 7.5 headers included.
  const char* magic = facts.version == 2 ? static_cast<const nifti_2_header*>(raw)->magic
                                         : static_cast<const nifti_1_header*>(raw)->magic;
  const char digit = facts.version == 2 ? '2' : '1';
  // nifti_read_header returns the header as stored. A header written on a
  // machine of the other byte order has its size field swapped: swap it all
  // before believing any field. (The library's own reader tells the order
  // from the dimension count instead; a header whose size field and count
  // disagree is refused below by the count check, where the library's
  // conversion would recurse without end.)
  const int expectedSize = facts.version == 2 ? 540 : 348;
  int32_t size = facts.version == 2 ? static_cast<const nifti_2_header*>(raw)->sizeof_hdr
                                    : static_cast<const nifti_1_header*>(raw)->sizeof_hdr;
  if (size != expectedSize) {
    nifti_swap_4bytes(1, &size);
    if (size != expectedSize) {
      std::free(raw);
      throw ReadFileError(path + ": not a NIfTI-1 or NIfTI-2 image, or its header is damaged");
    }
    swap_nifti_header(raw, facts.version);
  }
  if (magic[0] != 'n' || (magic[1] != '+' && magic[1] != 'i') || magic[2] != digit || magic[3] != '\0') {
    std::free(raw);
    throw ReadFileError(path + ": not a NIfTI-1 or NIfTI-2 image, or its header is damaged");
  }
  facts.singleFile = magic[1] == '+';
  const auto copyFacts = [&facts](const auto* h) {
    facts.dimensions = h->dim[0];
    for (int a = 0; a < 8; ++a) facts.dim[a] = h->dim[a];
    for (int a = 0; a < 3; ++a) facts.sizes[a] = h->pixdim[a + 1];
    facts.voxOffset = static_cast<double>(h->vox_offset);
    facts.datatype = h->datatype;
    facts.bitpix = h->bitpix;
    facts.slope = static_cast<double>(h->scl_slope);
    facts.inter = static_cast<double>(h->scl_inter);
  };
  if (facts.version == 2) {
    copyFacts(static_cast<const nifti_2_header*>(raw));
  } else {
    copyFacts(static_cast<const nifti_1_header*>(raw));
  }
  std::free(raw);
  if (facts.dimensions < 1 || facts.dimensions > 7) {
    throw ReadFileError(path + ": the header's dimension count " + std::to_string(facts.dimensions) +
                        " is not 1 to 7; the header is damaged");
  }
  // Checked before the library reads the header into an image: with extents
  // near the int64 range its conversion overflows the stack.
  for (int64_t a = 1; a <= facts.dimensions; ++a) {
    if (facts.dim[a] < 1 || facts.dim[a] > std::numeric_limits<int32_t>::max()) {
      throw ReadFileError(path + ": the header's extent " + std::to_string(facts.dim[a]) + " along dimension " +
                          std::to_string(a) + " is not 1 to 2147483647; the header is damaged");
    }
  }
  return facts;
}

// Decompresses a gzip file to its end and returns the length of its data,
// each member's CRC-32 and length checked against its trailer (zlib does
// that for gzip streams). A file that does not start with the gzip magic is
// read as it is, as nifti_clib reads it: its length is returned. Throws
// ReadFileError naming the file for a damaged or truncated stream.
uint64_t verifiedGzipLength(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw OpenFileError("Cannot open " + path + ": " + std::strerror(errno));
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{file};
  std::vector<unsigned char> in(1 << 16), out(1 << 18);
  size_t have = std::fread(in.data(), 1, in.size(), file);
  if (have < 2 || in[0] != 0x1f || in[1] != 0x8b) {
    uint64_t length = have;
    while ((have = std::fread(in.data(), 1, in.size(), file)) > 0) length += have;
    return length;
  }
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) throw std::bad_alloc();
  struct Ender {
    z_stream* z;
    ~Ender() { inflateEnd(z); }
  } ender{&z};
  uint64_t length = 0;
  bool ended = false;  // the last member read ended with its trailer
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(have);
  while (true) {
    if (z.avail_in == 0) {
      have = std::fread(in.data(), 1, in.size(), file);
      if (have == 0) break;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(have);
    }
    if (ended) {
      // Another member follows; zeros after the last one are padding.
      bool padding = true;
      for (uInt k = 0; k < z.avail_in && padding; ++k) padding = z.next_in[k] == 0;
      if (padding) {
        z.avail_in = 0;
        continue;
      }
      inflateReset(&z);
      ended = false;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    length += out.size() - z.avail_out;
    if (status == Z_STREAM_END) {
      ended = true;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      const std::string reason = z.msg != nullptr ? z.msg : "damaged data";
      throw ReadFileError(path + ": the compressed data are damaged (" + reason + "; the gzip stream fails its check)");
    }
  }
  if (std::ferror(file)) throw ReadFileError(path + ": the file cannot be read: " + std::strerror(errno));
  if (!ended) {
    throw ReadFileError(path + ": the compressed data are truncated (the gzip stream ends before its trailer)");
  }
  return length;
}

// The header's fields that the library's record would hide or mend, checked
// as stored, before the library reads the header into an image.
void checkStoredFacts(const StoredFacts& facts, const std::string& path) {
  // The library prints its own complaint about a type it does not know.
  if (!isSupportedType(facts.datatype)) {
    throw ReadFileError(path + ": data type " + typeName(facts.datatype) +
                        " is not supported; voxels must be real numbers");
  }
  int bytesPerVoxel = 0, swapSize = 0;
  nifti_datatype_sizes(facts.datatype, &bytesPerVoxel, &swapSize);
  if (facts.bitpix != 8 * bytesPerVoxel) {
    throw ReadFileError(path + ": the header's bitpix " + std::to_string(facts.bitpix) +
                        " disagrees with its data type " + typeName(facts.datatype) + " (" +
                        std::to_string(8 * bytesPerVoxel) + " bits); the header is damaged");
  }
  // The voxels of a single-file image follow its header (and extensions).
  const double headerBytes = facts.version == 2 ? 540.0 : 348.0;
  if (facts.singleFile && !(facts.voxOffset >= headerBytes)) {
    throw ReadFileError(path + ": the header's vox_offset " + std::to_string(facts.voxOffset) +
                        " lies inside the header (" + std::to_string(static_cast<int>(headerBytes)) +
                        " bytes); the header is damaged");
  }
  // A slope of 0 means unscaled, as the format says; one that is not a
  // number or infinite would turn every voxel into one.
  if (!std::isfinite(facts.slope) || (facts.slope != 0.0 && !std::isfinite(facts.inter))) {
    throw ReadFileError(path + ": the header's scaling (scl_slope " + std::to_string(facts.slope) + ", scl_inter " +
                        std::to_string(facts.inter) + ") is not finite; the header is damaged");
  }
}

// `verifiedLength`: what verifiedGzipLength gave for a compressed `path`.
void checkHeader(const nifti_image& nim, const StoredFacts& facts, const std::string& path, uint64_t verifiedLength) {
  if (nim.nifti_type == NIFTI_FTYPE_ANALYZE) {
    throw ReadFileError(path + ": an ANALYZE 7.5 header, not NIfTI; its orientation is unknown");
  }
  if (nim.nifti_type == NIFTI_FTYPE_ASCII) throw ReadFileError(path + ": an ASCII NIfTI header is not supported");
  if (nim.nu > 1 || nim.nv > 1 || nim.nw > 1) {
    throw ReadFileError(path + ": the image has " + std::to_string(nim.ndim) +
                        " dimensions; 3-D and 4-D images are supported");
  }
  const int64_t extents[4] = {nim.nx, nim.ny, nim.nz, nim.nt};
  for (int64_t e : extents) {
    if (e < 1 || e > std::numeric_limits<int32_t>::max()) {
      throw ReadFileError(path + ": nonsense extents " + std::to_string(nim.nx) + " x " + std::to_string(nim.ny) +
                          " x " + std::to_string(nim.nz) + " x " + std::to_string(nim.nt));
    }
  }
  // Extents of up to 2^31 each: their products fit 128 bits, not 64.
  using Wide = unsigned __int128;
  const Wide volumeVoxels = Wide(nim.nx) * Wide(nim.ny) * Wide(nim.nz);
  if (volumeVoxels > Wide(std::numeric_limits<int32_t>::max())) {
    throw ReadFileError(path + ": a volume of " + std::to_string(nim.nx) + " x " + std::to_string(nim.ny) + " x " +
                        std::to_string(nim.nz) + " voxels is too large");
  }
  if (!isSupportedType(nim.datatype)) {
    throw ReadFileError(path + ": data type " + typeName(nim.datatype) +
                        " is not supported; voxels must be real numbers");
  }
  const std::array<double, 3>& sizes = facts.sizes;
  const char* axes = "ijk";
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(sizes[a]) || sizes[a] <= 0.0) {
      throw ReadFileError(path + ": the voxel size along " + axes[a] + " is " + std::to_string(sizes[a]) +
                          " mm; it must be positive");
    }
  }
  // The transform the image is placed by (the sform before the qform, as
  // affine() takes it): a coefficient that is not a number, or axes that
  // span no volume, would be copied into every output and pass the pair's
  // grid check.
  const bool sform = nim.sform_code > 0;
  if (sform || nim.qform_code > 0) {
    const nifti_dmat44& m = sform ? nim.sto_xyz : nim.qto_xyz;
    bool finite = true;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) finite = finite && std::isfinite(m.m[r][c]);
    }
    const double det = m.m[0][0] * (m.m[1][1] * m.m[2][2] - m.m[1][2] * m.m[2][1]) -
                       m.m[0][1] * (m.m[1][0] * m.m[2][2] - m.m[1][2] * m.m[2][0]) +
                       m.m[0][2] * (m.m[1][0] * m.m[2][1] - m.m[1][1] * m.m[2][0]);
    if (!finite || !(std::fabs(det) > 0.0)) {
      throw ReadFileError(path + ": the header's " + (sform ? "sform" : "qform") + " (code " +
                          std::to_string(sform ? nim.sform_code : nim.qform_code) + ") " +
                          (finite ? "is singular" : "holds values that are not finite") + "; the header is damaged");
    }
  }
  const std::string dataFile = nim.iname != nullptr ? nim.iname : path;
  std::error_code error;
  const uintmax_t actual = fs::file_size(dataFile, error);
  const Wide dataBytes = volumeVoxels * Wide(nim.nt) * Wide(nim.nbyper);
  Wide length = Wide(actual);
  if (endsWith(lowerCase(dataFile), ".gz")) {
    // Its length is known only once decompressed, but deflate shrinks data
    // at most about 1032 times: a header claiming more describes no file
    // there is, and would have its reader ask for that much memory.
    if (!error && dataBytes > Wide(actual) * 1100u) {
      throw ReadFileError(dataFile + ": the header describes far more voxel data than the compressed file can hold");
    }
    // Read to its end once: a flipped bit or a missing tail shows only in
    // the stream's checksum and length, which readers that stop after the
    // voxels they need never reach.
    length = Wide(dataFile == path ? verifiedLength : verifiedGzipLength(dataFile));
  }
  const Wide offset = Wide(std::max<int64_t>(nim.iname_offset, 0));
  if (error || length < offset + dataBytes) {
    const Wide expectedBytes = offset + dataBytes;
    const std::string expected = expectedBytes > Wide(std::numeric_limits<int64_t>::max())
                                     ? std::string("more than 2^63")
                                     : std::to_string(static_cast<int64_t>(expectedBytes));
    throw ReadFileError(dataFile + ": the voxel data are truncated: " + expected + " bytes expected, " +
                        (error ? std::string("unreadable") : std::to_string(static_cast<uint64_t>(length))) + " found");
  }
}

template <typename T>
void convertToFloat(const void* source, float* target, size_t count, bool scaled, double slope, double inter) {
  const T* s = static_cast<const T*>(source);
  if (scaled) {
    for (size_t i = 0; i < count; ++i) target[i] = static_cast<float>(slope * static_cast<double>(s[i]) + inter);
  } else {
    for (size_t i = 0; i < count; ++i) target[i] = static_cast<float>(s[i]);
  }
}

// Calls f with a value of the C++ type that stores `datatype`'s voxels.
template <typename F>
void withStoredType(int datatype, F&& f) {
  switch (datatype) {
    case DT_UINT8:
      return f(uint8_t{});
    case DT_INT8:
      return f(int8_t{});
    case DT_INT16:
      return f(int16_t{});
    case DT_UINT16:
      return f(uint16_t{});
    case DT_INT32:
      return f(int32_t{});
    case DT_UINT32:
      return f(uint32_t{});
    case DT_INT64:
      return f(int64_t{});
    case DT_UINT64:
      return f(uint64_t{});
    case DT_FLOAT32:
      return f(float{});
    case DT_FLOAT64:
      return f(double{});
    default:
      throw std::logic_error("unsupported NIfTI data type");
  }
}

void toFloat(int datatype, const void* source, float* target, size_t count, bool scaled, double slope, double inter) {
  withStoredType(datatype,
                 [&](auto stored) { convertToFloat<decltype(stored)>(source, target, count, scaled, slope, inter); });
}

// Rounded half away from zero and saturated; NaN is stored as 0.
template <typename T>
T storedInteger(double v) {
  if (std::isnan(v)) return 0;
  v = std::round(v);
  constexpr T lowest = std::numeric_limits<T>::lowest();
  constexpr T highest = std::numeric_limits<T>::max();
  if (v <= static_cast<double>(lowest)) return lowest;
  if (v >= static_cast<double>(highest)) return highest;
  return static_cast<T>(v);
}

template <typename T>
void convertFromFloat(const float* source, void* target, size_t count, bool scaled, double slope, double inter) {
  T* t = static_cast<T*>(target);
  for (size_t i = 0; i < count; ++i) {
    const double v = scaled ? (static_cast<double>(source[i]) - inter) / slope : static_cast<double>(source[i]);
    if constexpr (std::is_floating_point_v<T>) {
      t[i] = static_cast<T>(v);
    } else {
      t[i] = storedInteger<T>(v);
    }
  }
}

void fromFloat(int datatype, const float* source, void* target, size_t count, bool scaled, double slope, double inter) {
  withStoredType(datatype,
                 [&](auto stored) { convertFromFloat<decltype(stored)>(source, target, count, scaled, slope, inter); });
}

// Writes a single-file header in this machine's byte order, followed by an
// empty extension flag, so the voxels start right after it. The header is
// written here rather than by nifti_clib, whose writer in the Debian build
// writes no NIfTI-2 header at all. Header extensions of the source are not
// copied.
template <typename Put>
bool writeHeader(Put put, nifti_image& nim, bool nifti2) {
  static_assert(sizeof(nifti_1_header) == 348 && sizeof(nifti_2_header) == 540, "packed NIfTI headers");
  const char noExtensions[4] = {0, 0, 0, 0};
  nim.byteorder = nifti_short_order();
  nifti_free_extensions(&nim);
  if (nifti2) {
    nim.nifti_type = NIFTI_FTYPE_NIFTI2_1;
    nim.iname_offset = sizeof(nifti_2_header) + sizeof noExtensions;
    nifti_2_header h{};
    if (nifti_convert_nim2n2hdr(&nim, &h) != 0) return false;
    if (!put(&h, sizeof h)) return false;
  } else {
    nim.nifti_type = NIFTI_FTYPE_NIFTI1_1;
    nim.iname_offset = sizeof(nifti_1_header) + sizeof noExtensions;
    nifti_1_header h{};
    if (nifti_convert_nim2n1hdr(&nim, &h) != 0) return false;
    if (!put(&h, sizeof h)) return false;
  }
  return put(noExtensions, sizeof noExtensions);
}

std::string reasonOf(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : std::string(); }

}  // namespace

NiftiImage::NiftiImage(std::string path, std::unique_ptr<Header> header)
    : path_(std::move(path)), header_(std::move(header)) {}
NiftiImage::NiftiImage(NiftiImage&&) noexcept = default;
NiftiImage& NiftiImage::operator=(NiftiImage&&) noexcept = default;
NiftiImage::~NiftiImage() = default;

NiftiImage NiftiImage::open(const std::string& path) {
  silenceLibrary();
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) throw OpenFileError("Cannot open " + path + ": no such file");
  if (!fs::is_regular_file(status)) throw OpenFileError("Cannot open " + path + ": not a regular file");
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    throw OpenFileError("Cannot open " + path + reasonOf(errno));
  }
  // A compressed file is checked whole before its header is believed: a
  // damaged stream may also have damaged the header.
  const uint64_t verifiedLength = endsWith(lowerCase(path), ".gz") ? verifiedGzipLength(path) : 0;
  const StoredFacts facts = storedFacts(path);
  checkStoredFacts(facts, path);
  nifti_image* nim = nifti_image_read(path.c_str(), 0);
  if (nim == nullptr) throw ReadFileError(path + ": not a NIfTI-1 or NIfTI-2 image, or its header is damaged");
  auto header = std::make_unique<Header>();
  header->nim = nim;
  header->version = facts.version;
  checkHeader(*nim, facts, path, verifiedLength);
  return NiftiImage(path, std::move(header));
}

NiftiImage NiftiImage::create(const Dimensions& extents, int32_t volumes, const std::array<double, 3>& voxelSize,
                              const Affine& affine, int datatype, double slope, double inter, bool nifti2) {
  silenceLibrary();
  if (!isSupportedType(datatype)) throw std::invalid_argument("unsupported NIfTI data type");
  const int64_t dims[8] = {volumes > 1 ? 4 : 3, extents.x, extents.y, extents.z, volumes, 1, 1, 1};
  nifti_image* nim = nifti_make_new_nim(dims, datatype, 0);
  if (nim == nullptr) throw std::bad_alloc();
  auto header = std::make_unique<Header>();
  header->nim = nim;
  nim->pixdim[1] = nim->dx = voxelSize[0];
  nim->pixdim[2] = nim->dy = voxelSize[1];
  nim->pixdim[3] = nim->dz = voxelSize[2];
  nim->scl_slope = slope;
  nim->scl_inter = inter;
  header->version = nifti2 ? 2 : 1;
  nim->xyz_units = NIFTI_UNITS_MM;
  nim->time_units = NIFTI_UNITS_SEC;
  nim->sform_code = NIFTI_XFORM_SCANNER_ANAT;
  nim->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) nim->sto_xyz.m[r][c] = affine[r][c];
  }
  nim->sto_ijk = nifti_dmat44_inverse(nim->sto_xyz);
  nifti_dmat44_to_quatern(nim->sto_xyz, &nim->quatern_b, &nim->quatern_c, &nim->quatern_d, &nim->qoffset_x,
                          &nim->qoffset_y, &nim->qoffset_z, nullptr, nullptr, nullptr, &nim->qfac);
  nim->qto_xyz = nifti_quatern_to_dmat44(nim->quatern_b, nim->quatern_c, nim->quatern_d, nim->qoffset_x, nim->qoffset_y,
                                         nim->qoffset_z, nim->dx, nim->dy, nim->dz, nim->qfac);
  nim->qto_ijk = nifti_dmat44_inverse(nim->qto_xyz);
  return NiftiImage("", std::move(header));
}

Dimensions NiftiImage::extents() const {
  const nifti_image& nim = *header_->nim;
  return {static_cast<int32_t>(nim.nx), static_cast<int32_t>(nim.ny), static_cast<int32_t>(nim.nz)};
}

int32_t NiftiImage::volumeCount() const { return static_cast<int32_t>(header_->nim->nt); }

std::array<double, 3> NiftiImage::voxelSize() const {
  const nifti_image& nim = *header_->nim;
  return {nim.dx, nim.dy, nim.dz};
}

Affine NiftiImage::affine() const {
  const nifti_image& nim = *header_->nim;
  Affine a{};
  const nifti_dmat44* m = nim.sform_code > 0 ? &nim.sto_xyz : nim.qform_code > 0 ? &nim.qto_xyz : nullptr;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) a[r][c] = m != nullptr ? m->m[r][c] : 0.0;
  }
  if (m == nullptr) {
    a[0][0] = nim.dx;
    a[1][1] = nim.dy;
    a[2][2] = nim.dz;
    a[3][3] = 1.0;
  }
  return a;
}

std::string NiftiImage::orientationCode() const {
  const Affine a = affine();
  nifti_dmat44 m{};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m.m[r][c] = a[r][c];
  }
  int codes[3] = {0, 0, 0};
  nifti_dmat44_to_orientation(m, &codes[0], &codes[1], &codes[2]);
  // NIFTI_L2R (1) to NIFTI_S2I (6): the letter of the direction pointed to.
  const char letters[] = "?RLAPSI";
  std::string code;
  for (int c : codes) {
    if (c < 1 || c > 6) return "";
    code += letters[c];
  }
  return code;
}

int NiftiImage::sformCode() const { return header_->nim->sform_code; }
int NiftiImage::qformCode() const { return header_->nim->qform_code; }
int NiftiImage::datatype() const { return header_->nim->datatype; }
std::string NiftiImage::datatypeName() const { return typeName(header_->nim->datatype); }
double NiftiImage::sclSlope() const { return header_->nim->scl_slope; }
double NiftiImage::sclInter() const { return header_->nim->scl_inter; }
bool NiftiImage::isNifti2() const { return header_->version == 2; }
double NiftiImage::repetitionTime() const { return header_->nim->dt; }
std::string NiftiImage::description() const {
  const char* d = header_->nim->descrip;
  return std::string(d, strnlen(d, sizeof(header_->nim->descrip)));
}

std::vector<Volume> NiftiImage::readVolumes(const std::vector<int32_t>& which) const {
  std::vector<int64_t> list;
  for (int32_t t : which) {
    if (t < 0 || t >= volumeCount()) {
      throw std::out_of_range(path_ + " has " + std::to_string(volumeCount()) + " volumes; there is no volume " +
                              std::to_string(t));
    }
    list.push_back(t);
  }
  if (list.empty()) return {};
  silenceLibrary();
  const nifti_image& nim = *header_->nim;
  // nifti_clib reads brick lists only from 4-D files; a single volume (also
  // one of a single slice) is read whole.
  const bool whole = nim.nt == 1;
  nifti_brick_list bricks{};
  Header read;
  read.nim = whole ? nifti_image_read(path_.c_str(), 1)
                   : nifti_image_read_bricks(path_.c_str(), static_cast<int64_t>(list.size()), list.data(), &bricks);
  const bool complete = whole ? read.nim != nullptr && read.nim->data != nullptr
                              : read.nim != nullptr && bricks.nbricks == static_cast<int64_t>(list.size());
  if (!complete) {
    nifti_free_NBL(&bricks);
    throw ReadFileError(path_ + ": the voxel data cannot be read in full (the file is truncated or damaged)");
  }
  if (read.nim->nx != nim.nx || read.nim->ny != nim.ny || read.nim->nz != nim.nz ||
      read.nim->datatype != nim.datatype) {
    nifti_free_NBL(&bricks);
    throw ReadFileError(path_ + ": the file changed while it was being read");
  }
  const size_t count = static_cast<size_t>(voxelsPerVolume(nim));
  const bool scaled = isScaled(nim.scl_slope, nim.scl_inter);
  std::vector<Volume> volumes;
  volumes.reserve(list.size());
  for (size_t b = 0; b < list.size(); ++b) {
    Volume v(extents());
    toFloat(nim.datatype, whole ? read.nim->data : bricks.bricks[b], v.data(), count, scaled, nim.scl_slope,
            nim.scl_inter);
    volumes.push_back(std::move(v));
  }
  nifti_free_NBL(&bricks);
  return volumes;
}

std::vector<Volume> NiftiImage::readAllVolumes() const {
  std::vector<int32_t> all(static_cast<size_t>(volumeCount()));
  for (size_t t = 0; t < all.size(); ++t) all[t] = static_cast<int32_t>(t);
  return readVolumes(all);
}

struct NiftiVolumeReader::Input {
  const NiftiImage* image = nullptr;
  std::string dataPath;
  znzFile file = nullptr;
  int32_t remaining = 0;
  bool swapped = false;
  std::vector<unsigned char> buffer;

  ~Input() {
    if (file != nullptr) znzclose(file);
  }
};

NiftiVolumeReader::NiftiVolumeReader(const NiftiImage& image) : in_(std::make_unique<Input>()) {
  const nifti_image& nim = *image.header().nim;
  Input& in = *in_;
  in.image = &image;
  in.dataPath = nim.iname != nullptr ? nim.iname : image.path();
  in.remaining = image.volumeCount();
  in.swapped = nim.byteorder != nifti_short_order() && nim.swapsize > 1;
  in.buffer.resize(static_cast<size_t>(voxelsPerVolume(nim)) * static_cast<size_t>(nim.nbyper));
  in.file = znzopen(in.dataPath.c_str(), "rb", endsWith(lowerCase(in.dataPath), ".gz") ? 1 : 0);
  if (in.file == nullptr) throw OpenFileError("Cannot open " + in.dataPath + reasonOf(errno));
  const int64_t offset = std::max<int64_t>(nim.iname_offset, 0);
  if (znzseek(in.file, static_cast<znz_off_t>(offset), SEEK_SET) < 0) {
    throw ReadFileError(in.dataPath + ": the voxel data cannot be reached (the file is truncated or damaged)");
  }
}

NiftiVolumeReader::~NiftiVolumeReader() = default;

int32_t NiftiVolumeReader::remaining() const { return in_->remaining; }

void NiftiVolumeReader::next(Volume& v) {
  Input& in = *in_;
  if (in.remaining <= 0) throw std::out_of_range(in.image->path() + ": no volume left to read");
  const nifti_image& nim = *in.image->header().nim;
  if (znzread(in.buffer.data(), 1, in.buffer.size(), in.file) != in.buffer.size()) {
    throw ReadFileError(in.dataPath + ": the voxel data cannot be read in full (the file is truncated or damaged)");
  }
  if (in.swapped) {
    nifti_swap_Nbytes(static_cast<int64_t>(in.buffer.size()) / nim.swapsize, nim.swapsize, in.buffer.data());
  }
  if (v.dimensions() != in.image->extents() || v.data() == nullptr) v = Volume(in.image->extents());
  toFloat(nim.datatype, in.buffer.data(), v.data(), v.voxelCount(), isScaled(nim.scl_slope, nim.scl_inter),
          nim.scl_slope, nim.scl_inter);
  --in.remaining;
}

struct NiftiWriter::Output {
  std::string path;
  // Unnamed until finish publishes it where the file system allows that, so
  // a run killed meanwhile leaves nothing (see platform::PendingFile).
  platform::PendingFile file;
  // A ".nii.gz" output: its bytes are deflated into gzip format on the way
  // (zlib's level 1: on a series of scans it writes about twice as fast as
  // the default level 6 for files a few per cent larger, and writing is most
  // of a correction's time).
  bool compressed = false;
  z_stream deflater{};
  bool deflating = false;
  std::vector<unsigned char> chunk;
  NiftiImage::Header header;
  int32_t announced = 0;
  int32_t written = 0;
  bool scaled = false;
  bool finished = false;
  std::vector<unsigned char> buffer;

  ~Output() {
    if (deflating) deflateEnd(&deflater);
  }
  // ": " and why the file could not take the last write.
  std::string reason() const { return ": " + (file.error().empty() ? std::string("write error") : file.error()); }
  // Deflates (or copies) `bytes` into the file; `finish` flushes what the
  // deflater holds. False when the file could not take it.
  bool put(const void* data, size_t bytes, bool last = false) {
    if (!compressed) return bytes == 0 || file.write(static_cast<const char*>(data), bytes);
    deflater.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    // Pieces of at most 1 GiB: avail_in is 32 bits wide.
    size_t left = bytes;
    do {
      const size_t piece = std::min<size_t>(left, size_t(1) << 30);
      deflater.avail_in = static_cast<uInt>(piece);
      left -= piece;
      const int flush = last && left == 0 ? Z_FINISH : Z_NO_FLUSH;
      int status = Z_OK;
      do {
        deflater.next_out = chunk.data();
        deflater.avail_out = static_cast<uInt>(chunk.size());
        status = deflate(&deflater, flush);
        if (status == Z_STREAM_ERROR) return false;
        const size_t have = chunk.size() - deflater.avail_out;
        if (have > 0 && !file.write(reinterpret_cast<const char*>(chunk.data()), have)) return false;
      } while (deflater.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    } while (left > 0);
    return true;
  }
};

NiftiWriter::NiftiWriter(const std::string& path, const NiftiImage& like, int32_t volumes, NiftiStorage storage,
                         const std::string& description)
    : out_(std::make_unique<Output>()) {
  silenceLibrary();
  if (volumes < 1) throw std::invalid_argument("a NIfTI image needs at least one volume");
  if (!isNiftiPath(path)) throw WriteFileError("Cannot write " + path + ": the name must end in .nii or .nii.gz");
  std::error_code error;
  const fs::file_status existing = fs::symlink_status(path, error);
  if (!error && fs::exists(existing) && !fs::is_regular_file(existing)) {
    throw WriteFileError("Cannot write " + path + ": it exists and is not a regular file");
  }
  Output& o = *out_;
  o.path = path;
  o.announced = volumes;
  nifti_image* nim = nifti_copy_nim_info(like.header().nim);
  if (nim == nullptr) throw std::bad_alloc();
  o.header.nim = nim;
  nim->dim[0] = volumes > 1 ? 4 : 3;
  nim->dim[4] = volumes;
  for (int d = 5; d < 8; ++d) nim->dim[d] = 1;
  nifti_update_dims_from_array(nim);
  if (storage == NiftiStorage::Float32) {
    nim->datatype = DT_FLOAT32;
    nifti_datatype_sizes(DT_FLOAT32, &nim->nbyper, &nim->swapsize);
    nim->scl_slope = 1.0;
    nim->scl_inter = 0.0;
    nim->cal_min = nim->cal_max = 0.0;
  }
  o.scaled = isScaled(nim->scl_slope, nim->scl_inter);
  if (!description.empty()) {
    std::memset(nim->descrip, 0, sizeof(nim->descrip));
    std::strncpy(nim->descrip, description.c_str(), sizeof(nim->descrip) - 1);
  }
  o.compressed = endsWith(lowerCase(path), ".gz");
  if (!o.file.create(path)) throw WriteFileError("Cannot create " + path + ": " + o.file.error());
  if (o.compressed) {
    // windowBits 15 + 16: a gzip header and trailer around the deflate data.
    if (deflateInit2(&o.deflater, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    o.deflating = true;
    o.chunk.resize(size_t(1) << 18);
  }
  const auto put = [&o](const void* data, size_t bytes) { return o.put(data, bytes); };
  if (!writeHeader(put, *nim, like.isNifti2())) throw WriteFileError("Failed writing to " + path + o.reason());
  o.buffer.resize(static_cast<size_t>(voxelsPerVolume(*nim)) * static_cast<size_t>(nim->nbyper));
}

NiftiWriter::~NiftiWriter() = default;  // an unpublished file is removed with it

void NiftiWriter::write(const Volume& volume) {
  Output& o = *out_;
  const nifti_image& nim = *o.header.nim;
  if (volume.nx() != nim.nx || volume.ny() != nim.ny || volume.nz() != nim.nz) {
    throw std::invalid_argument("a volume of other extents than " + o.path + "'s");
  }
  if (o.written >= o.announced || o.finished) throw std::invalid_argument("one volume too many for " + o.path);
  fromFloat(nim.datatype, volume.data(), o.buffer.data(), volume.voxelCount(), o.scaled, nim.scl_slope, nim.scl_inter);
  if (!o.put(o.buffer.data(), o.buffer.size())) throw WriteFileError("Failed writing to " + o.path + o.reason());
  ++o.written;
}

void NiftiWriter::finish() {
  Output& o = *out_;
  if (o.written != o.announced) {
    throw WriteFileError("Failed writing to " + o.path + ": " + std::to_string(o.written) + " of " +
                         std::to_string(o.announced) + " volumes written");
  }
  if (!o.put(nullptr, 0, true) || !o.file.sync()) throw WriteFileError("Failed writing to " + o.path + o.reason());
  if (!o.file.publish()) throw WriteFileError("Cannot replace " + o.path + ": " + o.file.error());
  o.finished = true;
}

void writeNifti(const std::string& path, const NiftiImage& like, const std::vector<Volume>& volumes,
                NiftiStorage storage, const std::string& description) {
  NiftiWriter writer(path, like, static_cast<int32_t>(volumes.size()), storage, description);
  for (const Volume& v : volumes) writer.write(v);
  writer.finish();
}

bool isNiftiPath(const std::string& path) {
  const std::string lower = lowerCase(path);
  return endsWith(lower, ".nii") || endsWith(lower, ".nii.gz");
}

std::string niftiStem(const std::string& path) {
  const std::string lower = lowerCase(path);
  if (endsWith(lower, ".nii.gz")) return path.substr(0, path.size() - 7);
  if (endsWith(lower, ".nii")) return path.substr(0, path.size() - 4);
  return path;
}

}  // namespace daxo

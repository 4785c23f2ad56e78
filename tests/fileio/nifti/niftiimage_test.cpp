#include "fileio/nifti/niftiimage.h"

#include <gtest/gtest.h>
#include <nifti/nifti1.h>
#include <nifti/nifti2_io.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "fileio/fileerrors.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::TempFolder;
using testing::thrownMessage;

// An oblique affine with an offset, so a lost or transposed matrix shows.
Affine obliqueAffine() {
  return Affine{{{-2.0, 0.1, 0.0, 90.0}, {0.0, 2.4, 0.3, -120.5}, {0.05, 0.0, 3.0, -60.0}, {0.0, 0.0, 0.0, 1.0}}};
}

// Volume t holds slope * (x + 3y + 11z - 40 + 7t) + inter: whole stored
// numbers that fit every tested type (negative ones only for signed types).
std::vector<Volume> storedPattern(const Dimensions& d, int32_t volumes, double slope, double inter, bool signedType) {
  std::vector<Volume> result;
  for (int32_t t = 0; t < volumes; ++t) {
    Volume v(d);
    for (int32_t z = 0; z < d.z; ++z) {
      for (int32_t y = 0; y < d.y; ++y) {
        for (int32_t x = 0; x < d.x; ++x) {
          const double stored = x + 3 * y + 11 * z + 7 * t - (signedType ? 40 : 0);
          v(x, y, z) = static_cast<float>(slope * stored + inter);
        }
      }
    }
    result.push_back(std::move(v));
  }
  return result;
}

struct RoundTripCase {
  const char* name;
  int datatype;
  double slope;
  double inter;
  int32_t volumes;
  bool nifti2;
  bool signedType;
};

class NiftiRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(NiftiRoundTrip, HeaderAndValuesSurviveWriteAndRead) {
  const RoundTripCase& c = GetParam();
  TempFolder folder;
  const Dimensions d{5, 7, 3};
  const NiftiImage like =
      NiftiImage::create(d, c.volumes, {2.0, 2.5, 3.0}, obliqueAffine(), c.datatype, c.slope, c.inter, c.nifti2);
  const std::vector<Volume> volumes = storedPattern(d, c.volumes, c.slope, c.inter, c.signedType);
  for (const char* ending : {".nii", ".nii.gz"}) {
    const std::string path = folder.file(std::string(c.name) + ending);
    writeNifti(path, like, volumes, NiftiStorage::LikeSource, "test image");
    const NiftiImage read = NiftiImage::open(path);
    EXPECT_EQ(read.extents(), d);
    EXPECT_EQ(read.volumeCount(), c.volumes);
    EXPECT_EQ(read.datatype(), c.datatype);
    EXPECT_EQ(read.isNifti2(), c.nifti2);
    EXPECT_EQ(read.description(), "test image");
    EXPECT_DOUBLE_EQ(read.voxelSize()[1], 2.5);
    for (int r = 0; r < 4; ++r) {
      for (int col = 0; col < 4; ++col) EXPECT_NEAR(read.affine()[r][col], obliqueAffine()[r][col], 1e-5);
    }
    const std::vector<Volume> back = read.readAllVolumes();
    ASSERT_EQ(back.size(), volumes.size());
    for (size_t t = 0; t < back.size(); ++t) {
      for (size_t i = 0; i < back[t].voxelCount(); ++i) {
        ASSERT_FLOAT_EQ(back[t].data()[i], volumes[t].data()[i]) << ending << " volume " << t << " voxel " << i;
      }
    }
    // Streamed volume by volume: the same values.
    NiftiVolumeReader reader(read);
    Volume streamed;
    for (size_t t = 0; t < volumes.size(); ++t) {
      reader.next(streamed);
      for (size_t i = 0; i < streamed.voxelCount(); ++i) ASSERT_EQ(streamed.data()[i], back[t].data()[i]);
    }
    EXPECT_EQ(reader.remaining(), 0);
    EXPECT_THROW(reader.next(streamed), std::out_of_range);
    // One volume picked out of the series, in the order asked.
    const std::vector<Volume> picked = read.readVolumes({c.volumes - 1, 0});
    EXPECT_EQ(picked[0].data()[5], volumes.back().data()[5]);
    EXPECT_EQ(picked[1].data()[5], volumes.front().data()[5]);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, NiftiRoundTrip,
                         ::testing::Values(RoundTripCase{"int16_scaled", DT_INT16, 0.0427, -3.0, 4, false, true},
                                           RoundTripCase{"uint8_3d", DT_UINT8, 1.0, 0.0, 1, false, false},
                                           RoundTripCase{"uint16", DT_UINT16, 2.0, 0.0, 2, false, false},
                                           RoundTripCase{"int32_nifti2", DT_INT32, 1.0, 0.0, 3, true, true},
                                           RoundTripCase{"float32", DT_FLOAT32, 1.0, 0.0, 2, false, true},
                                           RoundTripCase{"float64_scaled", DT_FLOAT64, 0.5, 1.0, 2, true, true}),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(NiftiWriter, IntegersAreRoundedAndSaturatedNeverWrapped) {
  TempFolder folder;
  struct Case {
    int datatype;
    double slope, inter;
    float value, expected;
  } cases[] = {
      {DT_INT16, 1.0, 0.0, 40000.0f, 32767.0f}, {DT_INT16, 1.0, 0.0, -40000.0f, -32768.0f},
      {DT_INT16, 1.0, 0.0, 2.5f, 3.0f},         {DT_INT16, 1.0, 0.0, -2.5f, -3.0f},
      {DT_INT16, 1.0, 0.0, NAN, 0.0f},          {DT_UINT8, 1.0, 0.0, -5.0f, 0.0f},
      {DT_UINT8, 1.0, 0.0, 300.0f, 255.0f},     {DT_INT16, 0.5, 10.0, 11.3f, 11.5f},
      {DT_UINT16, 1.0, 0.0, 1e9f, 65535.0f},    {DT_INT32, 1.0, 0.0, -1e12f, -2147483648.0f},
  };
  for (const Case& c : cases) {
    const NiftiImage like = NiftiImage::create({1, 1, 1}, 1, {1, 1, 1}, obliqueAffine(), c.datatype, c.slope, c.inter);
    const std::string path = folder.file("v.nii");
    writeNifti(path, like, {Volume(1, 1, 1, c.value)}, NiftiStorage::LikeSource);
    EXPECT_EQ(NiftiImage::open(path).readVolume(0).data()[0], c.expected) << c.datatype << " " << c.value;
  }
}

TEST(NiftiWriter, Float32StorageDropsTheSourceScalingAndKeepsTheHeader) {
  TempFolder folder;
  const NiftiImage like = NiftiImage::create({3, 2, 2}, 5, {3, 3, 3}, obliqueAffine(), DT_INT16, 0.0427, 0.0);
  const std::string source = folder.file("source.nii.gz");
  writeNifti(source, like, storedPattern({3, 2, 2}, 5, 0.0427, 0.0, true), NiftiStorage::LikeSource);
  const NiftiImage read = NiftiImage::open(source);
  const std::string path = folder.file("map.nii.gz");
  writeNifti(path, read, {Volume(3, 2, 2, 1.0f / 3.0f)}, NiftiStorage::Float32, "displacement");
  const NiftiImage map = NiftiImage::open(path);
  EXPECT_EQ(map.datatype(), DT_FLOAT32);
  EXPECT_EQ(map.volumeCount(), 1);
  EXPECT_EQ(map.description(), "displacement");
  EXPECT_EQ(map.sformCode(), read.sformCode());
  EXPECT_EQ(map.affine(), read.affine());
  EXPECT_EQ(map.readVolume(0).data()[7], 1.0f / 3.0f);
}

// Overwrites `count` bytes at `offset` of a file.
void patch(const std::string& path, size_t offset, const void* bytes, size_t count) {
  std::string content = testing::readFile(path);
  content.replace(offset, count, static_cast<const char*>(bytes), count);
  testing::writeFile(path, content);
}

// Files from big-endian machines: the header and the voxels swapped in place.
TEST(NiftiImage, BigEndianFilesReadLikeTheirLittleEndianTwins) {
  TempFolder folder;
  for (const bool nifti2 : {false, true}) {
    const NiftiImage like = NiftiImage::create({3, 4, 2}, 2, {2, 2.5, 3}, obliqueAffine(), DT_INT16, 0.5, 1.0, nifti2);
    const std::string path = folder.file(nifti2 ? "two.nii" : "one.nii");
    std::vector<Volume> volumes = {Volume(3, 4, 2, 0.0f), Volume(3, 4, 2, 0.0f)};
    for (size_t i = 0; i < volumes[1].voxelCount(); ++i) volumes[1].data()[i] = static_cast<float>(i) * 0.5f + 1.0f;
    writeNifti(path, like, volumes, NiftiStorage::LikeSource);
    const NiftiImage twin = NiftiImage::open(path);
    const std::vector<Volume> twinVolumes = twin.readAllVolumes();
    std::string bytes = testing::readFile(path);
    const size_t headerSize = nifti2 ? 540 : 348;
    const size_t voxelOffset = headerSize + 4;
    swap_nifti_header(bytes.data(), nifti2 ? 2 : 1);
    nifti_swap_2bytes(static_cast<int64_t>((bytes.size() - voxelOffset) / 2), bytes.data() + voxelOffset);
    testing::writeFile(path, bytes);

    const NiftiImage read = NiftiImage::open(path);
    EXPECT_EQ(read.affine(), twin.affine()) << path;
    const std::vector<Volume> back = read.readAllVolumes();
    ASSERT_EQ(back.size(), 2u);
    for (size_t i = 0; i < volumes[1].voxelCount(); ++i) {
      ASSERT_EQ(back[1].data()[i], volumes[1].data()[i]) << path << " " << i;
      ASSERT_EQ(back[1].data()[i], twinVolumes[1].data()[i]) << path << " " << i;
    }
    // Found by fuzzing: a size field in one byte order and a dimension count in
    // the other sent the library's conversion into unbounded recursion.
    const int32_t otherOrderSize = nifti2 ? 540 : 348;
    patch(path, 0, &otherOrderSize, sizeof otherOrderSize);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { NiftiImage::open(path); }),
              path + (nifti2 ? ": the header's dimension count 288230376151711744 is not 1 to 7; the header is damaged"
                             : ": the header's dimension count 1024 is not 1 to 7; the header is damaged"));
  }
}

TEST(NiftiImage, DamagedFilesAreRefusedNamingTheFileAndTheProblem) {
  TempFolder folder;
  const NiftiImage like = NiftiImage::create({4, 4, 2}, 2, {2, 2, 2}, obliqueAffine(), DT_INT16);
  const std::vector<Volume> volumes = storedPattern({4, 4, 2}, 2, 1.0, 0.0, true);
  auto fresh = [&](const std::string& name) {
    const std::string path = folder.file(name);
    writeNifti(path, like, volumes, NiftiStorage::LikeSource);
    return path;
  };
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    const char* problem;
  };
  const int16_t fiveDims[] = {5, 4, 4, 2, 2, 2};
  const int16_t complexType[] = {NIFTI_TYPE_COMPLEX64, 64};
  const float zeroSize = 0.0f;
  const Case cases[] = {
      {"garbage.nii", [](const std::string& p) { testing::writeFile(p, std::string(400, 'x')); },
       "not a NIfTI-1 or NIfTI-2 image"},
      {"short.nii",
       [](const std::string& p) {
         const std::string c = testing::readFile(p);
         testing::writeFile(p, c.substr(0, c.size() - 10));
       },
       "the voxel data are truncated: 480 bytes expected, 470 found"},
      {"fivedims.nii", [&](const std::string& p) { patch(p, 40, fiveDims, sizeof fiveDims); }, "has 5 dimensions"},
      {"complex.nii", [&](const std::string& p) { patch(p, 70, complexType, sizeof complexType); },
       "data type COMPLEX64 is not supported"},
      {"flat.nii", [&](const std::string& p) { patch(p, 80, &zeroSize, sizeof zeroSize); },
       "the voxel size along i is 0.000000 mm"},
  };
  for (const Case& c : cases) {
    const std::string path = fresh(c.name);
    c.damage(path);
    const std::string message = thrownMessage<ReadFileError>([&] { NiftiImage::open(path); });
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(c.problem), std::string::npos) << message;
  }
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { NiftiImage::open(folder.file("absent.nii")); }),
            "Cannot open " + folder.file("absent.nii") + ": no such file");
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { NiftiImage::open(folder.path()); }),
            "Cannot open " + folder.path() + ": not a regular file");
}

// Found by fuzzing: a NIfTI-2 dimension count far outside 1 to 7 overflowed
// nifti_clib's stack, and so did an extent of about 2^39; extents of 2^31 - 1
// overflowed the voxel count; a compressed file claiming terabytes would have
// been read into memory.
TEST(NiftiImage, RegressionFuzzedHeadersAreRefusedBeforeTheyAreBelieved) {
  TempFolder folder;
  const NiftiImage like = NiftiImage::create({3, 5, 2}, 1, {2, 2, 2}, obliqueAffine(), DT_FLOAT32, 1.0, 0.0, true);
  const std::string path = folder.file("two.nii");
  const int64_t count = 4294639619;
  const int64_t huge[3] = {2147483647, 2147483647, 2147483647};
  const int64_t beyond = 528280978176;
  const struct {
    size_t offset;
    const void* bytes;
    size_t size;
    const char* problem;
  } cases[] = {
      {16, &count, sizeof count, ": the header's dimension count 4294639619 is not 1 to 7; the header is damaged"},
      {24, huge, sizeof huge, ": a volume of 2147483647 x 2147483647 x 2147483647 voxels is too large"},
      {32, &beyond, sizeof beyond,
       ": the header's extent 528280978176 along dimension 2 is not 1 to 2147483647; the header is damaged"},
  };
  for (const auto& c : cases) {
    writeNifti(path, like, {Volume(3, 5, 2, 1.0f)}, NiftiStorage::LikeSource);
    patch(path, c.offset, c.bytes, c.size);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { NiftiImage::open(path); }), path + c.problem);
  }
  // One volume of zeros, its header patched to claim 30000 and compressed.
  const std::string plain = folder.file("claims.nii");
  writeNifti(plain, NiftiImage::create({64, 64, 32}, 1, {2, 2, 2}, obliqueAffine(), DT_INT16),
             {Volume(64, 64, 32, 0.0f)}, NiftiStorage::LikeSource);
  const int16_t fourDims[] = {4, 64, 64, 32, 30000};
  patch(plain, 40, fourDims, sizeof fourDims);
  const std::string bytes = testing::readFile(plain);
  const std::string gz = folder.file("claims.nii.gz");
  gzFile out = gzopen(gz.c_str(), "wb9");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())), static_cast<int>(bytes.size()));
  gzclose(out);
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { NiftiImage::open(gz); }),
            gz + ": the header describes far more voxel data than the compressed file can hold");
}

// Regression (issue 23): a flipped byte in the compressed data or a file cut
// short by 1 to 8 bytes (the gzip trailer missing) was read, the map then
// silently different; a vox_offset inside the header read the header as
// voxels; bitpix disagreeing with the data type and a scaling that is not a
// number passed `info` and failed (or misled) later. Every reader opens
// through NiftiImage::open, which now refuses them all.
TEST(NiftiImage, Issue23DamagedStreamsAndHeadersAreRefusedWhenOpened) {
  TempFolder folder;
  const NiftiImage like = NiftiImage::create({16, 16, 8}, 2, {2, 2, 2}, obliqueAffine(), DT_INT16, 0.5, 3.0);
  std::vector<Volume> volumes(2, Volume(16, 16, 8));
  for (Volume& v : volumes) {
    for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = std::round(100.0f * std::sin(0.37f * i)) * 0.5f + 3.0f;
  }
  const std::string plain = folder.file("plain.nii");
  writeNifti(plain, like, volumes, NiftiStorage::LikeSource);
  const std::string header = testing::readFile(plain);
  // The plain file with `bytes` at `offset`, compressed.
  const auto compressed = [&](size_t offset, const void* bytes, size_t count) {
    std::string content = header;
    content.replace(offset, count, static_cast<const char*>(bytes), count);
    const std::string gz = folder.file("damaged.nii.gz");
    gzFile out = gzopen(gz.c_str(), "wb6");
    gzwrite(out, content.data(), static_cast<unsigned>(content.size()));
    gzclose(out);
    return gz;
  };
  const std::string gz = compressed(0, header.data(), 0);
  const std::string good = testing::readFile(gz);
  ASSERT_NO_THROW(NiftiImage::open(gz));

  // Damaged streams: every byte of the deflate data and the trailer flipped
  // in turn would take long; a spread of them, and each cut of 1 to 8 bytes.
  std::vector<std::string> streams;
  for (size_t at = 20; at < good.size(); at += good.size() / 23) {
    std::string flipped = good;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    streams.push_back(flipped);
  }
  for (size_t cut = 1; cut <= 8; ++cut) streams.push_back(good.substr(0, good.size() - cut));
  for (const std::string& stream : streams) {
    testing::writeFile(gz, stream);
    const std::string message = thrownMessage<ReadFileError>([&] { NiftiImage::open(gz); });
    EXPECT_NE(message.find(gz + ": the compressed data are "), std::string::npos) << message;
  }

  const float zeroOffset = 0.0f, negativeOffset = -100.0f, headerOffset = 200.0f;
  const int16_t wrongBits = 32, unknownType = 999;
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float zeroRow[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // srow_x
  const struct {
    size_t offset;
    const void* bytes;
    size_t size;
    const char* problem;
  } headers[] = {
      {108, &zeroOffset, 4, ": the header's vox_offset 0.000000 lies inside the header (348 bytes)"},
      {108, &negativeOffset, 4, ": the header's vox_offset -100.000000 lies inside the header (348 bytes)"},
      {108, &headerOffset, 4, ": the header's vox_offset 200.000000 lies inside the header (348 bytes)"},
      {72, &wrongBits, 2, ": the header's bitpix 32 disagrees with its data type INT16 (16 bits)"},
      {112, &nan, 4, ": the header's scaling (scl_slope nan, scl_inter 3.000000) is not finite"},
      {112, &inf, 4, ": the header's scaling (scl_slope inf, scl_inter 3.000000) is not finite"},
      {116, &inf, 4, ": the header's scaling (scl_slope 0.500000, scl_inter inf) is not finite"},
      // Regression: the library printed its own complaint before this one.
      {70, &unknownType, 2, ": data type 999 (unknown) is not supported; voxels must be real numbers"},
      // Regression: a sform that is no transform was copied into the outputs.
      {280, &nan, 4, ": the header's sform (code 1) holds values that are not finite"},
      {280, zeroRow, 16, ": the header's sform (code 1) is singular"},
  };
  for (const auto& h : headers) {
    const std::string damaged = compressed(h.offset, h.bytes, h.size);
    const std::string message = thrownMessage<ReadFileError>([&] { NiftiImage::open(damaged); });
    EXPECT_EQ(message.rfind(damaged + h.problem, 0), 0u) << message;
  }
  // A slope of 0 means unscaled, as the format says: stored files rely on it.
  const float zero = 0.0f;
  const NiftiImage unscaled = NiftiImage::open(compressed(112, &zero, 4));
  EXPECT_EQ(unscaled.readVolume(1).data()[5], std::round(100.0f * std::sin(0.37f * 5)));
}

TEST(NiftiImage, TruncatedCompressedDataFailOnReadingNamingTheFile) {
  TempFolder folder;
  const std::string path = folder.file("cut.nii.gz");
  const NiftiImage like = NiftiImage::create({16, 16, 8}, 3, {2, 2, 2}, obliqueAffine(), DT_FLOAT32);
  std::vector<Volume> volumes(3, Volume(16, 16, 8));
  for (Volume& v : volumes) {
    for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = std::sin(0.37f * static_cast<float>(i));
  }
  writeNifti(path, like, volumes, NiftiStorage::LikeSource);
  const std::string whole = testing::readFile(path);
  testing::writeFile(path, whole.substr(0, whole.size() / 2));
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { NiftiImage::open(path); }),
            path + ": the compressed data are truncated (the gzip stream ends before its trailer)");
  // Cut after it was opened: the readers find out.
  testing::writeFile(path, whole);
  const NiftiImage cut = NiftiImage::open(path);
  testing::writeFile(path, whole.substr(0, whole.size() / 2));
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { cut.readAllVolumes(); }),
            path + ": the voxel data cannot be read in full (the file is truncated or damaged)");
  NiftiVolumeReader reader(cut);
  Volume v;
  EXPECT_EQ(thrownMessage<ReadFileError>([&] {
              while (reader.remaining() > 0) reader.next(v);
            }),
            path + ": the voxel data cannot be read in full (the file is truncated or damaged)");
  EXPECT_EQ(thrownMessage<std::out_of_range>([&] { cut.readVolume(3); }),
            path + " has 3 volumes; there is no volume 3");
}

TEST(NiftiWriter, AnUnfinishedWriteLeavesTheEarlierFileAndNoTemporary) {
  TempFolder folder;
  const std::string path = folder.file("series.nii.gz");
  const NiftiImage like = NiftiImage::create({4, 4, 2}, 2, {2, 2, 2}, obliqueAffine(), DT_INT16);
  writeNifti(path, like, storedPattern({4, 4, 2}, 2, 1.0, 0.0, true), NiftiStorage::LikeSource);
  const std::string before = testing::readFile(path);
  {
    NiftiWriter writer(path, like, 2, NiftiStorage::LikeSource);
    writer.write(Volume(4, 4, 2, 9.0f));
    // Regression: the output was written under a hidden name, which a run
    // killed here left behind; it has none until it is published.
    EXPECT_EQ(testing::namesIn(folder.path()), std::vector<std::string>{"series.nii.gz"});
    EXPECT_EQ(thrownMessage<WriteFileError>([&] { writer.finish(); }),
              "Failed writing to " + path + ": 1 of 2 volumes written");
  }
  EXPECT_EQ(testing::readFile(path), before);
  EXPECT_EQ(testing::namesIn(folder.path()), std::vector<std::string>{"series.nii.gz"});

  const std::string missingFolder = folder.file("absent/out.nii");
  EXPECT_EQ(thrownMessage<WriteFileError>(
                [&] { writeNifti(missingFolder, like, {Volume(4, 4, 2, 0.0f)}, NiftiStorage::LikeSource); }),
            "Cannot create " + missingFolder + ": No such file or directory");
  const std::string folderTarget = folder.file("taken.nii");
  std::filesystem::create_directory(folderTarget);
  EXPECT_EQ(thrownMessage<WriteFileError>(
                [&] { writeNifti(folderTarget, like, {Volume(4, 4, 2, 0.0f)}, NiftiStorage::Float32); }),
            "Cannot write " + folderTarget + ": it exists and is not a regular file");
}

TEST(NiftiPaths, StemsAndEndings) {
  EXPECT_TRUE(isNiftiPath("a/b.nii"));
  EXPECT_TRUE(isNiftiPath("a/b.NII.GZ"));
  EXPECT_FALSE(isNiftiPath("a/b.fmr"));
  EXPECT_EQ(niftiStem("d/sub-01_dir-AP_dwi.nii.gz"), "d/sub-01_dir-AP_dwi");
  EXPECT_EQ(niftiStem("d/x.nii"), "d/x");
}

}  // namespace
}  // namespace daxo

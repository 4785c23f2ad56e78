// A NIfTI image as the input (.nii, or .nii.gz when it starts with the gzip
// magic, so that damaged streams are fuzzed too), its header read, every
// volume read at once and again one at a time.
#include <cstddef>
#include <cstdint>

#include "fileio/fileerrors.h"
#include "fileio/nifti/niftiimage.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool compressed = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
  const std::string path = daxo::fuzzing::writeScratchFile(compressed ? "image.nii.gz" : "image.nii", data, size);
  try {
    const daxo::NiftiImage image = daxo::NiftiImage::open(path);
    image.readAllVolumes();
    daxo::NiftiVolumeReader reader(image);
    daxo::Volume v;
    while (reader.remaining() > 0) reader.next(v);
  } catch (const daxo::IOError&) {
  }
  return 0;
}

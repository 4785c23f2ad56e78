// A NIfTI image as the input (uncompressed .nii), its header read, every
// volume read at once and again one at a time.
#include <cstddef>
#include <cstdint>

#include "fileio/fileerrors.h"
#include "fileio/nifti/niftiimage.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = daxo::fuzzing::writeScratchFile("image.nii", data, size);
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

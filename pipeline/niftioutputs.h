#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "correction/pairmotion.h"
#include "fileio/nifti/niftiimage.h"
#include "pipeline/niftiscan.h"
#include "volume/volume.h"

// What is written for NIfTI inputs, on the first input's grid with its
// affine: the displacement map in voxels, the field in Hz with its sidecar,
// and corrected series with copies of their sidecars. Every file goes to a
// temporary name first and is renamed only once complete.

namespace daxo::pipeline {

// The output path of `input` with `suffix` (kMapSuffix, fileio/paths.h) and
// ".nii.gz": beside the input, or in `outDir` when it is not empty.
// "d/sub-01_dwi.nii.gz" with "_vdm" gives "d/sub-01_dwi_vdm.nii.gz".
std::string niftiOutputPath(const std::string& input, const std::string& suffix, const std::string& outDir);

// The map of the first scan in the file's own frame: voxels along its
// phase-encoding axis, positive toward higher voxel index on that axis.
// 32-bit floats, one volume, with a sidecar giving that direction and the
// readout time when known.
// With a motion, the sidecar also gives the second scan's motion relative to
// the first ("MotionOfSecondScan": "RotationDegrees" about i, j, k and
// "TranslationMm" along them).
// With `motionOfFirst`, the motion is the first scan's relative to the second
// ("MotionOfFirstScan"; see NiftiPairEstimate::firstMoved).
void writeDisplacementMap(const std::string& path, const NiftiScan& first, const Volume& map,
                          const std::optional<RigidMotion>& motion = std::nullopt, bool motionOfFirst = false);

// The motion the sidecar of the map at `mapPath` (written by
// writeDisplacementMap) records, along the image axes: the second scan's
// (MotionOfSecondScan) or the first's (MotionOfFirstScan, and `firstMoved`
// set); none when it records none or cannot be read. Throws
// std::runtime_error naming the sidecar when the motion is malformed.
std::optional<RigidMotion> recordedMotion(const std::string& mapPath, bool& firstMoved);

// The field in Hz: a positive field shifts a scan encoded along +axis toward
// higher index by field x readout time voxels, so field = map x sign / readout
// for the first scan's direction. Writes the image and a sidecar beside it
// ("Units": "Hz"), with the keys of `provenance` added (its "Sources", for a
// derivatives dataset also "B0FieldIdentifier" and "IntendedFor").
void writeFieldMap(const std::string& path, const NiftiScan& first, const Volume& map, const ReadoutTime& readout,
                   const nlohmann::json& provenance);

// Where a corrected series goes and how it is written.
struct CorrectedSeries {
  std::string path;
  // The input's data type and scaling (saturated), or 32-bit floats.
  NiftiStorage storage = NiftiStorage::LikeSource;
  // Each corrected volume multiplied by the Jacobian of the correction
  // (1 + dmap/dphase), which keeps each column's total signal.
  bool jacobian = false;
  std::string mapPath;      // the map, as the sidecar's note names it
  bool mapIsField = false;  // the note names it "FieldMap" (Hz), else "DisplacementMap"
  // The scan of a pair whose head moved (motion relative to the other scan,
  // the pair's reference, along i, j, k): each volume is moved into the
  // other scan's space, its distortion kept along its own phase-encoding
  // axis, before it is corrected.
  std::optional<RigidMotion> motion;
  // Keys set in the copied sidecar ("Sources", "B0FieldSource"); a null
  // value removes the key.
  nlohmann::json provenance = nlohmann::json::object();
};

// Corrects every volume of `scan` with `map` (its own frame; the second scan
// of a pair takes the negated map) and writes the series to `output.path`
// volume by volume, with the input's header. Copies the .bval and .bvec
// beside the input, and then the input's sidecar, when it has one, with a
// note of the correction. Logs one entry when done.
void writeCorrectedSeries(const NiftiScan& scan, const Volume& map, const CorrectedSeries& output, std::ostream& log);

// Writes `document` (indented by two) through a temporary file. Throws
// WriteFileError naming the file.
void writeJsonFile(const std::string& path, const nlohmann::json& document);

// Writes `text` through a temporary file. Throws WriteFileError naming it.
void writeTextFile(const std::string& path, const std::string& text);

// Copies a small text file (b-values, gradient directions) through a
// temporary file. Throws OpenFileError or WriteFileError naming the file.
void copyTextFile(const std::string& from, const std::string& to);

// The sidecar of a NIfTI output: its path with ".json" for ".nii(.gz)".
std::string outputSidecarPath(const std::string& niftiPath);

// Creates `folder` and its parents when missing ("" is the inputs' own
// folders). Throws WriteFileError naming it when it cannot be made.
void createOutputFolder(const std::string& folder);

// What createOutputFolder will meet, checked before a job's long work:
// throws WriteFileError naming `folder` when it, or the nearest of its
// parents that exists, is not a folder or may not be written in. "" passes.
void checkOutputFolder(const std::string& folder);

// `path` as a sidecar of `output` names it: relative to the output's folder
// ('/'-separated), so that a folder of inputs and outputs can be moved.
std::string pathFromOutput(const std::string& path, const std::string& output);

// The .bval and .bvec beside `input` (those that exist) and where their
// copies beside `output` go.
std::vector<std::pair<std::string, std::string>> gradientCopies(const std::string& input, const std::string& output);

}  // namespace daxo::pipeline

#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/nifti/bidssidecar.h"

// What `daxo bids` does for one subject, worked out from the subject's images
// and their sidecars alone (no image data, no file access): which reverse
// phase-encoded pairs give a field, which runs each field corrects, and where
// the outputs go in the derivatives dataset. Paths are relative to the dataset
// (inputs) or to the derivatives folder (outputs), '/'-separated.

namespace daxo::pipeline {

// A BIDS file name split into its entities, suffix and extension:
// "sub-01_ses-1_dir-AP_dwi.nii.gz" has the entities (sub, 01), (ses, 1),
// (dir, AP), the suffix "dwi" and the extension ".nii.gz".
struct BidsName {
  std::vector<std::pair<std::string, std::string>> entities;
  std::string suffix;
  std::string extension;

  std::string entity(const std::string& key) const;  // "" when absent
  // The name without `key` ("dir") and with every other entity in order.
  BidsName without(const std::string& key) const;
  // The name with desc-`desc` last among the entities (replacing any desc).
  BidsName withDesc(const std::string& desc) const;
  std::string text() const;
};

// Nothing when the name is not entity-value pairs and a suffix.
std::optional<BidsName> parseBidsName(const std::string& fileName);

// One NIfTI image of a subject, as the dataset holds it.
struct BidsImage {
  std::string path;                    // "sub-01/ses-1/fmap/sub-01_ses-1_dir-AP_epi.nii.gz"
  std::optional<BidsSidecar> sidecar;  // nothing when there is none or it could not be read
  std::string sidecarProblem;          // why it could not be read; "" when it was, or is absent
  // Metadata a user supplied for the image (PhaseEncodingDirection,
  // TotalReadoutTime), already set in `sidecar`; empty when none.
  nlohmann::json supplied = nlohmann::json::object();
};

// One field: estimated from `first` and `second` (opposite phase encoding
// along one axis), on the grid of `first`, and applied to `runs`.
struct FieldPlan {
  std::string first;
  std::string second;
  std::string field;              // the field's output, "sub-01/fmap/sub-01_desc-daxo_fieldmap.nii.gz"
  std::vector<std::string> runs;  // inputs it corrects, in the dataset's order
};

struct SubjectPlan {
  std::string label;  // "01" for sub-01
  std::vector<FieldPlan> fields;
  // What stops the subject from being processed, each naming its file. A
  // subject with a problem is not processed at all.
  std::vector<std::string> problems;
  // Images left alone and why ("has no partner of opposite phase encoding").
  std::vector<std::string> notes;
  // Metadata a user supplied, by image path (see BidsImage::supplied).
  std::map<std::string, nlohmann::json> supplied;
};

// Pairs and runs of one subject (all its sessions) from its images (fmap/,
// dwi/ and func/ NIfTI files with their sidecars):
// - fmap/*_epi images pair up by B0FieldIdentifier, else by equal entities
//   but dir; a pair corrects the runs its IntendedFor lists (paths relative
//   to the subject folder, or "bids::" URIs) and those whose B0FieldSource
//   names its B0FieldIdentifier;
// - dwi/ and func/ runs that no fmap pair corrects pair up by equal entities
//   but dir, and such a pair corrects both its runs.
// A pair must hold exactly two images encoded along one axis in opposite
// directions, each with a readable sidecar giving PhaseEncodingDirection;
// runs must have one too.
SubjectPlan planSubject(const std::string& label, const std::vector<BidsImage>& images);

// Where the corrected copy of `run` goes: its folder and entities with
// desc-undistorted, "sub-01/dwi/sub-01_dir-AP_desc-undistorted_dwi.nii.gz".
std::string undistortedPath(const std::string& run);

// BIDS URIs of the files sidecars name: a file of the raw dataset (linked
// as "raw" in dataset_description.json) and one of the derivatives dataset,
// "bids:raw:sub-01/dwi/sub-01_dir-AP_dwi.nii.gz", "bids::sub-01/fmap/...".
constexpr const char* kRawDatasetName = "raw";
std::string rawDatasetUri(const std::string& path);
std::string derivativeUri(const std::string& path);

// The B0FieldIdentifier of a field, which its corrected runs give as their
// B0FieldSource: the field's file name without suffix and extension,
// "sub-01_desc-daxodwi" for "sub-01/fmap/sub-01_desc-daxodwi_fieldmap.nii.gz".
std::string fieldIdentifierOf(const FieldPlan& field);

// The report page of a field, in the subject's figures/ folder:
// "sub-01/figures/sub-01_desc-daxo_fieldmap.html".
std::string fieldPagePath(const FieldPlan& field);

}  // namespace daxo::pipeline

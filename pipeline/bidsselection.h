#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// What a user chooses of a BIDS dataset beyond its files: which images take
// part (a filter file, as fMRIPrep's --bids-filter-file), and metadata
// supplied for chosen images where their sidecars lack it or are wrong (a
// metadata file). Both are matched against the images' BIDS entities.
//
// Filter file: an object of queries, each an object of entity constraints;
// "fmap" applies to fmap/*_epi images, "dwi" to dwi/ runs, "bold" and
// "sbref" to func/ runs of those suffixes; other queries are ignored. An
// entity is named as pybids does ("subject", "session", "task",
// "acquisition", "run", "direction", "suffix", "datatype", ...) or by its
// short key ("sub", "ses", "dir", ...); its constraint is a value, a list of
// values (any of them), null (the entity is absent) or "*" (present).
//   {"dwi": {"acquisition": "multiband", "run": [1, 2]}, "fmap": {"run": 1}}
//
// Metadata file: a list of rules, each with "match" (entity constraints as
// above, all must hold) and "metadata" (PhaseEncodingDirection, one of i,
// i-, j, j-, and TotalReadoutTime in seconds). Later rules win.
//   [{"match": {"subject": "canon", "direction": "AP"},
//     "metadata": {"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05}}]

namespace daxo::pipeline {

struct BidsSelection {
  std::string filterPath;  // "" when none
  nlohmann::json filters = nlohmann::json::object();
  std::string metadataPath;  // "" when none
  struct Rule {
    nlohmann::json match;
    nlohmann::json metadata;
  };
  std::vector<Rule> rules;
};

// Reads the two files (either path may be ""). Throws std::runtime_error
// naming the file and what is wrong with it: not JSON, a constraint that is
// not a value, list or null, an unknown entity, a metadata key other than the
// two, or a value of the wrong kind.
BidsSelection readBidsSelection(const std::string& filterPath, const std::string& metadataPath);

// Whether the filter keeps the image at `path` (relative to the dataset,
// "sub-01/dwi/sub-01_dir-AP_dwi.nii.gz"). Images of no listed query are kept.
bool keptByFilter(const BidsSelection& selection, const std::string& path);

// The metadata the rules supply for the image at `path`: an object, empty
// when no rule matches.
nlohmann::json suppliedMetadata(const BidsSelection& selection, const std::string& path);

}  // namespace daxo::pipeline

// The filter and metadata files of `daxo bids`: which images a filter keeps,
// what the rules supply (later rules win), and a table of bad files, each
// refused naming the file and the fault.
#include "pipeline/bidsselection.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "testsupport/testfiles.h"

namespace {

using daxo::pipeline::BidsSelection;
using daxo::pipeline::keptByFilter;
using daxo::pipeline::readBidsSelection;
using daxo::pipeline::suppliedMetadata;

class BidsSelectionFiles : public ::testing::Test {
 protected:
  BidsSelection read(const std::string& filter, const std::string& metadata = "") const {
    if (!filter.empty()) daxo::testing::writeFile(folder.file("filter.json"), filter);
    if (!metadata.empty()) daxo::testing::writeFile(folder.file("metadata.json"), metadata);
    return readBidsSelection(filter.empty() ? "" : folder.file("filter.json"),
                             metadata.empty() ? "" : folder.file("metadata.json"));
  }
  daxo::testing::TempFolder folder;
};

TEST_F(BidsSelectionFiles, TheFilterKeepsWhatItsQueriesSelect) {
  const BidsSelection selection = read(R"({
    "dwi": {"acquisition": ["mb", "sb"], "run": 1},
    "fmap": {"direction": "*", "session": null},
    "bold": {"task": "rest"},
    "t1w": {"run": 9}})");
  const struct {
    const char* path;
    bool kept;
  } cases[] = {
      {"sub-01/dwi/sub-01_acq-mb_run-01_dwi.nii.gz", true},  // run 01 is run 1
      {"sub-01/dwi/sub-01_acq-mb_run-2_dwi.nii.gz", false},
      {"sub-01/dwi/sub-01_acq-hi_run-1_dwi.nii.gz", false},
      {"sub-01/dwi/sub-01_run-1_dwi.nii.gz", false},  // no acquisition
      {"sub-01/fmap/sub-01_dir-AP_epi.nii.gz", true},
      {"sub-01/ses-1/fmap/sub-01_ses-1_dir-AP_epi.nii.gz", false},
      {"sub-01/fmap/sub-01_epi.nii.gz", false},
      {"sub-01/func/sub-01_task-rest_bold.nii.gz", true},
      {"sub-01/func/sub-01_task-nback_bold.nii.gz", false},
      {"sub-01/func/sub-01_task-nback_sbref.nii.gz", true},  // no sbref query
  };
  for (const auto& c : cases) EXPECT_EQ(keptByFilter(selection, c.path), c.kept) << c.path;
  EXPECT_TRUE(keptByFilter(BidsSelection{}, "sub-01/dwi/sub-01_dwi.nii.gz"));
}

TEST_F(BidsSelectionFiles, LaterRulesWinAndOnlyMatchingRulesApply) {
  const BidsSelection selection = read("", R"([
    {"match": {"subject": "01"}, "metadata": {"PhaseEncodingDirection": "j", "TotalReadoutTime": 0.05}},
    {"match": {"sub": "01", "dir": "AP"}, "metadata": {"PhaseEncodingDirection": "j-"}}])");
  EXPECT_EQ(suppliedMetadata(selection, "sub-01/dwi/sub-01_dir-AP_dwi.nii.gz"),
            nlohmann::json({{"PhaseEncodingDirection", "j-"}, {"TotalReadoutTime", 0.05}}));
  EXPECT_EQ(suppliedMetadata(selection, "sub-01/dwi/sub-01_dir-PA_dwi.nii.gz")["PhaseEncodingDirection"], "j");
  EXPECT_TRUE(suppliedMetadata(selection, "sub-02/dwi/sub-02_dir-AP_dwi.nii.gz").empty());
}

TEST_F(BidsSelectionFiles, BadFilesAreRefusedNamingTheFileAndTheFault) {
  const struct {
    const char* filter;
    const char* metadata;
    const char* message;
  } cases[] = {
      {"{\"dwi\": ", "", "filter.json: not valid JSON"},
      {"[1]", "", "filter.json: not an object of queries"},
      // Regression: a misspelt query was taken and selected nothing.
      {R"({"dwl": {"acquisition": "mb"}})", "", "filter.json: 'dwl' is no query; the images are selected by fmap"},
      {R"({"dwi": {"colour": "red"}})", "", "filter.json: dwi names 'colour', which is not a BIDS entity"},
      {R"({"dwi": {"run": {"a": 1}}})", "", "filter.json: dwi.run is {\"a\":1}; expected a value"},
      {"", R"({"match": {}})", "metadata.json: not a list of rules"},
      {"", R"([{"match": {"sub": "01"}}])", "metadata.json: rule 1 needs \"match\" and \"metadata\""},
      {"", R"([{"match": {"sub": "01"}, "metadata": {"PhaseEncodingDirection": "k"}}])",
       "metadata.json: rule 1.metadata.PhaseEncodingDirection is \"k\"; expected one of i, i-, j, j-"},
      {"", R"([{"match": {"sub": "01"}, "metadata": {"TotalReadoutTime": 50}}])",
       "rule 1.metadata.TotalReadoutTime is 50; expected seconds"},
      {"", R"([{"match": {"sub": "01"}, "metadata": {"EchoTime": 0.03}}])",
       "rule 1.metadata supplies EchoTime; only PhaseEncodingDirection and TotalReadoutTime"},
  };
  for (const auto& c : cases) {
    try {
      read(c.filter, c.metadata);
      ADD_FAILURE() << "accepted: " << c.filter << c.metadata;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(readBidsSelection(folder.file("absent.json"), ""), std::runtime_error);
}

}  // namespace

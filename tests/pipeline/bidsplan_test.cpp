// Which pairs daxo bids finds in a subject and what each corrects, from file
// names and sidecars alone: one table of layouts a user meets.
#include "pipeline/bidsplan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using daxo::pipeline::BidsImage;
using daxo::pipeline::planSubject;
using daxo::pipeline::SubjectPlan;

// An image with a sidecar holding `json` ("" for no sidecar, "!" for one that
// could not be read).
BidsImage image(const std::string& path, const std::string& json) {
  BidsImage result;
  result.path = path;
  if (json == "!") {
    result.sidecarProblem = "sidecar of " + path + " is not JSON";
  } else if (!json.empty()) {
    daxo::BidsSidecar sidecar;
    sidecar.path = daxo::sidecarPathOf(path);
    sidecar.document = nlohmann::json::parse(json);
    if (sidecar.document.contains("PhaseEncodingDirection")) {
      sidecar.phaseEncodingDirection =
          daxo::parsePhaseEncodingDirection(sidecar.document["PhaseEncodingDirection"].get<std::string>());
    }
    if (sidecar.document.contains("PhaseEncodingAxis")) sidecar.phaseEncodingAxis = 1;
    if (sidecar.document.contains("TotalReadoutTime")) sidecar.totalReadoutTime = 0.05;
    result.sidecar = sidecar;
  }
  return result;
}

// A plan in words: "FIELD <- FIRST + SECOND: RUN, RUN" per field, then
// "problem: ..." and "note: ..." lines, so one string compares a whole plan.
std::string described(const SubjectPlan& plan) {
  std::string text;
  for (const auto& field : plan.fields) {
    text += field.field + " <- " + field.first + " + " + field.second + ":";
    for (const std::string& run : field.runs) text += " " + run;
    text += "\n";
  }
  for (const std::string& problem : plan.problems) text += "problem: " + problem + "\n";
  for (const std::string& note : plan.notes) text += "note: " + note + "\n";
  return text;
}

const std::string kAp = R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05)";
const std::string kPa = R"({"PhaseEncodingDirection": "j", "TotalReadoutTime": 0.05)";

struct PlanCase {
  const char* name;
  std::vector<BidsImage> images;
  std::string expected;
};

TEST(BidsPlan, PairsRunsAndProblemsOfEachLayout) {
  const std::vector<PlanCase> cases{
      {"fmap pair with IntendedFor, relative and as a URI; a session; func on its own",
       {image("sub-01/ses-1/fmap/sub-01_ses-1_dir-AP_epi.nii.gz",
              kAp + R"(, "IntendedFor": ["ses-1/func/sub-01_ses-1_task-rest_bold.nii.gz"]})"),
        image("sub-01/ses-1/fmap/sub-01_ses-1_dir-PA_epi.nii.gz",
              kPa + R"(, "IntendedFor": "bids::sub-01/ses-1/dwi/sub-01_ses-1_dwi.nii.gz"})"),
        image("sub-01/ses-1/dwi/sub-01_ses-1_dwi.nii.gz", kAp + "}"),
        image("sub-01/ses-1/func/sub-01_ses-1_task-rest_bold.nii.gz", kPa + "}")},
       "sub-01/ses-1/fmap/sub-01_ses-1_desc-daxo_fieldmap.nii.gz <- sub-01/ses-1/fmap/sub-01_ses-1_dir-AP_epi.nii.gz "
       "+ sub-01/ses-1/fmap/sub-01_ses-1_dir-PA_epi.nii.gz: sub-01/ses-1/func/sub-01_ses-1_task-rest_bold.nii.gz "
       "sub-01/ses-1/dwi/sub-01_ses-1_dwi.nii.gz\n"},
      {"B0FieldIdentifier pairs across names; B0FieldSource picks the runs",
       {image("sub-01/fmap/sub-01_acq-a_dir-AP_epi.nii.gz", kAp + R"(, "B0FieldIdentifier": "pepolar"})"),
        image("sub-01/fmap/sub-01_acq-b_dir-PA_epi.nii.gz", kPa + R"(, "B0FieldIdentifier": "pepolar"})"),
        image("sub-01/func/sub-01_task-x_bold.nii.gz", kAp + R"(, "B0FieldSource": ["pepolar"]})"),
        image("sub-01/func/sub-01_task-y_bold.nii.gz", kAp + "}")},
       "sub-01/fmap/sub-01_acq-a_desc-daxo_fieldmap.nii.gz <- sub-01/fmap/sub-01_acq-a_dir-AP_epi.nii.gz + "
       "sub-01/fmap/sub-01_acq-b_dir-PA_epi.nii.gz: sub-01/func/sub-01_task-x_bold.nii.gz\n"},
      {"dwi dir- pair corrects both; a run an fmap pair corrects is not paired again; a lone run is left alone",
       {image("sub-01/dwi/sub-01_dir-AP_dwi.nii.gz", kAp + "}"),
        image("sub-01/dwi/sub-01_dir-PA_dwi.nii.gz", kPa + "}"),
        image("sub-01/fmap/sub-01_dir-AP_epi.nii.gz",
              kAp + R"(, "IntendedFor": ["func/sub-01_task-x_dir-AP_bold.nii.gz"]})"),
        image("sub-01/fmap/sub-01_dir-PA_epi.nii.gz", kPa + "}"),
        image("sub-01/func/sub-01_task-x_dir-AP_bold.nii.gz", kAp + "}"),
        image("sub-01/func/sub-01_task-x_dir-PA_bold.nii.gz", kPa + "}")},
       "sub-01/fmap/sub-01_desc-daxo_fieldmap.nii.gz <- sub-01/fmap/sub-01_dir-AP_epi.nii.gz + "
       "sub-01/fmap/sub-01_dir-PA_epi.nii.gz: sub-01/func/sub-01_task-x_dir-AP_bold.nii.gz\n"
       "sub-01/fmap/sub-01_desc-daxodwi_fieldmap.nii.gz <- sub-01/dwi/sub-01_dir-AP_dwi.nii.gz + "
       "sub-01/dwi/sub-01_dir-PA_dwi.nii.gz: sub-01/dwi/sub-01_dir-AP_dwi.nii.gz sub-01/dwi/sub-01_dir-PA_dwi.nii.gz\n"
       "note: sub-01/func/sub-01_task-x_dir-PA_bold.nii.gz has no partner of opposite phase encoding: left alone\n"},
      {"two pairs meant for one run: the first corrects it",
       {image("sub-01/fmap/sub-01_run-1_dir-AP_epi.nii.gz",
              kAp + R"(, "IntendedFor": ["func/sub-01_task-x_bold.nii.gz"]})"),
        image("sub-01/fmap/sub-01_run-1_dir-PA_epi.nii.gz", kPa + "}"),
        image("sub-01/fmap/sub-01_run-2_dir-AP_epi.nii.gz",
              kAp + R"(, "IntendedFor": ["func/sub-01_task-x_bold.nii.gz"]})"),
        image("sub-01/fmap/sub-01_run-2_dir-PA_epi.nii.gz", kPa + "}"),
        image("sub-01/func/sub-01_task-x_bold.nii.gz", kAp + "}")},
       "sub-01/fmap/sub-01_run-1_desc-daxo_fieldmap.nii.gz <- sub-01/fmap/sub-01_run-1_dir-AP_epi.nii.gz + "
       "sub-01/fmap/sub-01_run-1_dir-PA_epi.nii.gz: sub-01/func/sub-01_task-x_bold.nii.gz\n"
       "sub-01/fmap/sub-01_run-2_desc-daxo_fieldmap.nii.gz <- sub-01/fmap/sub-01_run-2_dir-AP_epi.nii.gz + "
       "sub-01/fmap/sub-01_run-2_dir-PA_epi.nii.gz:\n"
       "note: sub-01/func/sub-01_task-x_bold.nii.gz is meant for sub-01/fmap/sub-01_run-1_desc-daxo_fieldmap.nii.gz "
       "and for sub-01/fmap/sub-01_run-2_desc-daxo_fieldmap.nii.gz: corrected with the first\n"},
      // Regression: the readout time missing as well came up only on the next run.
      {"the axis without its polarity, as some scanners write it, and no readout time",
       {image("sub-c/dwi/sub-c_dir-AP_dwi.nii.gz", R"({"PhaseEncodingAxis": "j", "TotalReadoutTime": 0.05})"),
        image("sub-c/dwi/sub-c_dir-PA_dwi.nii.gz", R"({"PhaseEncodingAxis": "j"})")},
       "problem: sub-c/dwi/sub-c_dir-AP_dwi.json has PhaseEncodingAxis but no PhaseEncodingDirection: add the "
       "direction with its polarity (j or j-)\n"
       "problem: sub-c/dwi/sub-c_dir-PA_dwi.json has PhaseEncodingAxis but no PhaseEncodingDirection: add the "
       "direction with its polarity (j or j-); it gives no readout time either (TotalReadoutTime or "
       "EffectiveEchoSpacing), which the field in Hz needs\n"},
      {"a broken sidecar, a missing one, an IntendedFor naming nothing",
       {image("sub-01/fmap/sub-01_dir-AP_epi.nii.gz", "!"),
        image("sub-01/fmap/sub-01_dir-PA_epi.nii.gz",
              kPa + R"(, "IntendedFor": ["func/sub-01_task-gone_bold.nii.gz"]})"),
        image("sub-01/dwi/sub-01_dir-AP_dwi.nii.gz", kAp + "}"), image("sub-01/dwi/sub-01_dir-PA_dwi.nii.gz", "")},
       "problem: sub-01/fmap/sub-01_dir-PA_epi.json names func/sub-01_task-gone_bold.nii.gz in IntendedFor, which "
       "is not an image of the dataset\n"
       "problem: sidecar of sub-01/fmap/sub-01_dir-AP_epi.nii.gz is not JSON\n"
       "problem: sub-01/dwi/sub-01_dir-PA_dwi.json is missing: it must give PhaseEncodingDirection\n"},
      {"same polarity, and three images that could pair",
       {image("sub-01/fmap/sub-01_dir-AP_epi.nii.gz", kAp + "}"),
        image("sub-01/fmap/sub-01_dir-PA_epi.nii.gz", kAp + "}"),
        image("sub-01/func/sub-01_task-x_dir-AP_bold.nii.gz", kAp + "}"),
        image("sub-01/func/sub-01_task-x_dir-LR_bold.nii.gz", R"({"PhaseEncodingDirection": "i"})"),
        image("sub-01/func/sub-01_task-x_dir-PA_bold.nii.gz", kPa + "}")},
       "problem: sub-01/fmap/sub-01_dir-AP_epi.nii.gz (j-) and sub-01/fmap/sub-01_dir-PA_epi.nii.gz (j-) do not "
       "form a pair: they must be encoded along i or j in opposite directions\n"
       "problem: cannot tell which of sub-01/func/sub-01_task-x_dir-AP_bold.nii.gz, "
       "sub-01/func/sub-01_task-x_dir-LR_bold.nii.gz, sub-01/func/sub-01_task-x_dir-PA_bold.nii.gz pair up: more "
       "than two share sub-01_task-x\n"},
      // Regression (issue 23): an fmap whose partner is gone (its sidecar
      // left without an image) was a note, and the subject "done" with the
      // run its IntendedFor names uncorrected.
      {"an fmap without a partner fails the subject",
       {image("sub-01/fmap/sub-01_dir-AP_epi.nii.gz", kAp + R"(, "IntendedFor": "dwi/sub-01_dwi.nii.gz"})"),
        image("sub-01/dwi/sub-01_dwi.nii.gz", kAp + "}")},
       "problem: sub-01/fmap/sub-01_dir-AP_epi.nii.gz has no partner of opposite phase encoding (an image with the "
       "same entities but dir, or the same B0FieldIdentifier): no field can be estimated from it\n"},
  };
  for (const PlanCase& c : cases) EXPECT_EQ(described(planSubject("01", c.images)), c.expected) << c.name;
}

TEST(BidsPlan, OutputNamesKeepTheEntitiesAndReplaceAnyDesc) {
  EXPECT_EQ(daxo::pipeline::undistortedPath("sub-01/ses-2/func/sub-01_ses-2_task-rest_desc-raw_run-1_bold.nii"),
            "sub-01/ses-2/func/sub-01_ses-2_task-rest_run-1_desc-undistorted_bold.nii.gz");
  EXPECT_FALSE(daxo::pipeline::parseBidsName("sub-01_dwi_.nii.gz"));
  EXPECT_FALSE(daxo::pipeline::parseBidsName("dwi.nii.gz"));
  daxo::pipeline::FieldPlan field;
  field.field = "sub-01/fmap/sub-01_desc-daxodwi_fieldmap.nii.gz";
  EXPECT_EQ(daxo::pipeline::fieldPagePath(field), "sub-01/figures/sub-01_desc-daxodwi_fieldmap.html");
}

}  // namespace

#pragma once

// The names the plugin's dialog and the plugin share: the parameters the
// dialog holds and the tasks it asks for. The plugin reads them, the daxo
// program and the test hosts set them; every one of them spells them from
// here. They are the dialog's own names, byte for byte: never change one.

namespace daxo::dialogkeys {

// The parameter naming the task to run (one of the task names below).
inline constexpr char kTask[] = "task";

// The eleven parameters of an estimation, in the order the plugin reads them.
inline constexpr char kFile0[] = "file0";  // first project (the reference scan)
inline constexpr char kFile1[] = "file1";  // second project, opposite phase encoding
inline constexpr char kVolume0[] = "volume0";
inline constexpr char kVolume1[] = "volume1";
inline constexpr char kRllr[] = "rllr";  // also read by "apply"
inline constexpr char kUseIc[] = "use_ic";
inline constexpr char kUseSsd[] = "use_ssd";
inline constexpr char kApplyToInput[] = "apply_to_input";
inline constexpr char kSaveDerivative[] = "save_derivative";
inline constexpr char kFastAlgorithm[] = "fast_algorithm";
inline constexpr char kOrder[] = "order";

// The displacement map: set by the estimate tasks, read by "apply".
inline constexpr char kVdm[] = "vdm";
// The project list of "check" and "apply": one path per line.
inline constexpr char kFiles[] = "files";

// What the select tasks tell the dialog.
inline constexpr char kFilename[] = "filename";
inline constexpr char kNrOfVolumes[] = "nr_of_volumes";
inline constexpr char kDisplayVolume[] = "display_volume";

// The task names, matched exactly (letter case and blanks count).
inline constexpr char kTaskSelectFmrOrDmr[] = "select_fmr_or_dmr";
inline constexpr char kTaskSelectVdm[] = "select_vdm";
inline constexpr char kTaskCheck[] = "check";
inline constexpr char kTaskEstimate[] = "estimate";
inline constexpr char kTaskEstimateVariational[] = "estimate_variational";
inline constexpr char kTaskApply[] = "apply";

}  // namespace daxo::dialogkeys

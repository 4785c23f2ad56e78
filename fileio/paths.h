#pragma once

#include <string>

namespace daxo {

// Path helpers on plain strings. Both "/" and "\" separate directories. The
// extension starts at the last "." of the whole path, even when that dot lies
// in a directory name ("C:/my.data/run1" has the extension "data/run1");
// stored projects and callers rely on this. Extension tests are byte for byte
// (case-sensitive).

// Up to and including the last separator; "" when there is none.
std::string directoryOf(const std::string& path);
// After the last separator; the whole path when there is none.
std::string fileNameOf(const std::string& path);
// Before the last "."; the whole path when there is none.
std::string stripExtension(const std::string& path);
// stripExtension(path) + "." + extension.
std::string withExtension(const std::string& path, const std::string& extension);
// The suffix inserted before the last "." ("run1.fmr" + "_undist" gives
// "run1_undist.fmr"); appended when there is no ".".
std::string withSuffix(const std::string& path, const std::string& suffix);
// True when the path ends in "." + extension ("A.FMR" has no extension "fmr").
bool hasExtension(const std::string& path, const std::string& extension);

// The suffixes of what is made from an input, inserted with withSuffix
// before a project's extension ("run1.fmr" gives "run1_vdm.map",
// "run1_vdmderiv.map" and "run1_undist.fmr") or put in front of a NIfTI
// output's ".nii.gz" ("sub-01_dwi_undist.nii.gz"). Stored names and the
// dialog rely on them.
inline constexpr char kMapSuffix[] = "_vdm";                 // the displacement map
inline constexpr char kDerivativeMapSuffix[] = "_vdmderiv";  // its derivative along the phase-encoding axis
inline constexpr char kFieldMapSuffix[] = "_fieldmap";       // the field in Hz (NIfTI only)
inline constexpr char kCorrectedSuffix[] = "_undist";        // the corrected copy
inline constexpr char kRestoredSuffix[] = "_lsr";            // a pair's least-squares restoration (NIfTI only)

}  // namespace daxo

// As stcdata_fuzz.cpp, read volume-major as DWI files are.
#define DAXO_FUZZ_ORDER VolumeMajor
#include "tests/fuzz/stcdata_fuzz.cpp"

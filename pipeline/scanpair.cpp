#include "pipeline/scanpair.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "correction/vdm.h"
#include "pipeline/niftiscan.h"
#include "volume/columnthreads.h"

namespace daxo::pipeline {

namespace {

std::array<double, 3> workingSize(const ScanVolume& scan) {
  std::array<double, 3> size = scan.voxelSize;
  if (scan.phaseEncoding.axis == 0) std::swap(size[0], size[1]);
  return size;
}

bool hasSignal(const Volume& v) {
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    if (std::isfinite(v.data()[i]) && v.data()[i] != 0.0f) return true;
  }
  return false;
}

// value * (1 + dmap/dy) in the frame with phase encoding along y.
void multiplyByJacobian(Volume& corrected, const Volume& workingMap) {
  const Volume slope = derivativeY(workingMap);
  for (size_t i = 0; i < corrected.voxelCount(); ++i) corrected.data()[i] *= 1.0f + slope.data()[i];
}

}  // namespace

void checkScanPair(const ScanVolume& first, const ScanVolume& second) {
  const std::string directions = first.name + " (" + phaseEncodingText(first.phaseEncoding) + ") and " + second.name +
                                 " (" + phaseEncodingText(second.phaseEncoding) + ")";
  if (first.phaseEncoding.axis != second.phaseEncoding.axis || first.phaseEncoding.sign == second.phaseEncoding.sign) {
    throw std::invalid_argument("The phase encoding of " + directions +
                                " must run along one axis in opposite directions");
  }
  if (first.phaseEncoding.axis == 2) {
    throw std::invalid_argument("The phase encoding of " + directions +
                                " runs along k, the slice axis; only i and j are supported");
  }
  const Dimensions a = first.volume.dimensions();
  const Dimensions b = second.volume.dimensions();
  if (a != b) {
    std::ostringstream text;
    text << first.name << " has " << a.x << " x " << a.y << " x " << a.z << " voxels but " << second.name << " has "
         << b.x << " x " << b.y << " x " << b.z << ": the pair must share its grid";
    throw std::invalid_argument(text.str());
  }
  for (const ScanVolume* scan : {&first, &second}) {
    for (double mm : scan->voxelSize) {
      if (!(std::isfinite(mm) && mm > 0.0)) {
        throw std::invalid_argument("the voxel size of " + scan->name + " must be positive and finite (mm)");
      }
    }
    if (!hasSignal(scan->volume)) {
      throw std::invalid_argument(scan->name + " holds no finite value other than 0");
    }
  }
}

ScanPairEstimate estimateScanPair(const ScanVolume& first, const ScanVolume& second, const EstimationOptions& options,
                                  bool motion, std::ostream& log) {
  const Volume working0 = toWorkingFrame(first.volume, first.phaseEncoding);
  Volume working1 = toWorkingFrame(second.volume, second.phaseEncoding);
  ScanPairEstimate out;
  std::optional<Volume> estimated;
  const std::array<double, 3> mm = workingSize(first);
  if (motion && options.method == EstimationMethod::Variational) {
    VariationalSettings settings;
    settings.threads = options.threads;
    MotionAndMap m = estimateVariationalWithMotion(working0, working1, mm, settings, MotionSettings{}, &log);
    if (m.moved) {
      out.motion = first.phaseEncoding.axis == 0 ? swappedXY(m.motion) : m.motion;
      working1 = movedSecondScan(working1, mm, m.motion, &m.map);
      out.movedSecond = fromWorkingFrame(working1, second.phaseEncoding);
      log << "Motion of the second scan relative to the first: " << motionDescription(*out.motion) << " ("
          << m.rounds << " rounds; the shift along the phase-encoding axis is taken up by the map)" << std::flush;
    } else {
      log << "No motion between the scans above " << MotionSettings{}.smallestTurn << " degree and "
          << MotionSettings{}.smallestShift << " mm" << std::flush;
    }
    estimated = std::move(m.map);
  } else {
    estimated = estimatePairMap(working0, working1, mm, options, log);
  }
  if (!estimated) throw std::runtime_error("no map was estimated (see the log); nothing was written");
  const std::string given = first.phaseEncoding.axis == 0 ? "i" : "j";
  out.check = checkPhaseEncoding(working0, working1, *estimated,
                                 {given, given == "i" ? "j" : "i", "PhaseEncodingDirection or --pe0/--pe1"}, log);
  out.map = fromWorkingFrame(*estimated, first.phaseEncoding);
  return out;
}

struct SeriesCorrection::State {
  PhaseEncodingDirection pe;
  bool jacobian = false;
  Volume workingMap;
  std::optional<RigidMotion> workingMotion;
  Volume firstMap;  // the first scan's map in the working frame (this series' map negated)
  std::array<double, 3> mm{};
  ColumnThreads threads;
  State(int count) : threads(count) {}
};

SeriesCorrection::SeriesCorrection(const Volume& map, const PhaseEncodingDirection& pe, bool jacobian,
                                   const std::optional<RigidMotion>& motion, const std::array<double, 3>& voxelSize,
                                   int threads)
    : state_(std::make_unique<State>(threadCount(threads))) {
  if (pe.axis == 2) throw std::invalid_argument("phase encoding along k, the slice axis, is not supported");
  State& s = *state_;
  s.pe = pe;
  s.jacobian = jacobian;
  s.workingMap = toWorkingFrame(map, pe);
  // A moved head: the motion in the working frame, and the first scan's map
  // there, which keeps the series' distortion along its own phase-encoding
  // axis while it is moved.
  if (motion) {
    const bool alongX = pe.axis == 0;
    s.workingMotion = alongX ? swappedXY(*motion) : *motion;
    s.firstMap = s.workingMap * -1.0f;
    s.mm = voxelSize;
    if (alongX) std::swap(s.mm[0], s.mm[1]);
  }
}

SeriesCorrection::~SeriesCorrection() = default;

Volume SeriesCorrection::correct(const Volume& input) {
  State& s = *state_;
  const bool alongX = s.pe.axis == 0;
  const Dimensions m = s.workingMap.dimensions();
  const Dimensions expected = alongX ? Dimensions{m.y, m.x, m.z} : m;
  if (input.dimensions() != expected) {
    std::ostringstream text;
    text << "a volume of " << input.nx() << " x " << input.ny() << " x " << input.nz() << " voxels for a map of "
         << expected.x << " x " << expected.y << " x " << expected.z;
    throw std::invalid_argument(text.str());
  }
  Volume corrected;
  if (s.workingMotion) {
    const Volume moved =
        fromWorkingFrame(movedSecondScan(toWorkingFrame(input, s.pe), s.mm, *s.workingMotion, &s.firstMap), s.pe);
    corrected = correctVolume(s.workingMap, moved, alongX, &s.threads);
  } else {
    corrected = correctVolume(s.workingMap, input, alongX, &s.threads);
  }
  if (s.jacobian) {
    Volume working = toWorkingFrame(corrected, s.pe);
    multiplyByJacobian(working, s.workingMap);
    corrected = fromWorkingFrame(working, s.pe);
  }
  return corrected;
}

}  // namespace daxo::pipeline

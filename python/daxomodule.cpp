// daxo._daxo: the pipeline's estimation and correction for Python callers.
// Arrays cross as float32 in Fortran order, so that axis 0 (i) runs fastest
// as in a Volume; pybind11 converts other layouts and types on the way in.
// The computing runs without the GIL; log entries re-acquire it to reach the
// Python callback.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "correction/logentry.h"
#include "correction/pairestimation.h"
#include "demodata/distortedscan.h"
#include "demodata/signalmodel.h"
#include "fileio/fileerrors.h"
#include "fileio/nifti/bidssidecar.h"
#include "fileio/paths.h"
#include "pipeline/demoinputs.h"
#include "pipeline/niftiapply.h"
#include "pipeline/niftiestimate.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/scanpair.h"
#include "volume/fft.h"
#include "volume/fftw/fftwbinding.h"

namespace py = pybind11;
using namespace daxo;
using namespace daxo::pipeline;

namespace {

using FloatArray = py::array_t<float, py::array::f_style | py::array::forcecast>;
// Called with (entry, seconds since the call began).
using LogCallback = std::function<void(const std::string&, double)>;

PhaseEncodingDirection parseDirection(const std::string& text, const std::string& name) {
  const std::optional<PhaseEncodingDirection> pe = parsePhaseEncodingDirection(text);
  if (!pe) throw std::invalid_argument(name + " needs one of i, i-, j, j-, k, k-, not '" + text + "'");
  return *pe;
}

EstimationMethod parseMethod(const std::string& text) {
  if (text == "variational") return EstimationMethod::Variational;
  if (text == "classic") return EstimationMethod::Classic;
  throw std::invalid_argument("method needs variational or classic, not '" + text + "'");
}

Volume toVolume(const FloatArray& a, const std::string& name) {
  if (a.ndim() != 3) {
    throw std::invalid_argument(name + " must be a 3-D volume, not " + std::to_string(a.ndim()) + "-D");
  }
  for (int d = 0; d < 3; ++d) {
    if (a.shape(d) < 1 || a.shape(d) > (1 << 30)) throw std::invalid_argument(name + " has an empty axis");
  }
  Volume v(static_cast<int32_t>(a.shape(0)), static_cast<int32_t>(a.shape(1)), static_cast<int32_t>(a.shape(2)));
  std::memcpy(v.data(), a.data(), v.voxelCount() * sizeof(float));
  return v;
}

py::array_t<float> toArray(const Volume& v) {
  py::array_t<float, py::array::f_style> a({v.nx(), v.ny(), v.nz()});
  std::memcpy(a.mutable_data(), v.data(), v.voxelCount() * sizeof(float));
  return std::move(a);
}

// A log stream handing each entry to `callback` with the GIL held; a
// failing callback does not stop the computing (its error is reported as
// unraisable).
class PythonLog : public EntryStream {
 public:
  explicit PythonLog(const LogCallback& callback)
      : EntryStream([this](const std::string& entry) { forward(entry); }),
        callback_(callback),
        start_(std::chrono::steady_clock::now()) {}

 private:
  void forward(const std::string& entry) {
    if (entry.empty() || !callback_) return;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    py::gil_scoped_acquire gil;
    try {
      callback_(entry, elapsed.count());
    } catch (py::error_already_set& e) {
      e.discard_as_unraisable("daxo log callback");
    }
  }
  LogCallback callback_;
  std::chrono::steady_clock::time_point start_;
};

py::dict describe(const PhaseCheckVerdict& check, const std::optional<RigidMotion>& motion) {
  py::dict d;
  d["agreement_before"] = check.values.before;
  d["agreement_after"] = check.values.after;
  d["check_passed"] = check.problem.empty();
  d["check_problem"] = check.problem;
  d["check_summary"] = check.summary();
  if (motion) {
    d["motion"] = py::make_tuple(motion->rotationDegrees, motion->translationMm);
  } else {
    d["motion"] = py::none();
  }
  return d;
}

py::dict estimateArrays(const FloatArray& a0, const FloatArray& a1, const std::array<double, 3>& mm0,
                        const std::array<double, 3>& mm1, const std::string& pe0, const std::string& pe1,
                        const std::string& method, int threads, bool motion, const LogCallback& log) {
  ScanVolume first{toVolume(a0, "img0"), mm0, parseDirection(pe0, "pe0"), "img0"};
  ScanVolume second{toVolume(a1, "img1"), mm1, parseDirection(pe1, "pe1"), "img1"};
  EstimationOptions options;
  options.method = parseMethod(method);
  options.threads = threads;
  checkScanPair(first, second);
  std::optional<ScanPairEstimate> e;
  {
    py::gil_scoped_release release;
    PythonLog stream(log);
    e = estimateScanPair(first, second, options, motion, stream);
  }
  py::dict d = describe(e->check, e->motion);
  d["map"] = toArray(e->map);
  return d;
}

py::dict estimateFiles(const std::string& path0, const std::string& path1, const std::string& pe0,
                       const std::string& pe1, std::optional<double> readout, const std::string& method, int threads,
                       bool motion, const LogCallback& log) {
  EstimationOptions options;
  options.method = parseMethod(method);
  options.threads = threads;
  std::optional<NiftiPairEstimate> e;
  std::optional<ReadoutTime> readout0;
  std::string direction0;
  {
    py::gil_scoped_release release;
    PythonLog stream(log);
    const NiftiScan first = openNiftiScan(path0, pe0, "pe0", readout);
    const NiftiScan second = openNiftiScan(path1, pe1, "pe1", readout);
    checkOppositePair(first, second);
    bindFft(fftwFunctions());
    e = estimateNiftiPair(first, second, {{}, {}, "volumes0"}, {{}, {}, "volumes1"}, options, motion, stream);
    readout0 = first.readout;
    direction0 = phaseEncodingText(first.phaseEncoding);
  }
  py::dict d = describe(e->check, e->motion);
  d["map"] = toArray(e->map);
  if (readout0) d["readout"] = readout0->seconds;
  d["pe0"] = direction0;
  return d;
}

py::array_t<float> applyMap(const FloatArray& series, const FloatArray& vdm, const std::string& pe, bool jacobian,
                            int threads) {
  const Volume map = toVolume(vdm, "the map");
  const PhaseEncodingDirection direction = parseDirection(pe, "pe");
  if (direction.axis == 2) throw std::invalid_argument("pe runs along k, the slice axis; only i and j are supported");
  if (series.ndim() != 3 && series.ndim() != 4) {
    throw std::invalid_argument("the series must be 3-D or 4-D, not " + std::to_string(series.ndim()) + "-D");
  }
  const int32_t nx = static_cast<int32_t>(series.shape(0)), ny = static_cast<int32_t>(series.shape(1)),
                nz = static_cast<int32_t>(series.shape(2));
  if (Dimensions{nx, ny, nz} != map.dimensions()) {
    throw std::invalid_argument("the series' volumes have " + std::to_string(nx) + " x " + std::to_string(ny) +
                                " x " + std::to_string(nz) + " voxels but the map " + std::to_string(map.nx()) +
                                " x " + std::to_string(map.ny()) + " x " + std::to_string(map.nz()) +
                                ": they must share the grid");
  }
  const size_t volumes = series.ndim() == 4 ? static_cast<size_t>(series.shape(3)) : 1;
  std::vector<py::ssize_t> shape(series.shape(), series.shape() + series.ndim());
  py::array_t<float, py::array::f_style> out(shape);
  const size_t voxels = map.voxelCount();
  const float* in = series.data();
  float* target = out.mutable_data();
  {
    py::gil_scoped_release release;
    SeriesCorrection correction(map, direction, jacobian, std::nullopt, {1.0, 1.0, 1.0}, threads);
    Volume volume(nx, ny, nz);
    for (size_t t = 0; t < volumes; ++t) {
      std::memcpy(volume.data(), in + t * voxels, voxels * sizeof(float));
      const Volume corrected = correction.correct(volume);
      std::memcpy(target + t * voxels, corrected.data(), voxels * sizeof(float));
    }
  }
  return std::move(out);
}

// The first volumes of the demo's pair (those `daxo demo --size SIZE --field
// FIELD` writes into func_ap.fmr and func_pa.fmr, bit for bit) and their
// voxel edge in mm, for timing the module on the demo's data.
py::dict demoPair(const std::string& size, const std::string& field) {
  const DemoSettings settings = demoSettingsFor(size, field);
  std::optional<Volume> first, second;
  {
    py::gil_scoped_release release;
    const Contrast contrast = functionalContrast(settings, 0);
    first =
        DistortedAcquisition(settings, PhaseDirection::First).scan(contrast, DistortedAcquisition::kFunctionalNoiseKey);
    second = DistortedAcquisition(settings, PhaseDirection::Second)
                 .scan(contrast, DistortedAcquisition::kFunctionalNoiseKey);
  }
  py::dict d;
  d["first"] = toArray(*first);
  d["second"] = toArray(*second);
  d["voxel_mm"] = settings.voxelMm;
  return d;
}

// The jobs of `daxo estimate` and `daxo apply` on NIfTI files, outputs named
// and written as the program writes them.
void estimateNiftiJob(const NiftiEstimateRequest& request, const LogCallback& log) {
  py::gil_scoped_release release;
  PythonLog stream(log);
  estimateNiftiFiles(request, stream);
}

void applyNiftiJob(const NiftiApplyRequest& request, const LogCallback& log) {
  py::gil_scoped_release release;
  PythonLog stream(log);
  applyNiftiMap(request, stream);
}

}  // namespace

PYBIND11_MODULE(_daxo, m) {
  m.doc() = "DAXO's estimation and correction (see the package daxo)";
  // Bound once, while the import holds the GIL, before any estimation.
  bindFft(fftwFunctions());
  // Files that cannot be opened, read or written are OSError; bad values and
  // what the estimation refuses are ValueError, with the pipeline's messages.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const IOError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    } catch (const std::invalid_argument& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::out_of_range& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::runtime_error& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  m.def("estimate_arrays", &estimateArrays, py::arg("img0"), py::arg("img1"), py::arg("voxel_size0"),
        py::arg("voxel_size1"), py::arg("pe0"), py::arg("pe1"), py::arg("method"), py::arg("threads"),
        py::arg("motion"), py::arg("log"));
  m.def("estimate_files", &estimateFiles, py::arg("path0"), py::arg("path1"), py::arg("pe0"), py::arg("pe1"),
        py::arg("readout"), py::arg("method"), py::arg("threads"), py::arg("motion"), py::arg("log"));
  m.attr("MAP_SUFFIX") = kMapSuffix;
  m.attr("FIELD_SUFFIX") = kFieldMapSuffix;
  m.attr("CORRECTED_SUFFIX") = kCorrectedSuffix;
  m.def("output_path", &niftiOutputPath, py::arg("input"), py::arg("suffix"), py::arg("out_dir"));
  m.def("sidecar_path", &outputSidecarPath, py::arg("path"));
  m.def(
      "estimate_nifti",
      [](const std::string& first, const std::string& second, const std::string& pe0, const std::string& pe1,
         std::optional<double> readout, const std::string& method, int threads, bool motion, const std::string& outDir,
         bool apply, bool force, const LogCallback& log) {
        NiftiEstimateRequest request;
        request.first = first;
        request.second = second;
        request.pe0 = pe0;
        request.pe1 = pe1;
        request.readoutSeconds = readout;
        request.estimation.method = parseMethod(method);
        request.estimation.threads = threads;
        request.motion = motion;
        request.outDir = outDir;
        request.apply = apply;
        request.force = force;
        estimateNiftiJob(request, log);
      },
      py::arg("first"), py::arg("second"), py::arg("pe0"), py::arg("pe1"), py::arg("readout"), py::arg("method"),
      py::arg("threads"), py::arg("motion"), py::arg("out_dir"), py::arg("apply"), py::arg("force"), py::arg("log"));
  m.def(
      "apply_nifti",
      [](const std::string& map, bool hz, const std::vector<std::string>& series, const std::string& pe,
         std::optional<double> readout, const std::string& outDir, bool jacobian, const LogCallback& log) {
        NiftiApplyRequest request;
        request.mapPath = map;
        request.mapUnits = hz ? MapUnits::Hz : MapUnits::Voxels;
        request.series = series;
        request.pe = pe;
        request.readoutSeconds = readout;
        request.outDir = outDir;
        request.jacobian = jacobian;
        applyNiftiJob(request, log);
      },
      py::arg("map"), py::arg("hz"), py::arg("series"), py::arg("pe"), py::arg("readout"), py::arg("out_dir"),
      py::arg("jacobian"), py::arg("log"));
  m.def("demo_pair", &demoPair, py::arg("size") = "full", py::arg("field") = "standard");
  m.def("apply_map", &applyMap, py::arg("series"), py::arg("vdm"), py::arg("pe"), py::arg("jacobian"),
        py::arg("threads"));
}

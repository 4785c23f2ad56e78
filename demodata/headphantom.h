#pragma once

#include <array>

#include "demodata/brainlayout.h"
#include "demodata/demosettings.h"
#include "demodata/shapes.h"
#include "demodata/smoothnoise.h"

namespace daxo {

// What the synthetic head holds at one point. Fractions are partial volumes
// (0 .. 1): tissue edges rise over one voxel of the grid, so sampling the head
// at voxel spacing neither misses nor aliases them.
struct TissueMix {
  float head = 0;          // inside the scalp's outer surface (air cavities included)
  float intracranial = 0;  // inside the inner surface of the skull
  float scalp = 0;         // tissue fractions; their sum is at most 1, the rest is air
  float skull = 0;
  float csf = 0;
  float grey = 0;
  float white = 0;
  float texture = 1;     // tissue texture and coil shading (a factor within 0.55 .. 1.65)
  float activation = 0;  // 0 .. 1: how strongly this point's grey matter takes part in the task
  float fibreX = 0;      // unit direction of the white-matter fibres, grid axes
  float fibreY = 1;
  float fibreZ = 0;
};

// The head as an analytic object: any real-valued position can be evaluated
// without interpolation. The anatomy is laid out in demodata/headlayout.h and
// demodata/brainlayout.h: scalp, skull with the skull base, face with eyes and
// air sinuses, CSF under the skull and in the cisterns, a folded cortical
// ribbon over white matter, ventricles, deep grey nuclei, cerebellum and
// brainstem. Deterministic for a given settings value; the seed only changes
// the texture.
class HeadPhantom {
 public:
  explicit HeadPhantom(const DemoSettings& settings);

  // The mix at voxel coordinates (x, y, z) of the grid (continuous; may lie
  // outside the grid, where the head simply continues or air follows).
  TissueMix mixAt(double x, double y, double z) const;

  const GridFrame& frame() const { return frame_; }

 private:
  // Tissue fractions of the cranial cavity.
  struct Brain {
    double brain = 0;  // grey + white + ventricles
    double grey = 0;
    double white = 0;
    double ventricles = 0;  // CSF inside the brain
  };

  TissueMix mixAtReference(const Point3& q) const;
  // Partial volume of a region from a signed distance in reference mm
  // (negative inside): a smoothstep from 0 to 1 across one voxel of the grid.
  double inside(double distanceMm) const { return partialVolume(distanceMm, frame_.mmPerVoxel()); }
  // The tissue fractions and the head and intracranial memberships; false
  // (and m untouched) outside the head.
  bool fillTissues(const Point3& q, TissueMix& m) const;
  // intracranialDistance is the signed distance of q to the cranial cavity,
  // intracranial its partial volume.
  Brain brainAt(const Point3& q, double intracranialDistance, double intracranial) const;
  double textureAt(const Point3& q) const;

  GridFrame frame_;
  BrainLayout brain_;
  std::array<SmoothNoise, 4> texture_;
};

}  // namespace daxo

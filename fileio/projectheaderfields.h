#pragma once

#include "fileio/headerfields.h"
#include "fileio/headerformat.h"

namespace daxo {

// The keys that functional (FMR) and diffusion (DMR) headers share, from
// "FileVersion:" to "FirstDataSourceFile:", with the position-information
// block. Each header adds its own keys and tables. Absent keys hold 0, "" or
// false; FileVersion holds -1.
struct ProjectHeaderFields {
  ProjectHeaderFields() { fileVersion.value = -1; }

  IntField fileVersion;
  IntField nrOfVolumes;  // time points (FMR) or diffusion volumes (DMR)
  IntField nrOfSlices;   // z extent
  IntField nrOfSkippedVolumes;
  TextField prefix;  // base name of the data file, beside the header
  IntField dataStorageFormat;
  IntField dataType;  // 2: 32-bit float voxels; otherwise 16-bit integers
  IntField tr;
  IntField interSliceTime;
  BoolField timeResolutionVerified;
  IntField te;
  IntField sliceAcquisitionOrder;
  BoolField sliceAcquisitionOrderVerified;
  IntField resolutionX;  // x extent
  IntField resolutionY;  // y extent
  TextField loadAMRFile;
  BoolField showAMRFile;
  IntField imageIndex;
  IntField layoutNColumns;
  IntField layoutNRows;
  IntField layoutZoomLevel;
  IntField segmentSize;
  IntField segmentOffset;
  TextField protocolFile;
  FloatField inplaneResolutionX;  // voxel size along x, mm
  FloatField inplaneResolutionY;  // voxel size along y, mm
  FloatField sliceThickness;      // mm; the one outside the position block
  FloatField sliceGap;            // mm
  BoolField voxelResolutionVerified;

  // Position-information block.
  BoolField posInfosVerified;
  IntField coordinateSystem;
  FloatField slice1CenterX, slice1CenterY, slice1CenterZ;
  FloatField sliceNCenterX, sliceNCenterY, sliceNCenterZ;
  FloatField rowDirX, rowDirY, rowDirZ;
  FloatField colDirX, colDirY, colDirZ;
  IntField nRows;
  IntField nCols;
  FloatField foVRows;
  FloatField foVCols;
  FloatField blockSliceThickness;  // "SliceThickness:" inside the block
  FloatField gapThickness;

  IntField nrOfPastSpatialTransformations;
  TextField leftRightConvention;
  TextField firstDataSourceFile;

  // The shared keys in writing order, pointing into this record, with
  // `ownKey` (the one key in which FMR and DMR headers differ at this point:
  // "NrOfLinkedProtocols:" or "DisplayVolume:") after "SegmentOffset:".
  HeaderKeys sharedKeys(const HeaderKey& ownKey);
};

}  // namespace daxo

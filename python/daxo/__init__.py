"""DAXO for Python: the distortion of echo-planar scans from a pair of opposite
phase-encoding directions, estimated and corrected by the same code as the
``daxo`` program.

Volumes are indexed [i, j, k] (and [i, j, k, t] for series), as nibabel hands
them out. Phase-encoding directions are written as in BIDS: "i", "i-", "j",
"j-". Maps are displacements in voxels along the phase-encoding axis of the
scan they belong to; fields are in Hz.

Progress goes to the logger "daxo" at INFO, each entry prefixed with the
seconds since the call began, as the program's log has them. Bad input raises
ValueError, unreadable files OSError, with the program's messages.
"""

import logging
import os
from dataclasses import dataclass, field as dataclass_field
from typing import Optional, Tuple

import numpy as np

from . import _daxo

__all__ = ["EstimateResult", "estimate", "apply", "logger"]

logger = logging.getLogger("daxo")


def _log(entry, seconds):
    # The program's time stamp; an entry that begins with a line feed sets a
    # phase apart, and the blank line goes before the stamp.
    body = entry.lstrip("\n")
    logger.info("%s[%7.1f s] %s", "\n" * (len(entry) - len(body)), seconds, body)


@dataclass
class EstimateResult:
    """What estimate returns.

    vdm: the first scan's displacement map, voxels along its phase-encoding
    axis, float32 [i, j, k]. field: the field in Hz (vdm x polarity /
    readout), None without a readout time. agreement_before, agreement_after:
    the pair's correlation inside the head before and after the correction.
    check_passed, check_problem, check_summary: the phase-encoding check's
    verdict (check_problem is "" when it passed). motion: the second scan's
    rigid motion relative to the first, ((turns about i, j, k in degrees),
    (shifts along i, j, k in mm)), or None when none was found or estimated.
    affine: the first image's affine when it came from nibabel or a file.
    """

    vdm: np.ndarray
    field: Optional[np.ndarray]
    readout: Optional[float]
    pe: str
    agreement_before: float
    agreement_after: float
    check_passed: bool
    check_problem: str
    check_summary: str
    motion: Optional[Tuple[Tuple[float, float, float], Tuple[float, float, float]]]
    affine: Optional[np.ndarray] = dataclass_field(default=None, repr=False)


def _polarity(pe):
    return -1.0 if pe.endswith("-") else 1.0


def _is_path(x):
    return isinstance(x, (str, os.PathLike))


def _volume(img, name, voxel_size):
    """The volume (first volume of a 4-D image), its voxel size and affine."""
    affine = None
    if hasattr(img, "dataobj") and hasattr(img, "header"):  # a nibabel image
        # Scaled in double and rounded to float32, as the program reads NIfTI.
        data = np.asarray(img.get_fdata(dtype=np.float64))
        zooms = tuple(float(z) for z in img.header.get_zooms()[:3])
        affine = np.asarray(img.affine)
        if voxel_size is None:
            voxel_size = zooms
    else:
        data = np.asarray(img)
        if voxel_size is None:
            voxel_size = (1.0, 1.0, 1.0)
    if data.ndim == 4:
        data = data[..., 0]
    if data.ndim != 3:
        raise ValueError(f"{name} must be a 3-D volume or a 4-D series, not {data.ndim}-D")
    if not (np.issubdtype(data.dtype, np.number) and not np.issubdtype(data.dtype, np.complexfloating)):
        raise ValueError(f"{name} must hold real numbers, not {data.dtype}")
    voxel_size = tuple(float(v) for v in voxel_size)
    if len(voxel_size) != 3:
        raise ValueError(f"the voxel size of {name} needs three values (mm along i, j, k)")
    return data, voxel_size, affine


def _result(raw, pe, readout, affine):
    vdm = raw["map"]
    if readout is None:
        readout = raw.get("readout")
    field = None
    if readout is not None:
        # In double, rounded once, as the program writes the field.
        field = (vdm.astype(np.float64) * (_polarity(pe) / float(readout))).astype(np.float32)
    return EstimateResult(
        vdm=vdm, field=field, readout=readout, pe=pe,
        agreement_before=raw["agreement_before"], agreement_after=raw["agreement_after"],
        check_passed=raw["check_passed"], check_problem=raw["check_problem"],
        check_summary=raw["check_summary"],
        motion=None if raw["motion"] is None else tuple(tuple(v) for v in raw["motion"]), affine=affine)


def estimate(img0, img1, pe0="j", pe1="j-", readout=None, method="variational", threads=None,
             voxel_size=None, motion=True):
    """Estimates the map of img0 from the pair img0, img1 (opposite phase encoding).

    img0, img1: numpy arrays [i, j, k] (any real dtype and memory layout;
    voxel_size in mm, default 1 mm), nibabel images (their voxel sizes; a 4-D
    image gives its first volume), or paths of NIfTI files, which are read as
    `daxo estimate` reads them (sidecars, b=0 volumes; pe0/pe1 None take the
    sidecars'). readout: the total readout time in seconds, for the field in
    Hz. threads: None lets DAXO_THREADS or the cores decide; the map does not
    depend on it. motion: also estimate the rigid motion between the scans
    (variational method).
    """
    threads = 0 if threads is None else int(threads)
    if _is_path(img0) and _is_path(img1):
        path0, path1 = os.fspath(img0), os.fspath(img1)
        raw = _daxo.estimate_files(path0, path1, pe0 or "", pe1 or "", readout, method, threads, motion, _log)
        import nibabel

        affine = np.asarray(nibabel.load(path0).affine)
        return _result(raw, raw["pe0"], readout, affine)
    if pe0 is None or pe1 is None:
        raise ValueError("pe0 and pe1 are needed for images given in memory")
    data0, size0, affine = _volume(img0, "img0", voxel_size)
    data1, size1, _ = _volume(img1, "img1", voxel_size)
    raw = _daxo.estimate_arrays(data0, data1, size0, size1, pe0, pe1, method, threads, motion, _log)
    return _result(raw, pe0, readout, affine)


def apply(series, vdm=None, pe="j", readout=None, jacobian=False, field=None, vdm_pe=None, threads=None):
    """The series corrected with a map, on the map's grid.

    series: a 3-D volume or a 4-D series [i, j, k, t] (numpy array or nibabel
    image), phase-encoded along pe. vdm: a displacement map in voxels of a
    scan phase-encoded along vdm_pe (default pe; the opposite direction
    negates it), e.g. EstimateResult.vdm with vdm_pe=result.pe; or field: the
    field in Hz, which needs readout (seconds). jacobian: multiply by the
    Jacobian of the correction, keeping each column's signal. Returns float32
    of the series' shape (a nibabel image in: a nibabel image out).
    """
    if (vdm is None) == (field is None):
        raise ValueError("give either vdm (voxels) or field (Hz)")
    image = series if hasattr(series, "dataobj") else None
    data = np.asarray(image.get_fdata(dtype=np.float64)) if image is not None else np.asarray(series)
    if field is not None:
        if readout is None:
            raise ValueError("a field in Hz needs the readout time (readout, seconds)")
        if hasattr(field, "dataobj"):
            field = field.get_fdata(dtype=np.float64)
        vdm = np.asarray(field, dtype=np.float64) * (_polarity(pe) * float(readout))
    else:
        if hasattr(vdm, "dataobj"):
            vdm = vdm.get_fdata(dtype=np.float64)
        vdm = np.asarray(vdm)
        if vdm_pe is not None and vdm_pe != pe:
            if vdm_pe.rstrip("-") != pe.rstrip("-"):
                raise ValueError(f"the map belongs to phase encoding along {vdm_pe}, the series along {pe}: "
                                 "they must share the axis")
            vdm = -np.asarray(vdm, dtype=np.float32)
    out = _daxo.apply_map(data, vdm, pe, bool(jacobian), 0 if threads is None else int(threads))
    if image is not None:
        import nibabel

        result = nibabel.Nifti1Image(out, image.affine, image.header)
        result.set_data_dtype(np.float32)
        return result
    return out

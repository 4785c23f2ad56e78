"""Nipype interfaces of DAXO: Estimate (a pair of NIfTI scans of opposite
phase encoding -> the displacement map, the field in Hz and, with apply, both
scans corrected) and Apply (series corrected with a map). Both run in the
node's process through the module, and write what ``daxo estimate`` and
``daxo apply`` write, with the same names, into the node's folder.

    from nipype import Node, Workflow
    from daxo.interfaces import Estimate, Apply
    est = Node(Estimate(in_file="dir-AP.nii.gz", in_reverse="dir-PA.nii.gz"), name="estimate")
    app = Node(Apply(in_file="bold.nii.gz"), name="apply")
    wf = Workflow(name="sdc")
    wf.connect([(est, app, [("out_vdm", "in_vdm"), ("pe", "vdm_pe"), ("readout_time", "vdm_readout_time")])])

The map's direction and readout time travel as outputs too: Nipype removes
files no output names from a node's folder (remove_unnecessary_outputs), the
map's sidecar among them.
"""

import json
import os

from nipype.interfaces.base import (BaseInterfaceInputSpec, File, InputMultiObject, OutputMultiObject,
                                    SimpleInterface, TraitedSpec, isdefined, traits)

from . import _daxo, _log

_PE = traits.Enum("i", "i-", "j", "j-", "k", "k-")


def _opt(value, default=None):
    return value if isdefined(value) else default


class EstimateInputSpec(BaseInterfaceInputSpec):
    in_file = File(exists=True, mandatory=True, desc="the reference scan (its map is written, on its grid)")
    in_reverse = File(exists=True, mandatory=True, desc="the scan of opposite phase encoding")
    pe0 = _PE(desc="phase-encoding direction of in_file (default: its BIDS sidecar's)")
    pe1 = _PE(desc="phase-encoding direction of in_reverse (default: its BIDS sidecar's)")
    readout_time = traits.Float(desc="total readout time, s (default: the sidecars')")
    method = traits.Enum("variational", "classic", usedefault=True, desc="the estimator")
    motion = traits.Bool(True, usedefault=True, desc="estimate the rigid motion between the scans")
    apply = traits.Bool(False, usedefault=True, desc="also write both scans corrected")
    force = traits.Bool(False, usedefault=True, desc="write the map when the phase-encoding check fails")
    num_threads = traits.Int(0, usedefault=True, desc="threads (0: DAXO_THREADS or the cores)")


class EstimateOutputSpec(TraitedSpec):
    out_vdm = File(exists=True, desc="displacement map of in_file, voxels along its phase encoding (sidecar beside)")
    out_field = File(desc="the field in Hz (when the readout time is known)")
    out_corrected = OutputMultiObject(File(exists=True), desc="in_file and in_reverse corrected (with apply)")
    pe = traits.Str(desc="phase-encoding direction of in_file, which the map belongs to")
    readout_time = traits.Float(desc="total readout time of in_file, s (when known)")


class Estimate(SimpleInterface):
    """The displacement map of a reverse phase-encoded pair (``daxo estimate``)."""

    input_spec = EstimateInputSpec
    output_spec = EstimateOutputSpec

    def _run_interface(self, runtime):
        i = self.inputs
        out_dir = runtime.cwd
        _daxo.estimate_nifti(i.in_file, i.in_reverse, _opt(i.pe0, ""), _opt(i.pe1, ""), _opt(i.readout_time),
                             i.method, i.num_threads, i.motion, out_dir, i.apply, i.force, _log)
        vdm = _daxo.output_path(i.in_file, _daxo.MAP_SUFFIX, out_dir)
        self._results["out_vdm"] = vdm
        with open(_daxo.sidecar_path(vdm)) as f:
            sidecar = json.load(f)
        self._results["pe"] = sidecar["PhaseEncodingDirection"]
        if "TotalReadoutTime" in sidecar:
            self._results["readout_time"] = sidecar["TotalReadoutTime"]
        field = _daxo.output_path(i.in_file, _daxo.FIELD_SUFFIX, out_dir)
        if os.path.exists(field):
            self._results["out_field"] = field
        if i.apply:
            self._results["out_corrected"] = [_daxo.output_path(p, _daxo.CORRECTED_SUFFIX, out_dir)
                                              for p in (i.in_file, i.in_reverse)]
        return runtime


class ApplyInputSpec(BaseInterfaceInputSpec):
    in_file = InputMultiObject(File(exists=True), mandatory=True, desc="series to correct (3-D or 4-D NIfTI)")
    in_vdm = File(exists=True, xor=["in_field"], mandatory=True,
                  desc="displacement map in voxels with its sidecar (Estimate's out_vdm)")
    in_field = File(exists=True, xor=["in_vdm"], mandatory=True, desc="the field in Hz")
    vdm_pe = traits.Str(desc="phase-encoding direction the map belongs to, when its sidecar is gone (Estimate's pe)")
    vdm_readout_time = traits.Float(desc="readout time of the map's scan, s, when its sidecar is gone")
    pe = _PE(desc="phase-encoding direction of the series (default: their sidecars')")
    readout_time = traits.Float(desc="total readout time of the series, s (default: their sidecars')")
    jacobian = traits.Bool(False, usedefault=True, desc="multiply by the Jacobian of the correction")


class ApplyOutputSpec(TraitedSpec):
    out_corrected = OutputMultiObject(File(exists=True), desc="the series corrected, in order")


class Apply(SimpleInterface):
    """Series corrected with a map or field (``daxo apply``)."""

    input_spec = ApplyInputSpec
    output_spec = ApplyOutputSpec

    def _run_interface(self, runtime):
        i = self.inputs
        out_dir = runtime.cwd
        hz = isdefined(i.in_field)
        series = [os.fspath(p) for p in i.in_file]
        map_path = i.in_field if hz else i.in_vdm
        if not hz and not os.path.exists(_daxo.sidecar_path(map_path)) and isdefined(i.vdm_pe):
            # The map beside a sidecar of its direction (and readout time), in the node's folder.
            map_path = os.path.join(out_dir, os.path.basename(i.in_vdm))
            if not os.path.exists(map_path):
                os.symlink(os.path.abspath(i.in_vdm), map_path)
            sidecar = {"Units": "voxels", "PhaseEncodingDirection": i.vdm_pe}
            if isdefined(i.vdm_readout_time):
                sidecar["TotalReadoutTime"] = i.vdm_readout_time
            with open(_daxo.sidecar_path(map_path), "w") as f:
                json.dump(sidecar, f)
        _daxo.apply_nifti(map_path, hz, series, _opt(i.pe, ""), _opt(i.readout_time), out_dir,
                          i.jacobian, _log)
        self._results["out_corrected"] = [_daxo.output_path(p, _daxo.CORRECTED_SUFFIX, out_dir) for p in series]
        return runtime

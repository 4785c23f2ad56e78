"""The Python module against the daxo program: the same maps bit for bit, for
every input layout, from several threads at once, and the same messages for
bad input. Run by ctest (python_tests) with PYTHONPATH at BUILD/python and
DAXO_PROGRAM naming the program."""

import json
import logging
import os
import subprocess
import sys
import threading

import nibabel as nib
import numpy as np
import pytest

import daxo

PROGRAM = os.environ.get("DAXO_PROGRAM", "daxo")
SHARED = os.environ.get("DAXO_SHARED_DATA_DIR") or os.path.join(os.environ.get("DAXO_SOURCE_DIR", "."), "..",
                                                                    "shared", "data")
REAL = os.path.join(SHARED, "bids", "sub-xa30", "dwi")
REAL_AP = os.path.join(REAL, "sub-xa30_dir-AP_dwi.nii.gz")
REAL_PA = os.path.join(REAL, "sub-xa30_dir-PA_dwi.nii.gz")
VOXEL = (2.0, 2.5, 3.0)
READOUT = 0.05


def head(shape, seed):
    """A smooth ellipsoid head with a few inner structures, integer valued."""
    rng = np.random.default_rng(seed)
    i, j, k = np.meshgrid(*[np.linspace(-1, 1, n) for n in shape], indexing="ij")
    h = 800.0 * (i**2 / 0.6 + j**2 / 0.7 + k**2 / 0.9 < 1)
    for _ in range(6):
        c = rng.uniform(-0.4, 0.4, 3)
        h += 400.0 * np.exp(-((i - c[0])**2 + (j - c[1])**2 + (k - c[2])**2) / 0.02)
    return h


def distorted(h, shift, sign):
    """h displaced along j by sign * shift voxels (intensity kept per column)."""
    out = np.empty_like(h)
    y = np.arange(h.shape[1], dtype=float)
    for a in range(h.shape[0]):
        for c in range(h.shape[2]):
            d = sign * shift[a, :, c]
            out[a, :, c] = np.interp(y - d, y, h[a, :, c]) * (1 - sign * np.gradient(shift[a, :, c]))
    return np.round(out)


def make_pair(shape=(36, 44, 14), seed=1):
    h = head(shape, seed)
    i, j, k = np.meshgrid(*[np.linspace(-1, 1, n) for n in shape], indexing="ij")
    shift = 2.5 * np.exp(-((i - 0.1)**2 + (j + 0.3)**2 + k**2) / 0.3)
    return distorted(h, shift, 1).astype(np.float32), distorted(h, shift, -1).astype(np.float32)


@pytest.fixture(scope="module")
def pair():
    return make_pair()


def save(path, data, pe, readout=READOUT):
    affine = np.diag(VOXEL + (1.0,))
    nib.save(nib.Nifti1Image(data, affine), path)
    with open(path.replace(".nii.gz", ".json"), "w") as f:
        json.dump({"PhaseEncodingDirection": pe, "TotalReadoutTime": readout}, f)
    return path


@pytest.fixture(scope="module")
def pair_files(pair, tmp_path_factory):
    d = tmp_path_factory.mktemp("pair")
    return save(str(d / "ap.nii.gz"), pair[0], "j"), save(str(d / "pa.nii.gz"), pair[1], "j-")


@pytest.fixture(scope="module")
def reference(pair):
    return daxo.estimate(pair[0], pair[1], voxel_size=VOXEL)


def command_line_map(first, second, out_dir, *options):
    subprocess.run([PROGRAM, "estimate", first, second, "--out", str(out_dir), *options], check=True,
                   stdout=subprocess.DEVNULL)
    stem = os.path.basename(first).replace(".nii.gz", "")
    return np.asarray(nib.load(os.path.join(out_dir, stem + "_vdm.nii.gz")).dataobj)


def test_map_equals_command_line(pair_files, reference, tmp_path, caplog):
    cli = command_line_map(*pair_files, tmp_path)
    assert cli.dtype == np.float32
    np.testing.assert_array_equal(reference.vdm, cli)
    with caplog.at_level(logging.INFO, logger="daxo"):
        from_files = daxo.estimate(*pair_files, pe0=None, pe1=None)
    np.testing.assert_array_equal(from_files.vdm, cli)
    # The field as the program writes it, from the sidecar's readout time.
    field = np.asarray(nib.load(str(tmp_path / "ap_fieldmap.nii.gz")).dataobj)
    np.testing.assert_array_equal(from_files.field, field)
    assert from_files.pe == "j" and from_files.readout == READOUT
    # The log: the levels with their time stamps, then the check's figures.
    messages = [r.getMessage() for r in caplog.records if r.name == "daxo"]
    assert any("Level 1 of" in m and m.startswith("[") and " s] " in m for m in messages)
    assert any("Phase-encoding check: passed" in m for m in messages)
    assert reference.check_passed and reference.check_problem == ""
    assert 0 < reference.agreement_before < reference.agreement_after <= 1
    assert reference.field is None and reference.motion is None


@pytest.mark.skipif(not os.path.exists(REAL_AP), reason="the real pair (shared/data/bids/sub-xa30) is absent")
def test_real_pair_equals_command_line(tmp_path):
    cli = command_line_map(REAL_AP, REAL_PA, tmp_path)
    # Both scans hold one b=0 volume, their first: the nibabel images give it.
    from_images = daxo.estimate(nib.load(REAL_AP), nib.load(REAL_PA))
    np.testing.assert_array_equal(from_images.vdm, cli)
    sidecar = json.load(open(tmp_path / "sub-xa30_dir-AP_dwi_vdm.json"))
    if from_images.motion is None:
        assert "MotionOfSecondScan" not in sidecar
    else:
        np.testing.assert_allclose(from_images.motion[0], sidecar["MotionOfSecondScan"]["RotationDegrees"])
        np.testing.assert_allclose(from_images.motion[1], sidecar["MotionOfSecondScan"]["TranslationMm"])


LAYOUTS = {
    "fortran": lambda a: np.asfortranarray(a),
    "float64": lambda a: a.astype(np.float64),
    "int16": lambda a: a.astype(np.int16),
    "view": lambda a: np.stack([a, a * 0], axis=1)[:, 0],  # every other column of a larger buffer
    "reversed-copy-view": lambda a: np.ascontiguousarray(a[::-1])[::-1],
}


@pytest.mark.parametrize("layout", sorted(LAYOUTS))
def test_input_layouts_give_the_same_map(pair, reference, layout):
    a0, a1 = (LAYOUTS[layout](a) for a in pair)
    np.testing.assert_array_equal(a0, pair[0])  # the same values, another layout or type
    assert layout == "fortran" or not a0.flags.c_contiguous or a0.dtype != np.float32
    got = daxo.estimate(a0, a1, voxel_size=VOXEL)
    np.testing.assert_array_equal(got.vdm, reference.vdm)


def test_phase_encoding_along_i_is_the_same_pair_transposed(pair, reference):
    a0, a1 = (a.transpose(1, 0, 2) for a in pair)
    got = daxo.estimate(a0, a1, pe0="i", pe1="i-", voxel_size=(VOXEL[1], VOXEL[0], VOXEL[2]))
    np.testing.assert_array_equal(got.vdm, reference.vdm.transpose(1, 0, 2))
    corrected = daxo.apply(a0, got.vdm, pe="i")
    np.testing.assert_array_equal(corrected, daxo.apply(pair[0], reference.vdm, pe="j").transpose(1, 0, 2))


def test_two_threads_at_once_give_the_maps_of_one_after_the_other(pair):
    other = make_pair(seed=2)
    pairs = [pair, other]
    alone = [daxo.estimate(p[0], p[1], voxel_size=VOXEL, threads=1).vdm for p in pairs]
    together = [None, None]

    def run(n):
        together[n] = daxo.estimate(pairs[n][0], pairs[n][1], voxel_size=VOXEL, threads=1).vdm

    workers = [threading.Thread(target=run, args=(n,)) for n in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for n in range(2):
        np.testing.assert_array_equal(together[n], alone[n])


def _bad_cases(pair):
    a0, a1 = pair
    nan = np.full_like(a0, np.nan)
    return [
        ("2-D", lambda: daxo.estimate(a0[:, :, 0], a1[:, :, 0]), ValueError, "img0 must be a 3-D volume"),
        ("grids", lambda: daxo.estimate(a0, a1[:, :-1]), ValueError,
         "img0 has 36 x 44 x 14 voxels but img1 has 36 x 43 x 14: the pair must share its grid"),
        ("nan", lambda: daxo.estimate(nan, a1), ValueError, "img0 holds no finite value other than 0"),
        ("pe", lambda: daxo.estimate(a0, a1, pe0="y"), ValueError, "pe0 needs one of i, i-, j, j-, k, k-, not 'y'"),
        ("same pe", lambda: daxo.estimate(a0, a1, pe1="j"), ValueError,
         "The phase encoding of img0 (j) and img1 (j) must run along one axis in opposite directions"),
        ("slice axis", lambda: daxo.estimate(a0, a1, pe0="k", pe1="k-"), ValueError, "runs along k, the slice axis"),
        ("method", lambda: daxo.estimate(a0, a1, method="fast"), ValueError, "method needs variational or classic"),
        ("voxel", lambda: daxo.estimate(a0, a1, voxel_size=(1, 0, 1)), ValueError,
         "the voxel size of img0 must be positive and finite"),
        ("complex", lambda: daxo.estimate(a0 + 0j, a1), ValueError, "img0 must hold real numbers"),
        ("apply grid", lambda: daxo.apply(a0, a0[:-1]), ValueError, "they must share the grid"),
        ("apply field", lambda: daxo.apply(a0, field=a0), ValueError, "needs the readout time"),
        ("file", lambda: daxo.estimate("/nonexistent/a.nii.gz", "/nonexistent/b.nii.gz"), OSError,
         "/nonexistent/a.nii.gz"),
    ]


def test_bad_inputs_raise_with_the_message_and_keep_no_reference(pair):
    a0, a1 = pair
    before = (sys.getrefcount(a0), sys.getrefcount(a1))
    for name, call, error, message in _bad_cases(pair):
        with pytest.raises(error) as raised:
            call()
        assert message in str(raised.value), name
        del raised
    assert (sys.getrefcount(a0), sys.getrefcount(a1)) == before


def test_apply_equals_command_line_for_3d_and_4d(pair, pair_files, reference, tmp_path):
    series = np.stack([pair[0], pair[0] * 0.5, pair[0][::-1]], axis=3)
    path = save(str(tmp_path / "bold.nii.gz"), series, "j")
    for jacobian in (False, True):
        out = tmp_path / ("jac" if jacobian else "plain")
        out.mkdir()
        vdm = os.path.join(os.path.dirname(pair_files[0]), "cli_vdm")
        if not os.path.exists(os.path.join(vdm, "ap_vdm.nii.gz")):
            os.makedirs(vdm, exist_ok=True)
            command_line_map(*pair_files, vdm)
        subprocess.run([PROGRAM, "apply", "--vdm", os.path.join(vdm, "ap_vdm.nii.gz"), path, "--out", str(out)]
                       + (["--jacobian"] if jacobian else []), check=True, stdout=subprocess.DEVNULL)
        cli = np.asarray(nib.load(str(out / "bold_undist.nii.gz")).dataobj)
        got = daxo.apply(series, reference.vdm, pe="j", jacobian=jacobian)
        np.testing.assert_array_equal(got, cli)
        one = daxo.apply(series[..., 2], reference.vdm, pe="j", jacobian=jacobian)
        np.testing.assert_array_equal(one, cli[..., 2])
    # The second scan takes the first's map negated; a field in Hz the same.
    minus = daxo.apply(pair[1], reference.vdm, pe="j-", vdm_pe="j")
    np.testing.assert_array_equal(minus, daxo.apply(pair[1], -reference.vdm, pe="j-"))
    field = reference.vdm.astype(np.float64) / READOUT
    by_field = daxo.apply(pair[0], field=field, pe="j", readout=READOUT)
    np.testing.assert_allclose(by_field, daxo.apply(pair[0], reference.vdm, pe="j"), atol=1e-3)


def test_nipype_workflow_estimates_and_applies(pair_files, tmp_path):
    from nipype import Node, Workflow
    from nipype.utils.filemanip import ensure_list

    from daxo.interfaces import Apply, Estimate

    estimate = Node(Estimate(in_file=pair_files[0], in_reverse=pair_files[1]), name="estimate")
    apply = Node(Apply(in_file=[pair_files[1]], jacobian=True), name="apply")
    wf = Workflow(name="sdc", base_dir=str(tmp_path))
    wf.config["execution"]["crashdump_dir"] = str(tmp_path)
    wf.connect([(estimate, apply, [("out_vdm", "in_vdm"), ("pe", "vdm_pe"), ("readout_time", "vdm_readout_time")])])
    graph = wf.run()
    results = {n.name: n.result for n in graph.nodes()}
    vdm = results["estimate"].outputs.out_vdm
    assert os.path.basename(vdm) == "ap_vdm.nii.gz"
    assert results["estimate"].outputs.pe == "j" and results["estimate"].outputs.readout_time == READOUT
    corrected = ensure_list(results["apply"].outputs.out_corrected)  # one file comes out as itself
    assert [os.path.basename(p) for p in corrected] == ["pa_undist.nii.gz"]
    # The reverse scan (j-) corrected with the first's map negated, from the map's sidecar.
    expected = daxo.apply(nib.load(pair_files[1]).get_fdata(), np.asarray(nib.load(vdm).dataobj), pe="j-",
                          vdm_pe="j", jacobian=True)
    np.testing.assert_array_equal(np.asarray(nib.load(corrected[0]).dataobj), expected)

#!/usr/bin/env python3
"""What calling DAXO from Python costs over the daxo program, on one pair.

    PYTHONPATH=build/python python3 bench/python_overhead.py [--daxo build/daxo] [--runs 15]
        [--threads 1] [--size full|small] [--field standard|strong] [AP.nii.gz PA.nii.gz]

Default pair: the demo's (`daxo demo`, 96 x 96 x 48 voxels of 2.5 mm; --size
and --field as the demo's options), the first volume of each direction as
`daxo demo` writes it into func_ap.fmr and func_pa.fmr, generated through the
module (daxo._daxo.demo_pair) and saved as float32 NIfTI files with BIDS
sidecars (PhaseEncodingDirection j and j-, no readout time) in a temporary
folder. Or any NIfTI pair with its sidecars.

Six variants, all with the same thread count (DAXO_THREADS, set from
--threads, default 1):
  program      `daxo estimate AP PA --out TMP`, the whole process (it also
               writes the map)
  python       `python3 -c "import daxo; daxo.estimate(AP, PA)"`, the whole
               process (interpreter, numpy and nibabel imports included)
  imports      `python3 -c "import daxo, nibabel"`, the fixed cost the
               python variant adds (no estimation)
  in-process   daxo.estimate(AP, PA) in this process (files read by DAXO)
  job          daxo._daxo.estimate_nifti in this process, the program's job
               (what daxo.interfaces.Estimate runs): the same outputs written
  nibabel      daxo.estimate(img0, img1) on nibabel images loaded beforehand
After one untimed round, --runs rounds run the six in turn, each round in
another order, so that a change of the machine's load falls on all of them.
Each run gives its wall time and its CPU time: user + system of the child
(resource.getrusage(RUSAGE_CHILDREN) deltas) for the three child processes,
time.process_time() deltas for the calls in this process. On a shared
machine CPU time moves far less with the other processes' load than wall
time, but it still moves (by up to a third on 2 shared cores, through the
contended cores and caches): hence the interleaving and the minima.

Printed: min and median of each, each variant's excess over the program in
per cent (min against min, median against median; none for imports), and
the median python run less the median imports run: the cost of the first
call in a fresh process, which the in-process calls (after the untimed round,
in a process whose heap and caches are warm) do not show. Before the timing
the in-process map is checked to equal the program's bit for bit; the script
exits with status 1 when it does not.
"""

import argparse
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_child(args):
    """Wall and CPU seconds of one child process."""
    cpu, wall = children_cpu(), time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - wall, children_cpu() - cpu


def run_here(f):
    """Wall and CPU seconds of f() in this process (all its threads)."""
    cpu, wall = time.process_time(), time.perf_counter()
    f()
    return time.perf_counter() - wall, time.process_time() - cpu


def write_demo_pair(folder, size, field):
    import nibabel
    import numpy as np
    import daxo

    demo = daxo._daxo.demo_pair(size, field)
    affine = np.diag([demo["voxel_mm"]] * 3 + [1.0])
    paths = []
    for name, pe in (("first", "j"), ("second", "j-")):
        path = os.path.join(folder, f"demo_{name}.nii.gz")
        nibabel.save(nibabel.Nifti1Image(demo[name], affine), path)
        with open(path.replace(".nii.gz", ".json"), "w") as f:
            json.dump({"PhaseEncodingDirection": pe}, f)
        paths.append(path)
    return paths


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    except OSError:
        pass
    return f"{platform.node()}, {os.cpu_count()} cores, {model}, load {os.getloadavg()[0]:.2f}"


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--daxo", default=os.path.join(HERE, "..", "build", "daxo"))
    p.add_argument("--runs", type=int, default=15)
    p.add_argument("--threads", default="1", help="DAXO_THREADS for every variant (default 1)")
    p.add_argument("--size", default="full", choices=("full", "small"))
    p.add_argument("--field", default="standard", choices=("standard", "strong"))
    p.add_argument("pair", nargs="*", help="AP.nii.gz PA.nii.gz instead of the demo pair")
    a = p.parse_args()
    if a.pair and len(a.pair) != 2:
        p.error("give two images or none")
    os.environ["DAXO_THREADS"] = str(a.threads)
    import nibabel
    import numpy as np
    import daxo

    with tempfile.TemporaryDirectory() as tmp:
        if a.pair:
            first, second = a.pair
            label = f"{first} and {second}"
        else:
            first, second = write_demo_pair(tmp, a.size, a.field)
            label = f"the demo pair (--size {a.size} --field {a.field}, volume 0 of each direction)"
        out = os.path.join(tmp, "out")
        job_out = os.path.join(tmp, "job")
        os.mkdir(out)
        os.mkdir(job_out)
        program_args = [a.daxo, "--quiet", "estimate", first, second, "--out", out]
        code = f"import daxo; daxo.estimate({first!r}, {second!r}, pe0=None, pe1=None)"
        img0, img1 = nibabel.load(first), nibabel.load(second)
        pe0, pe1 = (json.load(open(daxo._daxo.sidecar_path(f)))["PhaseEncodingDirection"] for f in (first, second))

        variants = {
            "program": lambda: run_child(program_args),
            "python": lambda: run_child([sys.executable, "-c", code]),
            "imports": lambda: run_child([sys.executable, "-c", "import daxo, nibabel"]),
            "in-process": lambda: run_here(lambda: daxo.estimate(first, second, pe0=None, pe1=None)),
            "job": lambda: run_here(lambda: daxo._daxo.estimate_nifti(first, second, "", "", None, "variational", 0,
                                                                       True, job_out, False, False, None)),
            "nibabel": lambda: run_here(lambda: daxo.estimate(img0, img1, pe0=pe0, pe1=pe1)),
        }
        names = list(variants)

        # The untimed round, which also checks that the module's map is the program's.
        for name in names:
            variants[name]()
        stem = os.path.basename(first).replace(".nii.gz", "").replace(".nii", "")
        program_map = np.asarray(nibabel.load(os.path.join(out, stem + "_vdm.nii.gz")).dataobj)
        module_map = daxo.estimate(first, second, pe0=None, pe1=None).vdm
        identical = program_map.dtype == module_map.dtype and np.array_equal(program_map, module_map)

        wall = {name: [] for name in names}
        cpu = {name: [] for name in names}
        for r in range(a.runs):
            order = names[r % len(names):] + names[:r % len(names)]
            if (r // len(names)) % 2:
                order.reverse()
            for name in order:
                w, c = variants[name]()
                wall[name].append(w)
                cpu[name].append(c)

    print(f"pair: {label}")
    print(f"machine: {machine()}")
    print(f"DAXO_THREADS={os.environ['DAXO_THREADS']}, {a.runs} interleaved runs each; "
          f"map of the module {'identical to' if identical else 'DIFFERENT from'} the program's")
    print(f"  {'':<11} {'CPU min':>8} {'median':>8}  {'wall min':>8} {'median':>8}   (seconds; excess over program)")
    base = {key: (min(series["program"]), statistics.median(series["program"]))
            for key, series in (("cpu", cpu), ("wall", wall))}
    for name in names:
        cells = []
        for key, series in (("cpu", cpu[name]), ("wall", wall[name])):
            lo, mid = min(series), statistics.median(series)
            if name in ("program", "imports"):
                cells.append(f"{lo:8.3f} {mid:8.3f}        ")
            else:
                b_lo, b_mid = base[key]
                cells.append(f"{lo:8.3f} {mid:8.3f} ({100 * (lo - b_lo) / b_lo:+5.1f} / {100 * (mid - b_mid) / b_mid:+5.1f} %)")
        print(f"  {name:<11} {cells[0]}  {cells[1]}")
    # The python variant less its interpreter and imports: the first call in a fresh process, which
    # the warm in-process calls (their heap and caches set up by the runs before) are not.
    for key, series in (("CPU", cpu), ("wall", wall)):
        first_call = statistics.median(series["python"]) - statistics.median(series["imports"])
        b_mid = statistics.median(series["program"])
        print(f"  first call in a fresh process ({key}, median python - median imports): {first_call:.3f} s "
              f"({100 * (first_call - b_mid) / b_mid:+.1f} %)")
    if not identical:
        sys.exit(1)


if __name__ == "__main__":
    main()

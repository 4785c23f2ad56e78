#!/usr/bin/env python3
"""What calling DAXO from Python costs over the daxo program, on one pair.

    PYTHONPATH=build/python python3 bench/python_overhead.py [--daxo build/daxo] [--runs 3] [AP.nii.gz PA.nii.gz]

Default pair: ../shared/data/bids/sub-xa30/dwi (dir-AP, dir-PA). Times, the
median of --runs runs each, with the same thread count (DAXO_THREADS, default
2) for all:
  program      `daxo estimate AP PA --out TMP`, the whole process
  python       `python3 -c "import daxo; daxo.estimate(AP, PA)"`, the whole
               process (interpreter, numpy and nibabel imports included)
  in-process   daxo.estimate(AP, PA) in this process (files read by DAXO)
  nibabel      daxo.estimate(img0, img1) on nibabel images loaded beforehand
and each one's excess over the program in per cent.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PAIR = os.path.join(HERE, "..", "..", "shared", "data", "bids", "sub-xa30", "dwi")


def timed(f, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--daxo", default=os.path.join(HERE, "..", "build", "daxo"))
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("pair", nargs="*", default=[os.path.join(PAIR, "sub-xa30_dir-AP_dwi.nii.gz"),
                                               os.path.join(PAIR, "sub-xa30_dir-PA_dwi.nii.gz")])
    a = p.parse_args()
    os.environ.setdefault("DAXO_THREADS", "2")
    first, second = a.pair
    import nibabel
    import daxo

    with tempfile.TemporaryDirectory() as out:
        program = timed(lambda: subprocess.run([a.daxo, "estimate", first, second, "--out", out], check=True,
                                               stdout=subprocess.DEVNULL), a.runs)
    code = f"import daxo; daxo.estimate({first!r}, {second!r}, pe0=None, pe1=None)"
    python = timed(lambda: subprocess.run([sys.executable, "-c", code], check=True), a.runs)
    in_process = timed(lambda: daxo.estimate(first, second, pe0=None, pe1=None), a.runs)
    img0, img1 = nibabel.load(first), nibabel.load(second)
    pe0, pe1 = (json.load(open(daxo._daxo.sidecar_path(f)))["PhaseEncodingDirection"] for f in (first, second))
    images = timed(lambda: daxo.estimate(img0, img1, pe0=pe0, pe1=pe1), a.runs)

    print(f"pair: {first} and {second}, DAXO_THREADS={os.environ['DAXO_THREADS']}, median of {a.runs}")
    print(f"  {'program':<11} {program:7.2f} s")
    for name, t in (("python", python), ("in-process", in_process), ("nibabel", images)):
        print(f"  {name:<11} {t:7.2f} s  {100.0 * (t - program) / program:+6.1f} %")


if __name__ == "__main__":
    main()

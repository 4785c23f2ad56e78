#!/bin/sh
# Wall-clock times of a two-subject BIDS dataset made from the real xa30 pair
# (72 x 72 x 39, 21 volumes per run; both subjects hold the same scans):
#   single  the single-file command per subject: daxo estimate --apply --report
#   bids    daxo bids, one subject after the other (--jobs 1)
#   jobs2   daxo bids --jobs 2
#   snake   the Snakemake workflow, --cores 2 (when snakemake is installed)
# Each is run REPEAT times (default 3) into a fresh folder; the median is shown.
# Usage: bench/bids_timing.sh [BUILD_DIR] [REPEAT]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
repeat="${2:-3}"
daxo="$build/daxo"
source="$root/../shared/data/bids/sub-xa30/dwi"
[ -d "$source" ] || { echo "no real data at $source" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo '{"Name": "xa30 twice", "BIDSVersion": "1.8.0"}' > "$work/dataset_description.json"
mkdir -p "$work/ds"
cp "$work/dataset_description.json" "$work/ds/"
for s in 01 02; do
  mkdir -p "$work/ds/sub-$s/dwi"
  for f in "$source"/*; do
    name="$(basename "$f" | sed "s/sub-xa30/sub-$s/")"
    cp "$f" "$work/ds/sub-$s/dwi/$name"
  done
done

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_single() {
  for s in 01 02; do
    d="$work/ds/sub-$s/dwi"
    mkdir -p "$1/$s"
    "$daxo" --quiet estimate "$d/sub-${s}_dir-AP_dwi.nii.gz" "$d/sub-${s}_dir-PA_dwi.nii.gz" --apply \
      --out "$1/$s" --report "$1/$s/report.html"
  done
}
run_bids() { "$daxo" --quiet bids "$work/ds" "$1" participant; }
run_jobs2() { "$daxo" --quiet bids "$work/ds" "$1" participant --jobs 2; }
run_snake() {
  snakemake --quiet --cores 2 --snakefile "$root/workflow/Snakefile" --directory "$1" \
    --config bids_dir="$work/ds" output_dir="$1/out" daxo="$daxo" > "$1.log" 2>&1
}

modes="single bids jobs2"
command -v snakemake > /dev/null 2>&1 && modes="$modes snake"
for mode in $modes; do
  times=""
  i=0
  while [ "$i" -lt "$repeat" ]; do
    out="$work/out-$mode-$i"
    mkdir -p "$out"
    start="$(now)"
    "run_$mode" "$out"
    end="$(now)"
    times="$times $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')"
    rm -rf "$out"
    i=$((i + 1))
  done
  printf '%-7s median %6.2f s  (runs:%s)\n' "$mode" "$(echo "$times" | tr ' ' '\n' | grep . | median)" "$times"
done

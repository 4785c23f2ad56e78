#!/bin/sh
# Tests DAXO.dll (run by `make windows-test`):
# 1. its export table holds exactly the names in its DAXO.def (written from
#    protocol/pluginexports.h into the build's plugin/ folder), and it
#    imports nothing but Windows' own KERNEL32.dll and msvcrt.dll;
# 2. the Windows test host Tesmarin.exe, under wine, drives it through
#    Microsoft's binary interface and runs the dialog's tasks on small
#    projects; its Linux twin runs the same tasks with DAXO.so on copies of
#    the same inputs; every file written, and the transcript of what each host
#    saw, must be identical byte for byte.
# Usage: scripts/windows-test.sh [LINUX_BUILD] [WINDOWS_BUILD]
set -eu
cd "$(dirname "$0")/.."
linux_build=$(cd "${1:-build}" && pwd -P)
windows_build=$(cd "${2:-build-windows}" && pwd -P)
dll="$windows_build/DAXO.dll"

# 1. Export and import tables.
def="$windows_build/plugin/DAXO.def"
expected=$(sed -n '/^EXPORTS/,$p' "$def" | sed '1d; /^ *;/d; /^ *$/d' | awk '{print $1}' | sort)
tables=$(x86_64-w64-mingw32-objdump -p "$dll")
exported=$(printf '%s\n' "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk '/^[ \t]*\[ *[0-9]+\]/ {print $NF}' | sort)
if [ "$exported" != "$expected" ]; then
  echo "windows-test: the export table of $dll differs from $def:" >&2
  printf '%s\n' "$expected" >"$windows_build/exports.expected"
  printf '%s\n' "$exported" >"$windows_build/exports.actual"
  diff "$windows_build/exports.expected" "$windows_build/exports.actual" >&2 || true
  exit 1
fi
imported=$(printf '%s\n' "$tables" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' ')
if [ "$imported" != "KERNEL32.dll msvcrt.dll " ]; then
  echo "windows-test: $dll needs more than Windows' own libraries: $imported" >&2
  exit 1
fi
echo "windows-test: export table exact ($(printf '%s\n' "$exported" | wc -l) names), imports: $imported"

# 2. The same run on both platforms.
work="$windows_build/crosscheck"
rm -rf "$work"
mkdir -p "$work/inputs"
"$linux_build/tesmarin-linux" inputs "$work/inputs"
cp -r "$work/inputs" "$work/linux"
cp -r "$work/inputs" "$work/windows"
"$linux_build/tesmarin-linux" run "$linux_build/DAXO.so" "$work/linux"

# A prefix of its own in the build folder; no debug output, no offer to
# install Mono or Gecko.
export WINEPREFIX="$windows_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows paths: drive letter and backslashes. The workstation's program may
# also be named TesmarinHV.exe, which the plugin looks for when there is no
# Tesmarin.exe: the same host runs under that name too.
cp "$windows_build/Tesmarin.exe" "$windows_build/TesmarinHV.exe"
cp -r "$work/inputs" "$work/windows-hv"
wine "$windows_build/Tesmarin.exe" "$(winepath -w "$dll")" "$(winepath -w "$work/windows")"
wine "$windows_build/TesmarinHV.exe" "$(winepath -w "$dll")" "$(winepath -w "$work/windows-hv")"

# Every file of the Linux run and of a Windows run, byte for byte.
compare() {
  status=0
  for path in "$work/linux"/* "$work/$1"/*; do
    name=$(basename "$path")
    if ! cmp -s "$work/linux/$name" "$work/$1/$name"; then
      echo "windows-test: $name differs between the Linux run and the run in $1" >&2
      status=1
    fi
  done
  if [ "$status" -ne 0 ]; then
    diff "$work/linux/transcript.txt" "$work/$1/transcript.txt" >&2 || true
    exit 1
  fi
}
compare windows
compare windows-hv
echo "windows-test: the Linux run and both Windows runs wrote the same $(ls "$work/linux" | wc -l) files, bit for bit"

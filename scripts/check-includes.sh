#!/bin/sh
# Fails when a source file includes a header of a folder that lies further
# down the README's layout table (or on the same row) than its own: the table
# lists the folders from the bottom of the dependencies up, and each builds
# only on those above it. A subfolder counts as its top folder
# (fileio/nifti/ as fileio/); includes of folders the table does not list
# (the generated daxo/version.h) are not checked.
#   scripts/check-includes.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"

# "folder level" per folder of the table's first column, level = row number.
levels=$(sed -n '/^## Layout$/,/^## /p' README.md | awk -F'|' '
  /^\| `/ {
    row++
    cell = $2
    while (match(cell, /`[^`]*\/`/)) {
      name = substr(cell, RSTART + 1, RLENGTH - 3)
      print name, row
      cell = substr(cell, RSTART + RLENGTH)
    }
  }')
if [ -z "$levels" ]; then
  echo "check-includes: no layout table in README.md" >&2
  exit 1
fi

folders=$(printf '%s\n' "$levels" | awk '{print $1}')
# shellcheck disable=SC2086
files=$(for f in $folders; do [ -d "$f" ] && find "$f" -name '*.h' -o -name '*.cpp' | grep "^$f/"; done | sort)
[ -n "$files" ] || { echo "check-includes: no source files" >&2; exit 1; }

# shellcheck disable=SC2086
printf '%s\n' $files | xargs grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]*/' /dev/null |
  awk -v levels="$levels" '
    BEGIN {
      n = split(levels, lines, "\n")
      for (i = 1; i <= n; i++) { split(lines[i], f, " "); level[f[1]] = f[2] }
    }
    {
      file = $0; sub(/:.*/, "", file)
      own = file; sub(/\/.*/, "", own)
      included = $0; sub(/^[^"]*"/, "", included); sub(/\/.*/, "", included)
      if (!(included in level) || included == own) next
      if (level[included] >= level[own]) {
        where = $0; sub(/:[[:space:]]*#.*/, "", where)
        printf "%s: %s/ includes %s/, which is not above it in the README'"'"'s layout table\n", where, own, included
        bad++
      }
    }
    END { if (bad) { printf "check-includes: %d include(s) against the layout\n", bad; exit 1 } }'
echo "check-includes: every include follows the README's layout table"

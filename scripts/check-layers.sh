#!/usr/bin/env bash
# Checks that the folders depend one way. From the bottom up:
#   Include/ < orientation/ < detector/ < recording/ < programs (app/, tools/, python/)
# A file may include headers from its own folder and from folders below it,
# never from one above; app/ (Drovik) and tools/ never include each other.
# tests/, bench/, fuzz/ and examples/ stand outside the layers.
# Exit status 0 when every quoted #include obeys this, 1 otherwise.
#
# Usage: scripts/check-layers.sh [repository folder, default: this one]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The project's files in the layered folders (tracked ones in a git checkout).
project_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files Include orientation detector recording app tools python
  else
    find Include orientation detector recording app tools python -type f 2>/dev/null | sort
  fi
}

layer_of() {
  case $1 in
    Include) echo 0 ;;
    orientation) echo 1 ;;
    detector) echo 2 ;;
    recording) echo 3 ;;
    app | tools | python) echo 4 ;;
    *) echo "" ;;
  esac
}

# Where each header lives (its top folder), by the name files include it by.
declare -A home
while IFS= read -r header; do
  home[$(basename "$header")]=${header%%/*}
done < <(project_files | grep -E '\.h$|^Include/[A-Za-z]+$')

violations=0
checked=0
while IFS= read -r file; do
  folder=${file%%/*}
  own=$(layer_of "$folder")
  while IFS= read -r included; do
    target=${home[$included]:-}
    [ -n "$target" ] || continue  # a system or third-party header
    checked=$((checked + 1))
    theirs=$(layer_of "$target")
    if [ "$theirs" -gt "$own" ] ||
      { [ "$folder" = app ] && [ "$target" != app ] && [ "$theirs" -eq 4 ]; } ||
      { [ "$folder" != app ] && [ "$target" = app ]; }; then
      echo "$file includes \"$included\" from $target/, which is not below $folder/" >&2
      violations=$((violations + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
    xargs -r -n1 basename)
done < <(project_files | grep -E '\.(h|cpp)$|^Include/[A-Za-z]+$')

if [ "$violations" -ne 0 ]; then
  echo "check-layers: $violations include(s) against the one-way order" >&2
  exit 1
fi
echo "check-layers: $checked project includes, all one way"

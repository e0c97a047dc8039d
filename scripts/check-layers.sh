#!/usr/bin/env bash
# Checks that the folders depend one way. Every folder that holds source
# files has a rank; a file may include headers from its own folder and from
# folders of a lower rank, never from one of the same or a higher rank:
#   0 Include/       linear algebra, the quaternion
#   1 orientation/   the attitude filter
#   2 detector/      the fall detector
#   3 recording/     recordings, info and settings files, the replay loop
#   4 conversion/    foreign recordings
#   5 evaluation/    judging recordings, summaries
#   6 live/          the detector on a live stream (sources, sessions, hooks)
#   7 tuning/        the tuner's engine
#   8 figures/       plots, the trade-off figure, the HTML report
#   9 cli/           command-line helpers
#  10 the programs: app/ (Drovik), tools/velmora-*/ (one tool each),
#     python/ (the module), embedded/
# Among the programs: each includes only its own headers and the floors
# below; python/ and embedded/ never include cli/ (they link libraries only).
# tests/, bench/, fuzz/ and examples/ stand outside the layers. A new folder
# with source files must be ranked here (or named as outside): the check
# fails on a folder it does not know.
# Exit status 0 when every quoted #include obeys this, 1 otherwise.
#
# Usage: scripts/check-layers.sh [repository folder, default: this one]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

readonly programs_rank=10

rank_of() {
  case $1 in
    Include) echo 0 ;;
    orientation) echo 1 ;;
    detector) echo 2 ;;
    recording) echo 3 ;;
    conversion) echo 4 ;;
    evaluation) echo 5 ;;
    live) echo 6 ;;
    tuning) echo 7 ;;
    figures) echo 8 ;;
    cli) echo 9 ;;
    app | tools | python | embedded) echo "$programs_rank" ;;
    *) echo "" ;;
  esac
}

# Folders outside the layers: they may use anything, nothing uses them.
outside() {
  case $1 in
    tests | bench | fuzz | examples) return 0 ;;
    *) return 1 ;;
  esac
}

# Every source file of the project (tracked ones in a git checkout).
all_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files
  else
    find . -type f -not -path './.git/*' -not -path './build*' | sed 's|^\./||' | sort
  fi
}
is_source() { [[ $1 =~ \.(h|hpp|c|cc|cpp)$ || $1 =~ ^Include/[A-Za-z]+$ ]]; }

# The unit a file belongs to: its top folder; for tools/, the tool's folder.
unit_of() {
  case $1 in
    tools/*/*) local rest=${1#tools/} && echo "tools/${rest%%/*}" ;;
    *) echo "${1%%/*}" ;;
  esac
}

violations=0
files=()
declare -A home
while IFS= read -r file; do
  is_source "$file" || continue
  [[ $file == */* ]] || continue  # top-level files are not in any folder
  folder=${file%%/*}
  outside "$folder" && continue
  if [ -z "$(rank_of "$folder")" ]; then
    echo "$file: folder $folder/ has no rank in scripts/check-layers.sh" >&2
    violations=$((violations + 1))
    continue
  fi
  files+=("$file")
  # Where each header lives, by the name files include it by.
  if [[ $file =~ \.(h|hpp)$ || $file =~ ^Include/[A-Za-z]+$ ]]; then
    name=$(basename "$file")
    if [ -n "${home[$name]:-}" ] && [ "${home[$name]}" != "$(unit_of "$file")" ]; then
      echo "$file: header name $name is also used in ${home[$name]}/" >&2
      violations=$((violations + 1))
    fi
    home[$name]=$(unit_of "$file")
  fi
done < <(all_files)

checked=0
for file in "${files[@]}"; do
  unit=$(unit_of "$file")
  own=$(rank_of "${file%%/*}")
  while IFS= read -r included; do
    target=${home[$included]:-}
    [ -n "$target" ] || continue  # a system or third-party header
    checked=$((checked + 1))
    [ "$target" = "$unit" ] && continue
    theirs=$(rank_of "${target%%/*}")
    problem=""
    if [ "$theirs" -ge "$own" ]; then
      problem="which is not below $unit/"
    elif [ "$target" = cli ] && [ "$own" -eq "$programs_rank" ] &&
      { [ "$unit" = python ] || [ "$unit" = embedded ]; }; then
      problem="and $unit/ links libraries only, never the command-line helpers"
    fi
    if [ -n "$problem" ]; then
      echo "$file includes \"$included\" from $target/, $problem" >&2
      violations=$((violations + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
    xargs -r -n1 basename)
done

if [ "$violations" -ne 0 ]; then
  echo "check-layers: $violations problem(s) against the one-way order" >&2
  exit 1
fi
echo "check-layers: $checked project includes in ${#files[@]} files, all one way"

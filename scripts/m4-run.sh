#!/usr/bin/env bash
# Runs a program built for the Cortex-M4 under QEMU (the MPS2 AN386 board),
# with semihosting for its files, console and exit status.
#
# Usage: scripts/m4-run.sh PROGRAM [ARGS...]
#   PROGRAM  Drovik, trace, footprint, minimal or firmware-example
#            (the programs of embedded/, described in docs/embedded.md)
#   ARGS     the program's arguments; paths are host paths, relative ones
#            taken from the current folder, as for the host's programs
#
#   scripts/m4-run.sh Drovik DATA [INFO]   prints what the host's Drovik prints
#   scripts/m4-run.sh trace DATA           prints what `velmora-trace DATA` prints
#
# The program's standard output and error are this script's, and so is its
# exit status. The target build (preset m4, folder build-m4/) is configured
# and brought up to date first, unless M4_RUN_NO_BUILD=1 says it already is
# (for callers that run many cases after building once).
#
# Environment: M4_BUILD_DIR (default: <repository>/build-m4), QEMU (default:
# qemu-system-arm), M4_QEMU_ARGS (extra emulator options, e.g. for tracing).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${M4_BUILD_DIR:-$repo/build-m4}
qemu=${QEMU:-qemu-system-arm}

usage() { sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }
if [ $# -ge 1 ] && { [ "$1" = -h ] || [ "$1" = --help ]; }; then
  usage
  exit 0
fi
if [ $# -lt 1 ]; then
  usage >&2
  exit 2
fi
program=$1
shift

if [ "${M4_RUN_NO_BUILD:-0}" != 1 ]; then
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    (cd "$repo" && cmake --preset m4 -B "$build_dir" >/dev/null)
  fi
  cmake --build "$build_dir" -j2 >/dev/null
fi
elf=$build_dir/bin/$program.elf
if [ ! -f "$elf" ]; then
  echo "m4-run: no target program '$program' ($elf)" >&2
  exit 2
fi
if ! command -v "$qemu" >/dev/null; then
  echo "m4-run: $qemu not found (Debian package qemu-system-arm)" >&2
  exit 2
fi

# The emulator hands the target one line of words separated by spaces, and
# its option parser treats commas specially. So every word is written as
# '@' followed by the argument with each byte outside [A-Za-z0-9._/+-]
# as %XX; the target's start-up code (embedded/Semihosting.cpp) undoes it.
encode() {
  local LC_ALL=C text=$1 out=@ i c
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    case $c in
      [A-Za-z0-9._/+-]) out+=$c ;;
      *) printf -v c '%%%02X' "'$c"; out+=$c ;;
    esac
  done
  printf '%s' "$out"
}

config="enable=on,target=native,arg=$(encode "$program")"
for argument in "$@"; do
  config+=",arg=$(encode "$argument")"
done

# The board's network chip is always there, and the emulator warns when it
# has no peer. Its peer here is a UDP socket on the loopback interface; the
# programs never touch the chip, so nothing goes through it.
# ${M4_QEMU_ARGS} is split into words on purpose.
# shellcheck disable=SC2086
exec "$qemu" -M mps2-an386 -nodefaults -nic socket,udp=127.0.0.1:9,localaddr=127.0.0.1:0 \
  -display none -monitor none \
  -serial none \
  ${M4_QEMU_ARGS:-} -semihosting-config "$config" -kernel "$elf"

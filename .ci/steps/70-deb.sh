#!/usr/bin/env bash
# The Debian package route: builds velmora_<version>_<arch>.deb, installs it
# with apt-get, builds the example consumer against the installed files with
# CMake and with pkg-config, runs a program, opens a manual page and imports
# the Python module from the installed files; the package is removed again
# however the checks end.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -rf build-deb
bash scripts/make-deb.sh build-deb
deb=$(ls "$PWD"/build-deb/velmora_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,/Description:/p'
echo "package: $(basename "$deb"), $(du -h "$deb" | cut -f1), installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"

work=$(mktemp -d)
remove() {
  apt-get purge -y -qq velmora >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap remove EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb"

cmake -S examples/consumer -B "$work/consumer"
cmake --build "$work/consumer" -j2
"$work/consumer/velmora-consumer"
# shellcheck disable=SC2046  # the flags are meant to split into words
c++ -std=c++20 examples/consumer/main.cpp $(pkg-config --cflags --libs velmora) -o "$work/consumer-pc"
"$work/consumer-pc"

cd "$work"
/usr/bin/velmora-eval --version
for program in Drovik velmora-eval velmora-tune velmora-trace velmora-plot velmora-import velmora-synth; do
  man -w "$program" >/dev/null || { echo "no manual page for $program" >&2; exit 1; }
done
MANWIDTH=80 man velmora-eval 2>/dev/null | head -5
env -u PYTHONPATH /usr/bin/python3 -c 'import velmora; print(velmora.__file__, velmora.version(), velmora.profile("fa1"))'
ls /usr/share/velmora/profiles
/usr/bin/velmora-eval --profile fa1 --print-settings | grep -q '^turnRunMin=26$' ||
  { echo "velmora-eval --profile fa1 did not take the installed profile" >&2; exit 1; }

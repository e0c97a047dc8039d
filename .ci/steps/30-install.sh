#!/usr/bin/env bash
# Installs the library twice, static (from the CI build) and shared (a build
# of the library alone with -DBUILD_SHARED_LIBS=ON), into temporary prefixes,
# and builds the example consumer against each installed tree, once through
# find_package(Velmora) and once through pkg-config, running it every time.
# Also checks that only the public headers are installed and that the
# shared library's SONAME carries the major version.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

major=$(sed -n 's/^project(Velmora VERSION \([0-9]*\)\..*/\1/p' CMakeLists.txt)
expected_headers="AttitudeState.h Velmora.h VelmoraCodes.h VelmoraObservation.h VelmoraSettings.h"

consume() {  # $1: install prefix, $2: label
  local prefix=$1 label=$2
  local headers
  headers=$(cd "$prefix/include/velmora" && LC_ALL=C ls | tr '\n' ' ' | sed 's/ $//')
  if [ "$headers" != "$expected_headers" ]; then
    echo "$label: installed headers are '$headers', expected '$expected_headers'" >&2
    exit 1
  fi
  local libdir
  libdir=$(dirname "$(find "$prefix" -name 'libvelmora.*' -print -quit)")
  export LD_LIBRARY_PATH="$libdir"

  # find_package: only the installed tree is visible to the consumer.
  cmake -S examples/consumer -B "$work/$label-consumer" -DCMAKE_PREFIX_PATH="$prefix"
  cmake --build "$work/$label-consumer" -j2
  "$work/$label-consumer/velmora-consumer"

  # pkg-config: the .pc file sits in <libdir>/pkgconfig, wherever libdir is.
  local pc_file
  pc_file=$(find "$prefix" -name velmora.pc -print -quit)
  if [ -z "$pc_file" ]; then
    echo "$label: velmora.pc was not installed" >&2
    exit 1
  fi
  PKG_CONFIG_PATH="$(dirname "$pc_file")"
  export PKG_CONFIG_PATH
  echo "$label: pkg-config velmora $(pkg-config --modversion velmora): $(pkg-config --cflags --libs velmora)"
  # shellcheck disable=SC2046  # the flags are meant to split into words
  c++ -std=c++20 examples/consumer/main.cpp $(pkg-config --cflags --libs velmora) \
    -o "$work/$label-consumer-pc"
  "$work/$label-consumer-pc"
  unset LD_LIBRARY_PATH PKG_CONFIG_PATH
}

# Static: the CI build as it is.
cmake --install build --prefix "$work/static"
consume "$work/static" static

# Shared: the library alone.
cmake -S . -B "$work/shared-build" -DBUILD_SHARED_LIBS=ON -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_BUILD_PYTHON=OFF
cmake --build "$work/shared-build" -j2 --target velmora
cmake --install "$work/shared-build" --component library --prefix "$work/shared"
library=$(find "$work/shared" -name 'libvelmora.so.*.*' -print -quit)
soname=$(objdump -p "$library" | awk '/SONAME/ {print $2}')
if [ "$soname" != "libvelmora.so.$major" ]; then
  echo "shared: SONAME is '$soname', expected libvelmora.so.$major" >&2
  exit 1
fi
echo "shared: $(basename "$library"), SONAME $soname"
consume "$work/shared" shared

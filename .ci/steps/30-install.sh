#!/usr/bin/env bash
# Installs the CI build into a temporary prefix and builds the example
# consumer against the installed tree, once through find_package(Velmora)
# and once through pkg-config, running the program each time.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install build --prefix "$prefix"

# find_package: only the installed tree is visible to the consumer.
cmake -S examples/consumer -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/consumer-build" -j2
"$work/consumer-build/velmora-consumer"

# pkg-config: the .pc file sits in <libdir>/pkgconfig, wherever libdir is.
pc_file=$(find "$prefix" -name velmora.pc -print -quit)
if [ -z "$pc_file" ]; then
  echo "velmora.pc was not installed" >&2
  exit 1
fi
export PKG_CONFIG_PATH
PKG_CONFIG_PATH="$(dirname "$pc_file")"
echo "pkg-config velmora $(pkg-config --modversion velmora): $(pkg-config --cflags --libs velmora)"
# shellcheck disable=SC2046  # the flags are meant to split into words
c++ -std=c++20 examples/consumer/main.cpp $(pkg-config --cflags --libs velmora) \
  -o "$work/velmora-consumer-pc"
"$work/velmora-consumer-pc"

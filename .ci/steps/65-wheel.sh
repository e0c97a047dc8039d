#!/usr/bin/env bash
# The pip route: builds a wheel from the checkout with Debian's python3 and
# no network (python3 -m build --no-isolation), installs it into a fresh
# virtual environment that sees Debian's numpy and pytest, and runs the
# Python tests against the installed module, not the build tree.
set -euo pipefail
cd "$(dirname "$0")/../.."
source=$(pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf build-python dist
/usr/bin/python3 -m build --no-isolation --wheel --outdir "$work/dist" .
wheel=$(ls "$work"/dist/velmora-*.whl)
echo "wheel: $(basename "$wheel"), $(du -h "$wheel" | cut -f1)"

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-index --no-deps "$wheel"
cd "$work"
"$work/venv/bin/python" - <<'PY'
import sys, velmora
assert velmora.__file__.startswith(sys.prefix), velmora.__file__
print("installed module:", velmora.__file__, velmora.version())
profile = velmora.profile("fa1")
assert profile.startswith(sys.prefix), profile
print("profile fa1:", profile)
PY
env -u PYTHONPATH VELMORA_BIN_DIR="$source/build/bin" VELMORA_SOURCE_DIR="$source" \
  VELMORA_SHARED_DIR="$source/../shared" PYTHONDONTWRITEBYTECODE=1 \
  "$work/venv/bin/python" -m pytest -q -rs -p no:cacheprovider "$source/python/tests"

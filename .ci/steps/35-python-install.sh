#!/usr/bin/env bash
# Installs the CI build into a temporary prefix and imports the Python
# module from the installed site-packages folder, with the interpreter it
# was built for. Skipped when the build left the module out.
set -euo pipefail
cd "$(dirname "$0")/../.."

python=$(sed -n 's/^Python3_EXECUTABLE:FILEPATH=//p' build/CMakeCache.txt)
site=$(sed -n 's/^VELMORA_PYTHON_INSTALL_DIR:STRING=//p' build/CMakeCache.txt)
if [ ! -d build/python ] || [ -z "$python" ] || [ -z "$site" ]; then
  echo "python module not built: nothing to check"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install build --prefix "$work/prefix" >/dev/null
case "$site" in /*) ;; *) site="$work/prefix/$site" ;; esac
cd "$work"
PYTHONPATH="$site" "$python" -c 'import velmora; print(velmora.__file__, velmora.version())'

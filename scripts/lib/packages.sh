# shellcheck shell=bash
# Shared by scripts/run-example.sh and scripts/run-tests.sh: makes sure the
# Debian packages a step needs are installed, then returns.
#
# ensure_packages PKG...
#   Every package already installed: returns at once.
#   Some missing, running as root: apt-get update, then apt-get install them.
#   Some missing, not root: prints the one command that installs them and
#   exits with status 1, having changed nothing.

# Package names from the lists in .ci/packages/*.txt: one package per line
# (anything after the first word is ignored), '#' starts a comment.
read_package_lists() {
  local list pkg
  for list in "$@"; do
    [ -e "$list" ] || continue
    while read -r pkg _; do
      case "$pkg" in '' | '#'*) ;; *) printf '%s\n' "$pkg" ;; esac
    done <"$list"
  done
}

ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    echo "then run this script again." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configure options shared by both scripts: ccache when the machine has it.
configure_options() {
  if command -v ccache >/dev/null 2>&1; then
    printf '%s\n' -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  fi
}

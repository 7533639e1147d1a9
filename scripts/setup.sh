#!/usr/bin/env bash
# Installs what the build and the tests need, only when it is missing:
# Debian packages through apt-get and the Python environments in .venv
# (newest NumPy 2) and .venv-np1 (NumPy 1.26, the oldest C interface the
# module targets).  Safe to run again; it does nothing when all is present.
set -euo pipefail
cd "$(dirname "$0")/.."

DEB_PACKAGES=(g++ make cmake pkg-config binutils libcjson-dev libgtest-dev python3-dev python3-venv clang-14 libclang-rt-14-dev)

missing=()
for p in "${DEB_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing Debian packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

PYTHON="${PYTHON:-python3}"

# make_venv DIR REQUIREMENTS: (re)creates DIR when its requirements changed.
make_venv() {
  local dir="$1" req="$2" stamp="$1/.wfm-requirements"
  if [ -x "$dir/bin/python" ] && [ -f "$stamp" ] && cmp -s "$req" "$stamp"; then
    return 0
  fi
  echo "setup: preparing $dir from $req"
  [ -x "$dir/bin/python" ] || "$PYTHON" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --upgrade pip
  "$dir/bin/python" -m pip install -q -r "$req"
  cp "$req" "$stamp"
}

make_venv .venv scripts/requirements.txt
make_venv .venv-np1 scripts/requirements-np1.txt

#!/usr/bin/env bash
# Shared set-up of ./quillfen and ./test: install the Debian packages the build needs (only
# those missing), configure with the given CMake preset and build it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${1:-default}"

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-image-formats-plugins libqt6svg6 libxcb1-dev
  libzip-dev libpugixml-dev libxlsxwriter-dev libturbojpeg0-dev libjpeg62-turbo-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev
  fonts-liberation2 fonts-wine fonts-opensymbol
  xdg-utils
  python3-distributed
)
# Tools a caller needs besides the build's (scripts/package.sh: the packaging checks).
# shellcheck disable=SC2206 # a space-separated list of package names
packages+=(${QUILLFEN_EXTRA_PACKAGES:-})

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  # Another install may be running (a second build, the desktop's updater): wait for it.
  apt_options=(-o DPkg::Lock::Timeout=600)
  "${sudo_cmd[@]}" apt-get "${apt_options[@]}" update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${apt_options[@]}" install -y \
    --no-install-recommends "${missing[@]}"
fi

cd "$root"
# shellcheck disable=SC2086 # extra configure arguments, e.g. -DQUILLFEN_WERROR=ON in CI
cmake --preset "$preset" ${QUILLFEN_CMAKE_ARGS:-} >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"

#!/bin/bash
# Installs the Debian packages that building, running and testing the driver
# need, when some are missing. Run by the other scripts; extra package names
# given as arguments are installed as well (tests/vm/run.sh names its own).
set -euo pipefail

SKRIB_PACKAGES=(
  cmake make g++ pkg-config gettext
  libwxgtk3.2-dev libtinyxml-dev libx11-dev libxtst-dev libudev-dev
  libgtest-dev libbenchmark-dev xvfb fonts-dejavu-core umockdev libumockdev-dev
  iproute2 util-linux
)
SKRIB_PACKAGES+=("$@")

missing=()
for p in "${SKRIB_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}" >&2
    echo "install them as root: apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${missing[@]}" ||
    { apt-get update && apt-get install -y --no-install-recommends "${missing[@]}"; }
fi

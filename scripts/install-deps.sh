#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Quick when everything is there: apt is only called for what is missing.
#   install-deps.sh          what the Linux build and its tests need
#   install-deps.sh PKG...   only these (a test step's own tools)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth imagemagick fonts-wqy-zenhei
  ccache clang libfuzzer-14-dev libclang-rt-14-dev
  libsqlite3-dev libsystemd-dev
  mosquitto mosquitto-clients libmosquitto-dev nlohmann-json3-dev libcpp-httplib-dev libssl-dev
  qt6-translations-l10n
  lintian desktop-file-utils appstream pandoc weasyprint librsvg2-bin xdotool dpkg-dev fakeroot
  debhelper
  chromium chromium-driver python3-selenium
)
if [ $# -gt 0 ]; then
  packages=("$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"

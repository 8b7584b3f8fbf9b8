#!/usr/bin/env bash
# Installs the Debian 12 packages the converter needs to build, run and test.
# Quick and silent when everything is present; runs `apt-get update` at most once.
# Extra package names given as arguments are installed too (the fuzzing build
# asks for clang).
set -euo pipefail

packages=(
  build-essential cmake pkg-config make
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5
  libavcodec-dev libavformat-dev libavfilter-dev libavutil-dev
  libswscale-dev libswresample-dev libpostproc-dev libavdevice-dev
  libjsoncpp-dev libgtest-dev libcli11-dev nlohmann-json3-dev libseccomp-dev
  python3
  fonts-wqy-zenhei fonts-dejavu-core fonts-thai-tlwg fonts-noto-core
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null

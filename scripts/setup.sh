#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quillgate needs.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libwebsocketpp-dev libboost-dev libboost-system-dev
  libudev-dev
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm-14
  chromium
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

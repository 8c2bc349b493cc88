#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing.  Safe to run any number of times.  With
# --bench, also what scripts/bench.sh needs to draw its chart.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost1.81-dev libboost-json1.81-dev
  libicu-dev libtinyxml2-dev libspdlog-dev
  libcrypto++-dev libmsgsl-dev zlib1g-dev libssl-dev nlohmann-json3-dev libcurl4-openssl-dev libglib2.0-dev
  python3 python3-aiosmtpd libc-bin libxml2-utils openssl ca-certificates uuid-runtime
  clang clang-format libclang-rt-14-dev
  libdw-dev elfutils
  libfontconfig-dev libfreetype-dev fonts-liberation2 fontconfig
  python3-fonttools libharfbuzz-dev libpango1.0-dev
  libx11-dev libxrandr-dev libxres-dev
  libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev liblcms2-dev icoutils python3-pil libstb-dev
  xvfb x11-xserver-utils x11-utils xclip xsel xdotool openbox
  doxygen dpkg-dev file
)

if [ "${1:-}" = "--bench" ]; then
  packages+=(python3-matplotlib)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

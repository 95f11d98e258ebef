#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: packages already present are not fetched again; the package
# lists are refreshed only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential g++-12 cmake ninja-build pkg-config
  clang-14 libclang-rt-14-dev clang-format clang-tidy
  libcurl4-openssl-dev zlib1g-dev libminizip-dev libssl-dev
  libgtest-dev libgmock-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev fonts-noto-cjk fonts-dejavu-core
  xvfb xauth x11-apps libxtst-dev imagemagick
  nginx-light python3-pyftpdlib python3-aiosmtpd
  zip unzip curl procps time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with. Idempotent: does nothing
# when everything is there already.
set -euo pipefail
packages=(build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  libserialport-dev libusb-0.1-4
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev clang-format lld
  xvfb xauth poppler-utils
  nlohmann-json3-dev nettle-dev libsqlite3-dev sqlite3 lintian ser2net
  systemd)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

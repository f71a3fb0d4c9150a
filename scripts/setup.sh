#!/usr/bin/env bash
# Installs the Debian packages Tarnwick builds, tests and runs with, but only
# when one of them is missing, so a prepared machine starts at once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libzip-dev zlib1g-dev libsimpleini-dev
  libblkid-dev libudev-dev libsystemd-dev libmagic-dev
  ntfs-3g ntfs-3g-dev sleuthkit e2fsprogs attr dosfstools fusefat
  gdisk qemu-utils ewf-tools
  libewf-dev libvhdi-dev libvmdk-dev libqcow-dev libbfio-dev
  libvshadow-dev libvshadow-utils
  libcli11-dev
  xdg-utils
  clang libclang-rt-14-dev
  xvfb xauth
  scdoc librsvg2-bin
  desktop-file-utils appstream man-db bash-completion zsh file
  dpkg-dev fakeroot lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages that building and testing Mivex need, when any is missing; given
# package names, those instead (the Windows build's scripts name theirs).
set -euo pipefail

packages=("$@")
((${#packages[@]})) || packages=(cmake ninja-build g++ libgtest-dev util-linux coreutils rsync
    qt6-base-dev libqt6test6 fonts-liberation2 libgcab-dev pkg-config cabextract gcab acl libcap2-bin
    dosfstools fusefat python3-fusepy dbus-daemon qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    xvfb xauth dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Velmora
# need. Run as root; packages already present are left alone. libboost-dev
# (Beast and Asio, header only) is the HTTP engine of velmora-server;
# cpp-httplib serves and fetches pages in tests and benchmarks. libssl-dev is
# for HTTPS in velmora-server and the demo's certificate; the package test
# makes certificates with the openssl program. zlib1g-dev: the server's gzip
# documents and the control's inflating of them. libsystemd-dev lets
# velmora-server tell systemd that it is ready and alive (sd_notify).
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql
    qt6-tools-dev qt6-l10n-tools
    qt6-qpa-plugins libgl-dev
    libpugixml-dev libcpp-httplib-dev libboost-dev libssl-dev zlib1g-dev libsystemd-dev
    postgresql curl openssl
    dpkg-dev file
)
if [ "${VELMORA_WITH_FUZZ:-0}" = 1 ]; then
    packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

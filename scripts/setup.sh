#!/usr/bin/env bash
# Installs the Debian packages Qubrelo needs, when missing. Idempotent, never prompts.
# Usage: scripts/setup.sh [run|test]   (test adds the peers and tools the test suite uses)
set -euo pipefail

mode=${1:-run}
packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev libcurl4-openssl-dev libpcre2-dev nlohmann-json3-dev
    fonts-wqy-microhei ca-certificates
)
if [ "$mode" = test ]; then
    packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev
        clang libclang-rt-14-dev llvm
        tinyproxy nginx-light curl openssl libssl-dev
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Sets up, builds (release) and starts the tool's window.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake --preset release -DQUBRELO_BUILD_TESTS=OFF -DQUBRELO_BUILD_BENCH=OFF >/dev/null
cmake --build --preset release --target qubrelo
exec build/release/app/qubrelo "$@"

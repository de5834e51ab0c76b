#!/usr/bin/env bash
# Sets up, builds and runs every test: a warning-clean build with the whole suite, the whole
# suite again under ASan+UBSan, and the concurrency tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

step "warning-clean build (-Wall -Wextra -Werror), tests and benchmarks"
cmake --preset debug -DQUBRELO_WERROR=ON >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

step "whole suite under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

step "concurrency tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"

step "all tests passed"

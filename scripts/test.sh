#!/usr/bin/env bash
# Installs what is missing (what building, starting and testing need), checks
# that those lists hold everything the build and the tests use, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests
python3 scripts/check-deps.py
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIK_SANITIZE=ON -DTAVRIK_TESTS=ON
cmake --build build-asan
cd build-asan
ctest --output-on-failure --timeout 600 -j2 "$@"

#!/usr/bin/env bash
# The main job. For now: builds the project and runs the update module
# against an empty patch root, which reports the connection failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_TESTS=OFF -DVARN_BENCH=OFF >/dev/null
cmake --build build/demo -j "$(nproc)"
echo "demo: built; the patch run comes with the headless host"

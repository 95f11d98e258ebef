#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test in
# three builds (plain, address+undefined sanitizers, thread sanitizer), then
# runs each libFuzzer target briefly. Servers the tests use (nginx, the FTP
# and SMTP servers) are started by the tests themselves on loopback ports
# chosen at run time.
#   VARN_SKIP_SANITIZERS=1  plain build only (quick local runs)
#   VARN_FUZZ_SECONDS=N     time per fuzz target (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/setup-deps.sh

# Fast checks before any build: includes run down the layers, and every
# source is formatted.
bash scripts/check-layers.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: every source is formatted"

JOBS=$(nproc)
run_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DVARN_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}
run_tests() {  # dir
  (cd "$1" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

echo "== plain build"
run_build build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARN_BENCH=ON
run_tests build/plain

if [ "${VARN_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== address,undefined"
  run_build build/asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/asan

  echo "== thread"
  run_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread
  TSAN_OPTIONS=halt_on_error=1 run_tests build/tsan
fi

if [ -d tests/fuzz ] && ls tests/fuzz/*_fuzz.cpp >/dev/null 2>&1; then
  echo "== fuzz"
  cmake -S "$ROOT" -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DVARN_FUZZ=ON -DVARN_BENCH=OFF -DSANITIZE=address,undefined >/dev/null
  cmake --build build/fuzz -j "$JOBS" --target varn_fuzzers
  secs=${VARN_FUZZ_SECONDS:-15}
  for f in build/fuzz/bin/fuzz_*; do
    name=$(basename "$f")
    corpus="tests/fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "-- $name (${secs}s)"
    "$f" -max_total_time="$secs" -rss_limit_mb=2048 "$work" >"$work.log" 2>&1 || {
      tail -n 40 "$work.log"; echo "fuzz target $name failed"; exit 1; }
    rm -rf "$work" "$work.log"
  done
  echo "fuzz: all targets ran clean"
fi

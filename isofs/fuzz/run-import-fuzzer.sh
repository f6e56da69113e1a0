#!/usr/bin/env bash
# Builds the import fuzzer with clang and runs it for a bounded time (default 60 s) on a seed corpus of
# sessions made by this system's layout, genisoimage and xorriso. Exit status 0 when no input crashed,
# hung or ran out of memory. Usage: isofs/fuzz/run-import-fuzzer.sh [seconds] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build=${2:-build/fuzz-isofs}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DBRENWICK_BUILD_FUZZERS=ON -DBRENWICK_BUILD_TESTS=OFF \
  -DBRENWICK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target isofs_import_fuzzer -j 2

corpus="$build/isofs-import-corpus"
mkdir -p "$corpus"
if [ -z "$(ls -A "$corpus")" ]; then
  src=$(mktemp -d)
  trap 'rm -rf "$src"' EXIT
  mkdir -p "$src/d/e" && echo a >"$src/a.txt" && echo b >"$src/d/Long name b.txt" && : >"$src/d/e/empty"
  # Each seed is a session from sector 16 on (the fuzzer puts the zero system area in front).
  for maker in "genisoimage -quiet -J" "genisoimage -quiet -J -r" "xorriso -as mkisofs -quiet -J"; do
    name=$(echo "$maker" | tr -c 'a-z' '_')
    $maker -o "$src/s.iso" "$src" 2>/dev/null || continue
    tail -c +32769 "$src/s.iso" >"$corpus/$name"
  done
fi
"$build/isofs/fuzz/isofs_import_fuzzer" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=262144 -print_final_stats=1

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
  -DBRENWICK_BUILD_BENCHMARKS=OFF -DBRENWICK_WERROR="${BRENWICK_WERROR:-OFF}" >/dev/null
cmake --build "$build" --target isofs_import_fuzzer -j 2

corpus="$build/isofs-import-corpus"
mkdir -p "$corpus"
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
mkdir -p "$src/t/d/e" && echo a >"$src/t/a.txt" && echo b >"$src/t/d/Long name b.txt" && : >"$src/t/d/e/empty"
echo 1 >"$src/t/x_1.txt" && echo 2 >"$src/t/xa1.txt"
# Each seed is a session from sector 16 on (the fuzzer puts the zero system area in front). The sound
# sessions of the image writers seed an empty corpus; the damaged ones, which the import must refuse, are
# written every run, so that the corpus always holds them.
damage=app/workflow/testing/damage_session.py
for maker in "genisoimage -quiet -J" "genisoimage -quiet -J -r" "xorriso -as mkisofs -quiet -J"; do
  name=$(echo "$maker" | tr -c 'a-z' '_')
  $maker -o "$src/s.iso" "$src/t" 2>/dev/null || continue
  [ -e "$corpus/$name" ] || tail -c +32769 "$src/s.iso" >"$corpus/$name"
  for damaged in "name-past-record a.txt" "zero-name-length a.txt" "zero-sector d" "garbage-sector d" \
    "dot-extent d" "rename xa1.txt x\\1.txt"; do
    cp "$src/s.iso" "$src/damaged.iso"
    # shellcheck disable=SC2086 # the case and its names are separate words
    python3 "$damage" "$src/damaged.iso" 0 $damaged
    tail -c +32769 "$src/damaged.iso" >"$corpus/damaged_${name}_$(echo "$damaged" | tr -c 'a-z0-9' '_')"
  done
done
"$build/isofs/fuzz/isofs_import_fuzzer" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=262144 -print_final_stats=1

#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: short bounded fuzz runs of the parsers of untrusted
# input, the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (the windows on Qt's
# offscreen platform; the big-file backups and the real window program under Xvfb in a release build),
# the Debian package (built and linted; installed, used and removed in CI only), then the threaded tests
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)
# Every warning of the project's own code fails the build here (set BRENWICK_WERROR=OFF to look past one).
export BRENWICK_WERROR=${BRENWICK_WERROR:-ON}
werror=-DBRENWICK_WERROR=$BRENWICK_WERROR

# The parsers of a disc's previous session and of drive answers, fed arbitrary bytes (clang, libFuzzer).
isofs/fuzz/run-import-fuzzer.sh 30 build/fuzz
cmake --build build/fuzz --target drive_answers_fuzzer -j "$jobs"
build/fuzz/drive/fuzz/drive_answers_fuzzer -max_total_time=20 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1

cmake --preset asan "$werror" >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -LE big

# The release build of every target (its optimiser finds warnings the others do not), then the backups of
# files of 2 and 4 GiB (sparse sources, sparse disc images), too slow under the sanitizers.
cmake --preset release "$werror" >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -L big

# The real brenwick program on a real X server (Xvfb), from the release build.
ctest --preset release -L xvfb

# The Debian package from the release build: its contents and lintian. The install round trip (install,
# use, remove) runs only in CI, never on a developer's machine, where it would replace an installed copy.
scripts/package.sh build/release
if [ "${CI:-}" = "true" ]; then
    scripts/package-roundtrip.sh build/release/package/brenwick_*.deb build/release/tools/xwindow/xwindow
fi

# The threaded tests under ThreadSanitizer (an -O2 build, warnings as errors too).
cmake --preset tsan "$werror" >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -L threads

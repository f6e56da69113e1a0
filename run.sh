#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Brenwick and runs its main job.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/app/cli/brenwick-cli adapters

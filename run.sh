#!/usr/bin/env bash
# Installs what is missing, builds the Release programs (ulmar, ulmar-cli, ulmar-sim) and starts
# the window program against the built-in gauge simulator. Extra arguments go to the program
# (for example /full).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ulmar_install_deps
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMAR_BUILD_TESTS=OFF
cmake --build build/release --target ulmar ulmar-cli ulmar-sim
# Started from the build tree, the programs keep their settings, window positions, archive and
# request logs in build/release/run, whatever the working directory.
exec build/release/app/ulmar --simulator "$@"

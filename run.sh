#!/usr/bin/env bash
# Installs what is missing, builds the Release program and starts it against the built-in
# gauge simulator. Extra arguments go to the program (for example /full).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ulmar_install_deps
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMAR_BUILD_TESTS=OFF
cmake --build build/release --target ulmar
# The working directory keeps the settings, window positions and request logs of these runs.
mkdir -p build/run/INI
cd build/run
exec ../release/app/ulmar --simulator "$@"

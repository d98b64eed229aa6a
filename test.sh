#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test, then every test again under the Russian locale ru_RU.UTF-8; then builds only
# the threaded tests with ThreadSanitizer and runs them.
# ccache (installed with the other packages) keeps repeated builds short.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ulmar_install_deps
ulmar_ensure_russian_locale
jobs=$(nproc)
# Paths relative to the checkout in ccache's keys, and the build folder left out of them, so
# that a fresh clone in another folder reuses what an earlier run compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DULMAR_SANITIZE=address
cmake --build build/asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
(cd build/asan && ctest --output-on-failure -j "$jobs")
# Once more on a Russian desktop: decimal comma in the C library and in Qt's system locale.
(cd build/asan && LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8 ctest --output-on-failure -j "$jobs")

if [ -f tests/tsan.supp ]; then
    cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DULMAR_SANITIZE=thread
    # The targets of the tests labelled "thread" (a test is named after its program).
    mapfile -t threaded < <(cd build/tsan && ctest -N -L thread | sed -n 's/^ *Test *#[0-9]*: *//p')
    cmake --build build/tsan -j "$jobs" --target "${threaded[@]}"
    export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
    (cd build/tsan && ctest --output-on-failure -j "$jobs" -L thread)
fi

# The Debian package from a clean Release build, unpacked and run as an installed program
# (skipped when dpkg-deb is missing).
tests/package/check_package.sh

#!/usr/bin/env bash
# Builds the Debian package from a clean Release build in build/package and prints its path.
#   tools/package.sh            # the package: build/package/ulmar_<version>_<arch>.deb
#   tools/package.sh --lint     # and lintian on it, when lintian is installed: fails on errors
# The compiler and linker flags are Debian's own (dpkg-buildflags), with every hardening option.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
ulmar_install_deps dpkg-dev

lint=0
[ "${1:-}" = "--lint" ] && lint=1

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# Files the package holds get the modes Debian expects, whatever the caller's umask.
umask 022
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
rm -rf build/package
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMAR_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build build/package -j "$(nproc)"
(cd build/package && cpack -G DEB > cpack.log) || { cat build/package/cpack.log >&2; exit 1; }
deb=$(ls build/package/ulmar_*.deb)
echo "$deb"

if [ "$lint" = 1 ]; then
    if command -v lintian >/dev/null; then
        # Errors fail; warnings and information are listed.
        lintian --info --display-info --fail-on error "$deb"
    else
        echo "package.sh: lintian is not installed, the check is skipped" >&2
    fi
fi

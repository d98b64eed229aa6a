#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by run.sh and test.sh.
ULMAR_PACKAGES=(cmake g++ ninja-build ccache qt6-base-dev libqcustomplot-dev libqcustomplot2.1-qt6
    libqt6sql6-sqlite libsqlite3-dev qt6-serialport-dev qt6-translations-l10n)

ulmar_install_deps() {
    local missing=()
    local p
    for p in "${ULMAR_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
    fi
}

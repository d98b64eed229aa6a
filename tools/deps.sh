#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by run.sh and test.sh.
ULMAR_PACKAGES=(cmake g++ ninja-build ccache qt6-base-dev libqcustomplot-dev libqcustomplot2.1-qt6
    libqt6sql6-sqlite libsqlite3-dev qt6-translations-l10n locales libpq-dev postgresql
    poppler-utils)

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

# The technicians' own locale, ru_RU.UTF-8, made where it is missing: the tests run under it too.
ulmar_ensure_russian_locale() {
    if locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
        return 0
    fi
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    if [ -f /etc/locale.gen ]; then
        $sudo sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
        $sudo locale-gen
    else
        $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
    fi
    locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'
}

#!/usr/bin/env bash
# Starts the utility against its built-in gauge simulator on a virtual X display, once as
# usual and once in factory mode (/full), and saves screenshots of the whole screen and of the
# main, readings, parameters, link and command selection windows while the program polls the
# simulator (--poll starts polling as the operator would); then the port settings dialog.
#   tools/screenshots.sh [OUTPUT_DIR]     (default: build/screenshots)
# ULMAR_BIN=path uses that program instead of building build/release; SHOT_DELAY=seconds sets
# the wait before the pictures are taken (default 6); SHOT_LANG the locale (default ru_RU.UTF-8).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
delay=${SHOT_DELAY:-6}
lang=${SHOT_LANG:-ru_RU.UTF-8} # regional separators of the pictures

for tool in xvfb-run import xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (packages xvfb, imagemagick, x11-utils)" >&2; exit 1; }
done

bin=${ULMAR_BIN:-}
if [ -z "$bin" ]; then
    source tools/deps.sh
    ulmar_install_deps
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMAR_BUILD_TESTS=OFF >/dev/null
    cmake --build build/release --target ulmar
    bin=build/release/app/ulmar
fi
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")

# One run on its own display: $1 is the name prefix of the pictures, the rest goes to the program.
shoot() {
    local prefix=$1
    shift
    local work
    work=$(mktemp -d)
    mkdir -p "$work/INI"
    # Window positions side by side, so that no window hides another.
    cat >"$work/INI/WndPos.ini" <<'INI'
[FormMain]
Left=0
Top=0
Width=700
Height=60
[FormUlmar]
Left=0
Top=110
Width=373
Height=470
[FormUlmarPar]
Left=430
Top=110
[FormSelectCMD]
Left=1260
Top=110
[FormReqAns]
Left=1260
Top=520
INI
    SHOT_LANG=$lang SHOT_OUT=$out SHOT_PREFIX=$prefix SHOT_DELAY=$delay SHOT_WORK=$work \
        xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
        set -u
        cd "$SHOT_WORK"
        LANG=$SHOT_LANG "$0" --simulator --poll --work-dir "$SHOT_WORK" "$@" >"$SHOT_WORK/ulmar.log" 2>&1 &
        pid=$!
        sleep "$SHOT_DELAY"
        import -window root "$SHOT_OUT/$SHOT_PREFIX-screen.png"
        for pair in "main:УЛМАР" "readings:Показания УЛМАР" "parameters:Параметры УЛМАР" "link:Связь" "selection:Команды УЛМАР"; do
            name=${pair%%:*}
            title=${pair#*:}
            found=""
            for id in $(xwininfo -root -children | awk "/^ +0x/ {print \$1}"); do
                if xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -qF "= \"$title\""; then
                    import -window "$id" "$SHOT_OUT/$SHOT_PREFIX-$name.png"
                    found=1
                    break
                fi
            done
            [ -n "$found" ] || echo "$SHOT_PREFIX: no window \"$title\""
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    ' "$bin" "$@"
    rm -rf "$work"
}

shoot normal
shoot full /full

# The port settings dialog with an adapter in its list, taken by the window test over a fake
# by-id tree (no adapter needed) as port_dialog.png. PORT_DIALOG_TEST names the built test
# program (default: the AddressSanitizer build's console_main).
port_test=${PORT_DIALOG_TEST:-build/asan/tests/console/console_main}
if [ -x "$port_test" ]; then
    ULMAR_SHOTS=$out QT_QPA_PLATFORM=offscreen LANG=$lang ASAN_OPTIONS=detect_leaks=0 \
        "$port_test" portDialogListsAdapters >/dev/null || echo "port dialog: the test failed"
else
    echo "port dialog: no $port_test (cmake --build build/asan --target console_main)"
fi
ls -1 "$out"

#!/usr/bin/env bash
# Pictures for the documentation: the manual page of ulmar-cli as a terminal shows it
# ("man ulmar-cli" in xterm, 100 columns by 48 lines, under Xvfb), from the page's source in
# dist/man, so that no build or installation is needed.
#   tools/doc_shots.sh [OUTPUT_DIR]     (default: docs/screenshots)
# Installs what it needs when missing: xvfb, xterm, imagemagick, x11-utils, man-db, groff-base
# and fonts-dejavu-core. Writes OUTPUT_DIR/man_ulmar_cli.png.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

source tools/deps.sh
ULMAR_PACKAGES=() # only the picture's tools, not the build's
ulmar_install_deps xvfb xterm imagemagick x11-utils man-db groff-base fonts-dejavu-core

page=$PWD/dist/man/ulmar-cli.1
title="man ulmar-cli"
SHOT_PAGE=$page SHOT_OUT=$out/man_ulmar_cli.png SHOT_TITLE=$title \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -u
    # The page as man shows it on a UTF-8 terminal: bold and underlined words, the pager at the top.
    LANG=C.UTF-8 LC_ALL=C.UTF-8 MANWIDTH=100 MANPAGER="less -R" \
        xterm -u8 -fa "DejaVu Sans Mono" -fs 11 -geometry 100x48 -bg white -fg black \
        -T "$SHOT_TITLE" -e man -l "$SHOT_PAGE" &
    term=$!
    id=""
    for _ in $(seq 50); do
        sleep 0.2
        for w in $(xwininfo -root -children | awk "/^ +0x/ {print \$1}"); do
            if xprop -id "$w" WM_NAME 2>/dev/null | grep -qF "= \"$SHOT_TITLE\""; then
                id=$w
                break 2
            fi
        done
    done
    status=0
    if [ -n "$id" ]; then
        sleep 2 # man formats the page and the pager draws it
        import -window "$id" "$SHOT_OUT" || status=1
    else
        echo "doc_shots.sh: no terminal window appeared" >&2
        status=1
    fi
    kill "$term" 2>/dev/null || true
    wait "$term" 2>/dev/null || true
    exit $status
'
echo "$out/man_ulmar_cli.png"

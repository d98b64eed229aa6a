#!/usr/bin/env bash
# Include direction between the layers of the source tree. Every top-level folder that holds
# sources is a layer; from the bottom up:
#
#   base      ini files, paths, data places, log, time, small files, locale, version, signals
#   protocol  frames and checksums, the wire table, the pure codec
#   values    typed values and their descriptions
#   device    the device model, transport, serial port, port list, link, poller
#   commands  the parameter table's user columns, command sequences, parameter and tare files,
#             the exchange decoder's texts
#   archive   archive store, writer and loader
#   report    documents drawn with Qt Gui alone (the service record's pages, its PDF)
#   ui        every window, dialog, chart and printed report
#
# and the programs on top: sim (the simulator: base, and of protocol only the frame envelope
# and checksums, so that it stays independent of the codec it serves), cli (everything below
# ui) and app (everything). A file may include its own layer and the layers below it; tests/ and
# bench/ may include anything. Below ui no layer uses Qt Widgets, Qt Print Support or
# QCustomPlot: base to commands and sim use Qt Core only, archive Qt Core and Qt SQL, report Qt
# Core and Qt Gui, cli Qt Core, Qt SQL and Qt Gui (a QGuiApplication for the record's PDF).
# The PostgreSQL client library (libpq) is archive's alone: every other layer reaches the plant
# archive through archive's own headers.
#
# Lists every include that breaks these rules as "file:line: ..." and exits with 1 when there
# is any; also a source folder that is no layer and two headers with the same name (a header is
# included by its bare name, found through the include directory of its layer's target).
#
#   tools/check_layers.sh [--root DIR] [--qt-headers DIR]
#
# --qt-headers names Qt's header folder (the one holding QtCore/, QtWidgets/ ...); without it
# the folder is asked of qtpaths6, and the Qt module check is left out when none is found.
set -euo pipefail

root=.
qt_headers=""
while [ $# -gt 0 ]; do
    case "$1" in
    --root) root=$2; shift 2 ;;
    --qt-headers) qt_headers=$2; shift 2 ;;
    *) echo "usage: $0 [--root DIR] [--qt-headers DIR]" >&2; exit 2 ;;
    esac
done
cd "$root"

if [ -z "$qt_headers" ] && command -v qtpaths6 >/dev/null 2>&1; then
    qt_headers=$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || true)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Qt's public headers, "module name" per line, so that <QWidget> is known as QtWidgets.
: >"$work/qt"
if [ -n "$qt_headers" ] && [ -d "$qt_headers/QtCore" ]; then
    for m in "$qt_headers"/Qt*/; do
        m=${m%/}
        find "$m" -maxdepth 1 -type f -printf "${m##*/} %f\n" >>"$work/qt"
    done
else
    echo "check_layers: Qt headers not found, the Qt module check is left out" >&2
fi

# The source files: every file under a top-level folder other than the tests, benchmarks,
# documents, packaging, tools and build folders.
find . \( -path './.*' -o -path './build*' -o -path './tests' -o -path './bench' \
    -o -path './docs' -o -path './dist' -o -path './tools' \) -prune -o -path './*/*' -type f \
    \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) -print | sed 's|^\./||' | LC_ALL=C sort \
    >"$work/files"

status=0
# shellcheck disable=SC2016
LC_ALL=C awk -v qtlist="$work/qt" -v filelist="$work/files" '
function dirof(p) { return (index(p, "/") ? substr(p, 1, match(p, /\/[^\/]*$/) - 1) : "") }
function baseof(p) { sub(/.*\//, "", p); return p }
function layerof(p) { return substr(p, 1, index(p, "/") - 1) }
function allowed(src, dst, dstfile) {
    if (src == dst) return 1
    if (src in rank && dst in rank) return rank[dst] < rank[src]
    if (src == "cli") return (dst in rank) && dst != "ui"
    if (src == "sim") return dst == "base" || (dst == "protocol" && baseof(dstfile) == "uFrame.h")
    if (src == "app") return (dst in rank) || dst == "sim"
    return 0
}
function qtallowed(layer, module) {
    if (module == "libpq") return layer == "archive"
    if (layer == "ui" || layer == "app") return 1
    if (module == "QtCore") return 1
    if (module == "QtSql") return layer == "archive" || layer == "cli"
    if (module == "QtGui") return layer == "report" || layer == "cli"
    return 0
}
function report(msg) { print msg; bad = 1 }
BEGIN {
    n = split("base protocol values device commands archive report ui", order, " ")
    for (i = 1; i <= n; i++) rank[order[i]] = i
    known["sim"] = known["cli"] = known["app"] = 1
    for (l in rank) known[l] = 1
    while ((getline line < qtlist) > 0) {
        split(line, q, " ")
        if (!(q[2] in qtmodule)) qtmodule[q[2]] = q[1]
        qtmodule[q[1] "/" q[2]] = q[1]
    }
    while ((getline f < filelist) > 0) {
        files[++nfiles] = f
        exists[f] = 1
        if (f ~ /\.(h|hpp)$/) {
            b = baseof(f)
            if (b in header) dup[b] = dup[b] ? dup[b] " " f : header[b] " " f
            else header[b] = f
        }
        l = layerof(f)
        if (!(l in known) && !(l in stray)) stray[l] = f
    }
    for (i = 1; i <= nfiles; i++) {
        l = layerof(files[i])
        if ((l in stray) && stray[l] == files[i]) report(l "/: holds sources but is no layer")
        b = baseof(files[i])
        if ((b in dup) && header[b] == files[i]) report("two headers named " b ": " dup[b])
    }
    for (i = 1; i <= nfiles; i++) {
        f = files[i]
        src = layerof(f)
        if (!(src in known)) continue
        ln = 0
        while ((getline line < f) > 0) {
            ln++
            if (line !~ /^[ \t]*#[ \t]*include[ \t]*["<]/) continue
            inc = line
            sub(/^[ \t]*#[ \t]*include[ \t]*/, "", inc)
            quoted = substr(inc, 1, 1) == "\""
            inc = substr(inc, 2)
            sub(/[">].*$/, "", inc)
            if (!quoted) {
                m = ""
                if (inc in qtmodule) m = qtmodule[inc]
                else if (inc ~ /^[Qq]custom[Pp]lot|^qcustomplot/) m = "QCustomPlot"
                else if (inc ~ /^(libpq-fe\.h|libpq-events\.h|libpq\/|postgres_ext\.h)/) m = "libpq"
                if (m != "" && !qtallowed(src, m))
                    report(f ":" ln ": includes <" inc "> (" m "): " src "/ may not use it")
                continue
            }
            if (baseof(inc) ~ /^qcustomplot/ && !qtallowed(src, "QCustomPlot")) {
                report(f ":" ln ": includes \"" inc "\" (QCustomPlot): " src "/ may not use it")
                continue
            }
            # The header as the compiler finds it: beside the file, then from the root for a
            # path, then by its bare name through the layers include directories.
            d = dirof(f)
            dst = ""
            if ((d "/" inc) in exists) dst = d "/" inc
            else if (inc in exists) dst = inc
            else if (index(inc, "/") == 0 && (inc in header)) dst = header[inc]
            if (dst == "") continue
            to = layerof(dst)
            if (!(to in known))
                report(f ":" ln ": includes \"" inc "\" (" dst "): " to "/ is no layer")
            else if (!allowed(src, to, dst))
                report(f ":" ln ": includes \"" inc "\" (" dst "): " src " may not include " to)
        }
        close(f)
    }
    exit bad
}' </dev/null || status=$?

if [ "$status" -ne 0 ]; then
    echo "check_layers: includes against the layer order (above)" >&2
fi
exit "$status"

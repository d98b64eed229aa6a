#!/usr/bin/env bash
# The Debian package as a user gets it: built from a clean Release build (tools/package.sh),
# unpacked into a temporary root, every installed file checked, the command-line programs run,
# and the window program started offscreen from a program folder it cannot write, with HOME in a
# temporary folder: its settings and archive must land in the per-user folders and nowhere else.
#   tests/package/check_package.sh [PACKAGE.deb]   # without an argument, builds the package
# Skipped (exit 0) when dpkg-deb is missing. Run by ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/package

if ! command -v dpkg-deb >/dev/null; then
    echo "check_package: dpkg-deb is missing, the package test is skipped"
    exit 0
fi

deb=${1:-}
if [ -z "$deb" ]; then
    deb=$(tools/package.sh | tail -n 1)
fi
[ -f "$deb" ] || { echo "check_package: no package at '$deb'" >&2; exit 1; }

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

work=$(mktemp -d)
cleanup() {
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
root=$work/root

version=$(sed -n 's/^project(ulmar VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# --- The package's control data ---
[ "$(dpkg-deb -f "$deb" Package)" = ulmar ] && pass "package name" || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] && pass "version $version" ||
    fail "version: $(dpkg-deb -f "$deb" Version), project $version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6widgets6 libqt6sql6-sqlite qt6-qpa-plugins \
    libqcustomplot2.1-qt6 libpq5; do
    grep -q "$needed" <<<"$depends" && pass "depends on $needed" || fail "no dependency $needed"
done
description=$(dpkg-deb -f "$deb" Description)
grep -q "radar level gauges" <<<"$description" && grep -q "уровнемеров" <<<"$description" &&
    pass "English and Russian description" || fail "description: $description"

# --- Every installed file, no more and no fewer ---
dpkg-deb -x "$deb" "$root"
(cd "$root" && find . -type f -o -type l | sed 's|^\.||' | LC_ALL=C sort) >"$work/files"
if LC_ALL=C sort "$here/files.txt" | diff -u - "$work/files"; then
    pass "installed files"
else
    fail "installed files differ from $here/files.txt"
fi
while read -r path; do
    mode=$(stat -c %a "$root$path")
    case "$path" in
    /usr/bin/*) want=755 ;;
    *) want=644 ;;
    esac
    [ "$mode" = "$want" ] || fail "$path has mode $mode, not $want"
done <"$work/files"
if dpkg-deb -c "$deb" | awk '{print $2}' | grep -qv '^root/root$'; then
    fail "files not owned by root/root"
fi

for program in ulmar ulmar-cli ulmar-sim; do
    head -c 4 "$root/usr/bin/$program" | grep -q $'\x7fELF' && pass "$program is a program" ||
        fail "$program is not an ELF program"
done
cmp -s dist/INI/TypeSVCH.ini "$root/usr/share/ulmar/INI/TypeSVCH.ini" &&
    pass "default TypeSVCH.ini" || fail "TypeSVCH.ini differs from dist/INI"
# The user guide is the README's user part: each of its lines but the title is a README line,
# it reaches the command-line tool, and nothing of the developers' part comes with it.
guide=$root/usr/share/doc/ulmar/user-guide.md
if [ -s "$guide" ] && [ "$(head -n 1 "$guide")" = "# УЛМАР service utility: user guide" ] &&
    [ -z "$(tail -n +2 "$guide" | grep -vxF -f README.md)" ] &&
    grep -q 'dialout' "$guide" && grep -q 'man ulmar-cli' "$guide"; then
    pass "user guide"
else
    fail "user guide is not the README's user part"
fi
for developers in 'For developers' './test.sh' 'Benchmarks' 'Glossary' 'Layout'; do
    grep -qF -- "$developers" "$guide" && fail "user guide holds the developers' '$developers'"
done
# The pictures are not installed: the guide names none of them.
grep -qF 'docs/screenshots/' "$guide" && fail "user guide shows a picture that is not installed"
for doc in cli-json.md cli-json-schema.json; do
    cmp -s "docs/$doc" "$root/usr/share/doc/ulmar/$doc" ||
        fail "$doc differs from docs/$doc"
done
grep -q '^Files: \*' "$root/usr/share/doc/ulmar/copyright" && pass "copyright" || fail "copyright"
[ "$(gzip -dc "$root/usr/share/doc/ulmar/changelog.gz" | head -n 1)" = \
    "ulmar ($version) unstable; urgency=medium" ] && pass "changelog" || fail "changelog"

desktop=$root/usr/share/applications/ulmar.desktop
for line in 'Type=Application' 'Exec=ulmar' 'Icon=ulmar' 'Terminal=false' \
    'Name[ru]=УЛМАР — настройка уровнемеров' 'Categories=Science;Engineering;Electronics;'; do
    grep -qxF "$line" "$desktop" || fail "desktop entry lacks '$line'"
done
grep -q '^Comment\[ru\]=' "$desktop" && pass "desktop entry" || fail "desktop entry: no Russian comment"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" && pass "desktop-file-validate" || fail "desktop-file-validate"
fi

# PNG: width and height are the big-endian words at bytes 16 and 20 of the IHDR chunk.
for size in 16 22 24 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/ulmar.png
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "icon ${size}x${size} is ${w}x${h}"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/ulmar.svg" && pass "icons" ||
    fail "scalable icon"

# The manual pages: the hand-written sources, compressed, with their sections.
for program in ulmar ulmar-cli ulmar-sim; do
    page=$root/usr/share/man/man1/$program.1.gz
    if ! gzip -t "$page" || ! gzip -dc "$page" | cmp -s - "dist/man/$program.1"; then
        fail "manual page $program(1) is not dist/man/$program.1"
        continue
    fi
    sections=(NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT EXAMPLES "SEE ALSO")
    [ "$program" = ulmar-cli ] && sections+=(COMMANDS "JSON OUTPUT" FILES)
    [ "$program" = ulmar ] && sections+=(FILES)
    missing=""
    gzip -dc "$page" | grep -q "^\.TH ${program^^} 1 " || missing+=" .TH"
    for section in "${sections[@]}"; do
        gzip -dc "$page" | grep -qxF ".SH $section" || missing+=" $section"
    done
    if [ -n "$missing" ]; then
        fail "manual page $program(1) lacks:$missing"
    elif command -v groff >/dev/null &&
        warnings=$(gzip -dc "$page" | groff -k -man -Tutf8 -ww -z 2>&1) && [ -n "$warnings" ]; then
        fail "manual page $program(1): $warnings"
    else
        pass "manual page $program(1)"
    fi
done

# --- The unpacked programs, from a program folder nobody may write ---
chmod -R a-w "$root"
(cd "$root" && find . -printf '%p %s %T@\n' | LC_ALL=C sort) >"$work/before"
home=$work/home
mkdir "$home"
# As root a folder's modes do not stop a write: the programs then run as "nobody".
run_user=()
if [ "$(id -u)" = 0 ]; then
    if setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
        chown 65534:65534 "$home"
        run_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    else
        # A container without the right to change user: root then runs them, and only the
        # before-and-after comparison of the unpacked tree shows that nothing was written there.
        echo "check_package: cannot run as nobody here; the programs run as root"
    fi
fi
as_user() {
    env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        "${run_user[@]}" "$@"
}
# The same in place of the shell that runs it: started in the background, $! is then the
# program itself, so that killing it leaves no program behind.
as_user_exec() {
    exec env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        "${run_user[@]}" "$@"
}

out=$(as_user "$root/usr/bin/ulmar-cli" --help) && grep -q 'Использование: ulmar-cli' <<<"$out" &&
    pass "ulmar-cli --help" || fail "ulmar-cli --help"
# Every command the packaged ulmar-cli lists in its usage is described in its manual page.
commands=$(sed -n 's/^  \([a-z][a-z]*\( [a-z][a-z]*\)\?\)\( .*\)\?$/\1/p' <<<"$out")
page_text=$(gzip -dc "$root/usr/share/man/man1/ulmar-cli.1.gz" | sed 's/^\.B[IR]\? //; s/\\f[BIRP]//g; s/\\-/-/g')
undescribed=""
while read -r command; do
    [ -n "$command" ] || continue
    grep -q "^$command\( \|$\)" <<<"$page_text" || undescribed+=" '$command'"
done <<<"$commands"
if [ -z "$commands" ]; then
    fail "no commands found in ulmar-cli --help"
elif [ -n "$undescribed" ]; then
    fail "ulmar-cli(1) does not describe:$undescribed"
else
    pass "ulmar-cli(1) describes every command ($(wc -l <<<"$commands"))"
fi
out=$(as_user "$root/usr/bin/ulmar-sim" --help) && grep -q 'Использование: ulmar-sim' <<<"$out" &&
    pass "ulmar-sim --help" || fail "ulmar-sim --help"
out=$(as_user "$root/usr/bin/ulmar-sim" -V) && [ "$out" = "ulmar-sim $version" ] &&
    pass "ulmar-sim -V" || fail "ulmar-sim -V: $out"
out=$(as_user "$root/usr/bin/ulmar" --help) && grep -q -- '--user-dirs' <<<"$out" &&
    pass "ulmar --help" || fail "ulmar --help"
out=$(as_user "$root/usr/bin/ulmar-cli" --version)
if [ "$(head -n 1 <<<"$out")" = "ulmar-cli $version" ] &&
    grep -qxF "Данные: $home/.local/share/ulmar (папка пользователя)" <<<"$out" &&
    grep -qxF "Настройки: $home/.config/ulmar (папка пользователя)" <<<"$out" &&
    grep -qxF "Журналы: $home/.local/state/ulmar (папка пользователя)" <<<"$out"; then
    pass "ulmar-cli --version names the per-user folders"
else
    fail "ulmar-cli --version: $out"
fi

# The window program polls its built-in simulator for a few seconds and ends by itself.
if as_user "$root/usr/bin/ulmar" --simulator --poll --quit-after 6000 >"$work/ulmar.log" 2>&1; then
    pass "ulmar started offscreen and ended"
else
    fail "ulmar exited with $?: $(tail -n 5 "$work/ulmar.log")"
fi
data=$home/.local/share/ulmar
config=$home/.config/ulmar
cmp -s "$root/usr/share/ulmar/INI/TypeSVCH.ini" "$data/INI/TypeSVCH.ini" &&
    pass "data folder seeded with TypeSVCH.ini" || fail "no TypeSVCH.ini in $data/INI"
[ -f "$data/INI/bde.ini" ] && pass "archive settings in the data folder" || fail "no $data/INI/bde.ini"
[ -d "$data/TarTabl" ] || fail "no tare folder $data/TarTabl"
day=$(find "$data/DATA" -name '*.db' -size +0 | head -n 1)
[ -n "$day" ] && pass "archive in the data folder (${day#"$data"/})" || fail "no archive in $data/DATA"
[ -f "$config/INI/WndPos.ini" ] && pass "window positions in the config folder" ||
    fail "no $config/INI/WndPos.ini"
state=$home/.local/state/ulmar
ls "$state"/rd*.txt >/dev/null 2>&1 && pass "request log in the state folder" ||
    fail "no request log in $state"
ls "$config"/rd*.txt >/dev/null 2>&1 && fail "a request log in the config folder $config"

# ulmar-cli against the packaged simulator: its settings go to the config folder as well.
as_user_exec "$root/usr/bin/ulmar-sim" --link "$home/gauge" >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$home/gauge" ] && break; sleep 0.1; done
if as_user "$root/usr/bin/ulmar-cli" --port "$home/gauge" --json read >"$work/read.json" &&
    grep -q '"ok":true' "$work/read.json"; then
    pass "ulmar-cli read from the packaged simulator"
else
    fail "ulmar-cli read: $(cat "$work/read.json")"
fi
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
pgrep -f "^$root/usr/bin/ulmar-sim" >/dev/null && fail "ulmar-sim still runs after SIGTERM" ||
    pass "ulmar-sim ended by SIGTERM"
[ -f "$config/INI/Timer.ini" ] && pass "ulmar-cli settings in the config folder" ||
    fail "no $config/INI/Timer.ini"

(cd "$root" && find . -printf '%p %s %T@\n' | LC_ALL=C sort) >"$work/after"
diff -u "$work/before" "$work/after" >/dev/null && pass "nothing written into the program folder" ||
    fail "the program folder changed: $(diff "$work/before" "$work/after" | head -n 5)"
stray=$(find "$home" -mindepth 1 -maxdepth 1 ! -name .local ! -name .config ! -name gauge)
[ -z "$stray" ] || fail "files outside the per-user folders: $stray"

if [ "$failures" -gt 0 ]; then
    echo "check_package: $failures check(s) failed" >&2
    exit 1
fi
echo "check_package: all checks passed ($(du -k "$deb" | cut -f1) KiB, $(wc -l <"$work/files") files)"

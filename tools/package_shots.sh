#!/usr/bin/env bash
# Pictures of the installed package as a user meets it: the desktop entry with its icon in an
# application launcher (rofi's "drun" list, which reads the installed desktop entries and icon
# theme) and the about box of the installed program, started by a plain user under Openbox.
#   sudo tools/package_shots.sh [PACKAGE.deb] [OUTPUT_DIR]
# Installs the package and the tools it needs (xvfb, openbox, rofi, xdotool, imagemagick, the
# ru_RU.UTF-8 locale) and a user "tech" when missing: for a test machine, not a workstation.
# Writes OUTPUT_DIR/desktop_entry.png and OUTPUT_DIR/about_installed.png (default build/shots).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "package_shots.sh: run as root (it installs the package)" >&2; exit 1; }
deb=${1:-$(ls build/package/ulmar_*.deb 2>/dev/null | head -n 1)}
out=${2:-build/shots}
[ -f "$deb" ] || { echo "package_shots.sh: no package; run tools/package.sh first" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends xvfb openbox rofi xdotool imagemagick locales x11-utils
apt-get install -y "./$deb"
if ! locale -a | grep -qi '^ru_RU.utf8$'; then
    sed -i 's/^# *ru_RU.UTF-8/ru_RU.UTF-8/' /etc/locale.gen
    locale-gen
fi
id tech >/dev/null 2>&1 || useradd -m -s /bin/bash tech

display=:$((70 + RANDOM % 20))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
shots=$(mktemp -d)
chmod 777 "$shots"
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$shots"' EXIT
sleep 2

# Runs as "tech" on the virtual display, in Russian.
as_tech() { su tech -c "DISPLAY=$display LANG=ru_RU.UTF-8 SHOTS=$shots bash -c '$1'"; }

as_tech 'openbox >/dev/null 2>&1 &'
sleep 1
# The launcher, filtered to the program's entry.
as_tech 'cd ~; rofi -show drun -show-icons -drun-display-format "{name}  —  {generic}" \
    -filter УЛМАР -theme-str "window {width: 720px;} element-icon {size: 48px;} listview {lines: 4;}" \
    >/dev/null 2>&1 & pid=$!; sleep 2; import -window root $SHOTS/launcher.png; kill $pid'
# The installed program against its built-in simulator; the about box through the menu
# "Окна" (Alt, Left to the last menu, Down to open it, Up to its last item).
as_tech 'cd ~; ulmar --simulator --poll >/dev/null 2>&1 & pid=$!; sleep 5
    xdotool windowactivate --sync $(xdotool search --name "^УЛМАР$" | head -n 1); sleep 0.5
    xdotool key alt; sleep 0.3; xdotool key Left; sleep 0.3; xdotool key Down; sleep 0.5
    xdotool key Up; sleep 0.3; xdotool key Return; sleep 1.5
    import -frame -window $(xdotool search --name "^О программе$" | head -n 1) $SHOTS/about.png
    xdotool key Escape; sleep 0.5; kill $pid'

# The launcher's window only: the part of the screen that is not black.
convert "$shots/launcher.png" -trim +repage "$out/desktop_entry.png"
cp "$shots/about.png" "$out/about_installed.png"
echo "$out/desktop_entry.png $out/about_installed.png"

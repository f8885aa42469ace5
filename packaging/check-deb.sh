#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine and checks it as a desktop and a cron
# user would meet it: lintian, AppStream and the desktop entry find nothing to complain about, the
# desktop entry starts the window and hands it a .flq file, an unprivileged user's unattended run
# logs in that user's state folder, a run as root writes nothing under /usr, and removal leaves
# nothing behind. Needs root (or sudo) and a Debian system; changes the system's packages.
#
#   packaging/check-deb.sh [BUILD_DIR]      (default: build-deb beside the sources)
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-deb}
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)

step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

tools=(dpkg-dev xvfb libgtk-3-bin shared-mime-info desktop-file-utils imagemagick lintian
    appstream dbus-daemon dbus-bin)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

step "build and package"
deb=$("$src/packaging/build-deb.sh" "$build")
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
dpkg-deb --contents "$deb"
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt dependency found by shlibdeps"

step "lintian, AppStream, desktop entry"
# Errors and warnings fail; informational tags are shown.
lintian --info --display-info "$deb" | tee "$build/lintian.txt"
grep -qE '^[EW]: ' "$build/lintian.txt" && fail "lintian reports errors or warnings"
appstreamcli validate --no-net "$src"/packaging/*.metainfo.xml
desktop-file-validate "$src/packaging/mivex.desktop" "$src/packaging/mivex-enqueue.desktop"

step "install"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "$deb"
dpkg -L mivex | tee "$build/installed-files.txt"
[[ $(readlink -f /usr/bin/mivex) == /usr/lib/mivex/mivex ]] || fail "bin/mivex does not lead to lib/mivex"
[[ -f "/usr/lib/mivex/mivex online help.html" ]] || fail "help file missing beside the program"
[[ -x /usr/lib/mivex/mivex-gui ]] || fail "the window program is missing beside mivex"
grep -F 'text/x-mivex-queue:*.flq' /usr/share/mime/globs2 || fail "the .flq type is not registered"
man -w mivex
for size in 16 32 48 64 128 256; do
    [[ -f /usr/share/icons/hicolor/${size}x${size}/apps/mivex.png ]] || fail "no ${size} px icon"
done
appstreamcli validate --no-net /usr/share/metainfo/example.mivex.mivex.metainfo.xml

work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/dest"
echo "report" >"$work/src/report.doc"
printf 'C-N --> %s --> %s\r\n' "$work/src/report.doc" "$work/dest" >"$work/night.flq"

step "the desktop entry starts the window with a .flq file"
entry=/usr/share/applications/mivex.desktop
grep -E '^(Exec|MimeType|Categories|Icon)=' "$entry"
desktop-file-validate "$entry"
# What file managers offer for a .flq file.
grep -F 'text/x-mivex-queue=mivex.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "the entry is not registered for .flq files"
# gtk-launch resolves the entry by its id and substitutes %f with the file.
shot="$build/launched-from-desktop-entry.png"  # the window with the list in its queue
export work shot
xvfb-run -a bash -c '
    gtk-launch mivex "$work/night.flq"
    for _ in $(seq 50); do pid=$(pgrep -nx mivex-gui) && break; sleep 0.1; done
    [[ -n ${pid:-} ]] || { echo "mivex did not start"; exit 1; }
    sleep 2
    printf "running: "; tr "\0" " " </proc/$pid/cmdline; echo
    import -window root "$shot"
    kill "$pid"
' | tee "$work/launch.txt"
grep -qF "running: mivex $work/night.flq" "$work/launch.txt" || fail "the file was not handed on"
echo "screenshot: $shot"
# The window opens with the list loaded (a list it cannot load keeps a message box up instead).
exec_line=$(sed -n 's/^Exec=//p' "$entry")
# The start-up probe prints the time to the first shown window and closes it.
ninja -C "$build" mivex_startupprobe >&2
out=$(LD_PRELOAD="$build/libmivex_startupprobe.so" timeout 20 \
    xvfb-run -a ${exec_line/\%f/$work/night.flq}) ||
    fail "the window did not open"
echo "$out"
grep -q '^startup-ms' <<<"$out" || fail "the window did not open"

step "the file manager's action queues files in the open window"
entry=/usr/share/applications/mivex-enqueue.desktop
desktop-file-validate "$entry"
[[ -x /usr/share/kio/servicemenus/mivex-enqueue.desktop ]] || fail "no Dolphin service menu"
grep -F 'inode/directory=' /usr/share/applications/mimeinfo.cache | grep -q mivex-enqueue.desktop ||
    fail "the action is not offered for folders"
# The entry's Exec line with %F, as a file manager runs it, twice: the second time the window
# refuses the file as queued already, which shows that the first reached it.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
export exec_line work
xvfb-run -a dbus-run-session -- bash -c '
    mivex & pid=$!
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.NameHasOwner string:example.mivex.mivex | grep -q "boolean true" &&
            break
        sleep 0.1
    done
    ${exec_line/\%F/$work/src/report.doc $work/src}; echo "first: $?"
    ${exec_line/\%F/$work/src/report.doc}; echo "again: $?"
    kill "$pid"
' 2>&1 | tee "$work/enqueue.txt"
grep -qx 'first: 0' "$work/enqueue.txt" && grep -qx 'again: 1' "$work/enqueue.txt" &&
    grep -q 'already exists in your queue' "$work/enqueue.txt" ||
    fail "the action did not reach the window"

step "unattended run as an unprivileged user"
chown -R 65534:65534 "$work/src" "$work/dest"
mkdir "$work/home" && chown 65534:65534 "$work/home"
set +e
setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" mivex "$work/night.flq" -auto
status=$?
set -e
echo "exit status $status"
[[ $status -eq 0 ]] || fail "unattended run"
ls -l "$work/dest"
ls "$work/home/.local/state/mivex"/*-log.txt
cat -A "$work/home/.local/state/mivex"/*-log.txt
compgen -G "/usr/lib/mivex/*-log.txt" >/dev/null && fail "a log landed in the program folder"

step "a run as root writes nothing under /usr"
# root may write into the program folder, but an installed Mivex keeps its logs out of /usr.
mkdir "$work/roothome" "$work/rootdest"
printf 'C-N --> %s --> %s\r\n' "$work/src/report.doc" "$work/rootdest" >"$work/root.flq"
stamp="$work/stamp"
touch "$stamp"
sleep 1
env -i PATH=/usr/bin:/bin HOME="$work/roothome" mivex "$work/root.flq" -auto ||
    fail "unattended run as root"
written=$(find /usr -xdev -newer "$stamp" ! -type d 2>/dev/null || true)
# Told at the end: the package is removed first either way.
problems=()
[[ -z $written ]] || problems+=("a run as root wrote under /usr: $written")
ls "$work/roothome/.local/state/mivex"/*-log.txt || problems+=("no log in root's state folder")

step "remove"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y mivex
left=()
while read -r f; do
    [[ -e $f && ! -d $f ]] && left+=("$f")
done <"$build/installed-files.txt"
[[ ! -e /usr/lib/mivex ]] || left+=(/usr/lib/mivex)
((${#left[@]} == 0)) || problems+=("left behind: ${left[*]}")
grep -F 'text/x-mivex-queue' /usr/share/mime/globs2 && problems+=("the .flq type is still registered")
if ((${#problems[@]})); then
    rm -rf /usr/lib/mivex  # what a faulty run left, so the machine is clean for the next check
    for p in "${problems[@]}"; do echo "FAILED: $p" >&2; done
    exit 1
fi
echo "removed cleanly"

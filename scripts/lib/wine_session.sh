# shellcheck shell=bash disable=SC2034
# Runs inside the Wine root (see in_wine_root in wine_root.sh): gives the command an X
# display of its own and a booted WINEPREFIX, and cleans both up after it.
#
#   bash wine_session.sh CMD...
#
# WINEPREFIX must be set. A new prefix is booted once (wineboot -i, about 10 s) and set up
# for unattended tests: no Mono/Gecko installers, no crash dialog, and a virtual desktop,
# because without a window manager X focus does not follow Wine's windows; inside the
# virtual desktop Wine manages focus and activation itself.
set -euo pipefail

: "${WINEPREFIX:?}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
mkdir -p "$HOME"
cd "${TAVELIO_WORKDIR:-/}" 2>/dev/null || cd /

xvfb_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# -displayfd picks a free display number: X's abstract sockets are shared with the host and
# with any other run, whatever our private /tmp says.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $display_file ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || {
        echo "Xvfb did not start" >&2
        exit 1
    }
    sleep 0.1
done
[[ -s $display_file ]] || {
    echo "Xvfb gave no display number" >&2
    exit 1
}
DISPLAY=":$(head -n 1 "$display_file")"
export DISPLAY
rm -f "$display_file"

# The marker is written last, so a prefix whose boot was interrupted is booted again.
if [[ ! -f $WINEPREFIX/.tavelio-ready ]]; then
    find "$WINEPREFIX" -mindepth 1 -delete
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.tavelio-ready"
fi

# One server for the whole session instead of one per program start. Its helper processes
# (services, explorer, winedevice) live as long as it does, so they are started here with
# their output on /dev/null: started by the first test instead, they would inherit its
# output pipe and CTest would wait for that pipe to close until the time-out.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
status=0
"$@" || status=$?
exit "$status"

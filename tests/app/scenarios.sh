#!/bin/bash
# The real tavelio.exe under Wine, watched from outside. Runs inside the Wine
# root (tests/app/run puts it there) with DISPLAY and WINEPREFIX set.
#
#   scenarios.sh TAVELIO_EXE APP_PROBE_EXE SHOT_DIR
#
# Prints one line per check, then "N passed, M failed"; exits 1 on any failure.
set -uo pipefail

exe=$1
probe_exe=$2
shot_dir=$3
here=$(cd "$(dirname "$0")" && pwd)

passed=0
failed=0
check() {
    # check NAME COMMAND...: one verdict line per check.
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        printf 'PASS  %s\n' "$name"
    else
        failed=$((failed + 1))
        printf 'FAIL  %s\n' "$name"
    fi
}
note() { printf '      %s\n' "$*"; }

probe() { wine "$probe_exe" "$@" | tr -d '\r'; }
# field KEY LINE: the value of KEY=... in a probe line.
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

# The desktop named "shell" has a taskbar whose notification area holds the
# icon, as a user's desktop does; every program of the prefix opens in it.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1280x800 /f >/dev/null

appdata_win=$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')
data_dir="$(winepath -u "$appdata_win" | sed 's:/*$::')/Tavelio"
settings="$data_dir/settings.json"
input_log="$data_dir/logs/input.log"
output_log="$data_dir/logs/output.log"

app_pid=""
start_app() {
    wine "$exe" &
    app_pid=$!
    probe wait-window hidden 15000 >/dev/null
}
# stop_app MESSAGE: sends it to the hidden window, returns the program's exit code.
stop_app() {
    probe post hidden "$1" "${2:-0}" 0 >/dev/null
    finish_app
}
finish_app() {
    local code=0
    # A program that never ends would hang the suite: give it 15 s.
    for _ in $(seq 150); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$app_pid" 2>/dev/null; then
        note "tavelio.exe did not end; killing it"
        kill "$app_pid"
    fi
    wait "$app_pid" || code=$?
    app_pid=""
    return "$code"
}
running() { [[ -n $app_pid ]] && kill -0 "$app_pid" 2>/dev/null; }
count_clear_lines() { grep -c '\[IN\] BUFFER action=clear ' "$input_log" 2>/dev/null || true; }
wait_for_clear_lines() {
    local want=$1
    for _ in $(seq 100); do
        [[ $(count_clear_lines) -ge $want ]] && return 0
        sleep 0.05
    done
    return 1
}

WM_CLOSE=16
WM_COMMAND=273
IDM_TOGGLE=1002
IDM_EXIT=1003

# ---------------------------------------------------------------- first start
rm -rf "$data_dir"
start_app
check "first start writes settings.json with the defaults" \
    cmp -s "$here/default-settings.json" "$settings"
check "logging off: no logs folder" test ! -e "$data_dir/logs"
stop_app $WM_CLOSE
check "close request ends with exit code 0" test $? -eq 0

# --------------------------------------------------------------- logging on
sed -i 's/"logging": false/"logging": true/' "$settings"
settings_copy=$(mktemp)
cp "$settings" "$settings_copy"
start_app
check "with logging on input.log begins with START" \
    grep -q '^[0-9-]* [0-9:.]* \[IN\] START' <(head -n 1 "$input_log")
check "with logging on output.log begins with START" \
    grep -q '^[0-9-]* [0-9:.]* \[OUT\] START' <(head -n 1 "$output_log")

# ------------------------------------------------------------ second instance
before_in=$(cksum <"$input_log")
before_out=$(cksum <"$output_log")
second_code=0
timeout 30 wine "$exe" || second_code=$?
check "a second start ends with exit code 0" test "$second_code" -eq 0
check "a second start leaves input.log untouched" test "$(cksum <"$input_log")" == "$before_in"
check "a second start leaves output.log untouched" test "$(cksum <"$output_log")" == "$before_out"
check "the first instance keeps running" running
window_exists() { probe wait-window "$1" 0 >/dev/null; }
check "the first instance keeps its window" window_exists hidden

# ------------------------------------------------------------- pause, resume
clears=$(count_clear_lines)
probe post hidden $WM_COMMAND $IDM_TOGGLE 0 >/dev/null
probe post hidden $WM_COMMAND $IDM_TOGGLE 0 >/dev/null
check "Pause then Resume writes two BUFFER clear lines" wait_for_clear_lines $((clears + 2))
check "and no more than two" test "$(count_clear_lines)" -eq $((clears + 2))

# ------------------------------------------------- close from another process
stop_app $WM_CLOSE
check "WM_CLOSE from another process ends with exit code 0" test $? -eq 0
check "input.log ends with STOP" grep -q '\[IN\] STOP *$' <(tail -n 1 "$input_log" | tr -d '\r')
check "output.log ends with STOP" grep -q '\[OUT\] STOP *$' <(tail -n 1 "$output_log" | tr -d '\r')

# -------------------------------------------------------------------- splash
watch_out=$(mktemp)
wine "$probe_exe" splash-watch 20000 >"$watch_out" &
watch_pid=$!
for _ in $(seq 100); do
    grep -q ready "$watch_out" && break
    sleep 0.1
done
start_app
wait "$watch_pid"
watch=$(tr -d '\r' <"$watch_out" | tail -n 1)
rm -f "$watch_out"
note "$watch"
lifetime=$(field lifetime_ms "$watch")
rect=$(field rect "$watch")
screen=$(field screen "$watch")
check "the splash shows at start" test "$(field appeared "$watch")" = 1
check "the splash is a topmost tool window" \
    test "$(field topmost "$watch")$(field toolwindow "$watch")" = 11
check "the splash is 640x300 in the middle of the screen" test "$rect" = \
    "$(((${screen%,*} - 640) / 2)),$(((${screen#*,} - 300) / 2)),640,300"
check "the splash is gone after about 1.4 s (${lifetime:-?} ms)" \
    test "${lifetime:--1}" -ge 1000 -a "${lifetime:--1}" -le 2000
check "the program runs on after the splash" running
stop_app $WM_CLOSE
check "and ends with exit code 0" test $? -eq 0

start_app
early=$(probe exit-during-splash 15000)
note "$early"
check "Exit during the splash removes it at once" \
    test "$(field since_shown_ms "$early")" -ge 0 -a "$(field since_shown_ms "$early")" -lt 700
check "Exit during the splash ends the program" test "$(field hidden_gone_ms "$early")" -ge 0
finish_app
check "Exit during the splash gives exit code 0" test $? -eq 0

# ------------------------------------------------ the tray menu, by the mouse
# Real X clicks on the icon that Wine's explorer shows, then on the menu.
screenshot() { import -window root "$1" 2>/dev/null; }
start_app
probe wait-window splash 5000 >/dev/null
sleep 0.4
check "splash screenshot saved" screenshot "$shot_dir/app-splash.png"
probe wait-gone splash 5000 >/dev/null

open_menu() {
    local icon centre
    icon=$(probe tray-icon 5000)
    centre=$(field centre "$icon")
    [[ -n $centre ]] || return 1
    xdotool mousemove "${centre%,*}" "${centre#*,}" click 3
    probe menu-rect 5000
}
# click_menu_item FROM_BOTTOM: clicks the item that many items above the last.
click_menu_item() {
    local menu=$1 up=$2 x y w h
    IFS=, read -r x y w h <<<"$(field rect "$menu")"
    # Under Wine's default theme an item and the separator above it take about
    # 25 px, and the last item's middle is 12 px above the menu's bottom.
    xdotool mousemove $((x + w / 2)) $((y + h - 12 - up * 25)) click 1
}
menu=$(open_menu)
note "menu: $menu"
check "a right click on the tray icon opens the menu" test "$(field found "$menu")" = 1
sleep 0.3
check "tray menu screenshot saved" screenshot "$shot_dir/app-tray-menu.png"
clears=$(count_clear_lines)
click_menu_item "$menu" 1 # Pause, above the separator and Exit
check "choosing Pause in the menu clears the buffer" wait_for_clear_lines $((clears + 1))
menu=$(open_menu)
sleep 0.3
screenshot "$shot_dir/app-tray-menu-paused.png"
click_menu_item "$menu" 0 # Exit
finish_app
check "choosing Exit in the menu ends with exit code 0" test $? -eq 0
check "after Exit input.log ends with STOP" grep -q '\[IN\] STOP *$' <(tail -n 1 "$input_log" | tr -d '\r')

check "Pause is not saved: settings.json is never rewritten" cmp -s "$settings_copy" "$settings"
rm -f "$settings_copy"

printf '%d passed, %d failed\n' "$passed" "$failed"
[[ $failed -eq 0 ]]

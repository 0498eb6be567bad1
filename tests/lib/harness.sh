# shellcheck shell=bash disable=SC2034
# The harnesses' shell library, sourced by tests/*/run and scripts/run. On the host such a
# script calls enter_wine_root (scripts/lib/wine_root.sh), which builds what it needs and runs
# it again inside the Wine root; there harness_begin sets up, these helpers drive tavelio.exe,
# our test programs and Wine's notepad from outside, and finish prints the totals.
#
# The script sets `build` (the Windows build) first. Screenshots go to build/ of the sources.

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/common.sh"
source "$TAVELIO_SOURCE_DIR/scripts/lib/host_packages.sh"
source "$TAVELIO_SOURCE_DIR/scripts/lib/wine_root.sh"

shots=$TAVELIO_SOURCE_DIR/build
closed_ime="context=1 open=0 conversion=0x0" # a new target's IME, as the target reports it
type_delay=30                                # ms between the keys xdotool types

# On the host: Wine brings no Japanese font, so the host's Noto Sans CJK goes beside the build,
# where the Wine root reaches it (install_cjk_font puts it into the prefix).
cjk_font_beside() {
    ensure_host_packages fonts-noto-cjk && mkdir -p "$1/fonts" &&
        cp -u /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc "$1/fonts/"
}

# ------------------------------------------------------------ verdicts
passed=0
failed=0
known=0
# check NAME COMMAND...: one verdict line per check.
check() {
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
# known_fault NAME FAULT COMMAND...: a check of how things should be that fails today for a
# reason outside the tier (FAULT); it is counted apart. Once it passes it fails the run, so
# that it becomes an ordinary check.
known_fault() {
    local name=$1 fault=$2
    shift 2
    if "$@"; then
        failed=$((failed + 1))
        printf 'FAIL  %s (passes now: make it an ordinary check)\n' "$name"
    else
        known=$((known + 1))
        printf 'KNOWN %s\n      known fault: %s\n' "$name" "$fault"
    fi
}
note() { printf '      %s\n' "$*"; }
not() { ! "$@"; }
# wait_for COMMAND...: true as soon as the command is, false after 15 s.
wait_for() {
    for _ in $(seq 150); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
# same GOT EXPECTED: equal, or both shown.
same() {
    [[ $1 == "$2" ]] && return 0
    note "expected: ${2:0:400}"
    note "     got: ${1:0:400}"
    return 1
}
# finish: the totals; exits non-zero when a check failed.
finish() {
    [[ $known -eq 0 ]] || echo "$known known faults (KNOWN lines above), not counted as failed"
    printf '%d passed, %d failed\n' "$passed" "$failed"
    exit $((failed > 0))
}

probe() { wine "$build/tests/e2e/e2e_probe.exe" "$@" | tr -d '\r'; }
app_probe() { wine "$build/tests/app/app_probe.exe" "$@" | tr -d '\r'; }
# field KEY LINE: the value of KEY=... in a probe line (a quoted value keeps its quotes).
field() { sed -n "s/.*\\b$1=\\(\"[^\"]*\"\\|[^ ]*\\).*/\\1/p" <<<"$2"; }
now_ms() { date +%s%3N; }
screenshot() { import -window root "$shots/$1" 2>/dev/null && note "screenshot: $shots/$1"; }

# window_titled REGEX: a window with that title shows (10 s at most).
window_titled() { timeout 10 xdotool search --sync --onlyvisible --name "$1" >/dev/null; }

run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# reg_value KEY NAME: the value's data as `reg query` shows it, empty when there is none.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

# harness_begin: in the root, before the first check: a scratch folder, Tavelio's data folder
# in this prefix, and the cleanup of whatever the harness started.
harness_begin() {
    work=$(mktemp -d)
    data_dir="$(winepath -u "$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')" | sed 's:/*$::')/Tavelio"
    settings=$data_dir/settings.json
    input_log=$data_dir/logs/input.log
    output_log=$data_dir/logs/output.log
    trap harness_cleanup EXIT
}
harness_cleanup() {
    [[ -n $tavelio_pid ]] && kill "$tavelio_pid" 2>/dev/null
    local name
    for name in "${!app_pid[@]}"; do kill "${app_pid[$name]}" 2>/dev/null; done
    rm -rf "$work"
}

# install_test_ime LAYOUT: tavtest.ime becomes the IME of keyboard layout LAYOUT: E0010409 is
# the IME layout Wine picks in a C/en-US prefix, 04090409 the layout every thread starts with.
install_test_ime() {
    local key="HKLM\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\$1"
    cp "$build/tests/ime/tavtest.ime" "$WINEPREFIX/drive_c/windows/system32/" &&
        wine reg add "$key" /v "Ime File" /d tavtest.ime /f >/dev/null &&
        wine reg add "$key" /v "Layout Text" /d "Tavelio test IME" /f >/dev/null &&
        wine reg add "$key" /v "Layout File" /d kbdus.dll /f >/dev/null
}
# install_cjk_font: the font of cjk_font_beside, linked behind the faces Wine's programs use.
install_cjk_font() {
    local face link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    cp "$build/fonts/NotoSansCJK-Regular.ttc" "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
    for face in System Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" \
        "Lucida Console"; do
        wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP' \
            /f >/dev/null || return 1
    done
}

# ------------------------------------------------------------ the logs
line_count() { if [[ -f $1 ]]; then wc -l <"$1"; else echo 0; fi; }
in_mark=0
out_mark=0
mark() {
    in_mark=$(line_count "$input_log")
    out_mark=$(line_count "$output_log")
}
# The lines written since the last mark, without their CR.
new_in() { tail -n +$((in_mark + 1)) "$input_log" 2>/dev/null | tr -d '\r'; }
new_out() { tail -n +$((out_mark + 1)) "$output_log" 2>/dev/null | tr -d '\r'; }
new_lines() { "new_$1"; }
# The event names of those lines, on one line. The hook watchdog's reinstall after input the
# hooks missed (under Wine, a fast flood of keys) may come at any moment, and so may the
# hint's lines, which follow the GUI thread's pace: both are left out (the app tier checks
# the hint).
events() { awk '$4 == "HOOKS_REINSTALLED" && / reason=missed_(input|keyboard) / { next }
    $4 == "HINT_SHOW" || $4 == "HINT_HIDE" { next }
    { printf "%s%s", sep, $4; sep = " " }'; }
# wait_line in|out REGEX MS: waits for a new line matching REGEX.
wait_line() {
    local lines deadline=$(($(now_ms) + $3))
    while [[ $(now_ms) -lt $deadline ]]; do
        # Read whole: under pipefail, grep -q leaving early would fail the pipe on a match.
        lines=$(new_lines "$1")
        grep -qE -- "$2" <<<"$lines" && return 0
        sleep 0.05
    done
    note "no $1 line matching '$2' within $3 ms"
    return 1
}
# has_line in|out REGEX: a new line matches; if none does, shows the new lines of the event
# REGEX names, or the last ones.
has_line() {
    local lines event
    lines=$(new_lines "$1")
    grep -qE -- "$2" <<<"$lines" && return 0
    note "no $1 line matches: $2"
    event=$(sed -n 's/^\\\] \([A-Z_]*\).*/\1/p' <<<"$2")
    if [[ -n $event ]]; then grep -F "] $event " <<<"$lines" | head -n 3; else tail -n 12 <<<"$lines"; fi |
        cut -c 1-300 | sed 's/^/      got: /'
    return 1
}
no_line() {
    local lines
    lines=$(new_lines "$1")
    ! grep -qE -- "$2" <<<"$lines" && return 0
    note "unexpected $1 line: $(grep -E -m 1 -- "$2" <<<"$lines" | cut -c 1-300)"
    return 1
}
# The IME lines of the run since the mark: event and its method/result/reason.
ime_path() {
    new_out | awk '$4 ~ /^IME_(ENABLE|ENABLE_FALLBACK|ENABLE_DEFAULT_WND|READY)$/ {
        line = $4; for (i = 5; i <= NF; i++) if ($i ~ /^(method|result|reason)=/) line = line " " $i
        printf "%s%s", sep, line; sep = "; " }'
}
clear_lines() { grep -c '\] BUFFER action=clear ' "$input_log" 2>/dev/null || true; }
# wait_clear_lines N: waits until input.log holds N clears of the buffer (5 s at most).
wait_clear_lines() {
    local deadline=$(($(now_ms) + 5000))
    until [[ $(clear_lines) -ge $1 ]]; do
        [[ $(now_ms) -lt $deadline ]] || {
            note "no clear of the buffer within 5000 ms"
            return 1
        }
        sleep 0.05
    done
}

# ------------------------------------------------------------ Tavelio
WM_CLOSE=16
WM_QUERYENDSESSION=17
WM_ENDSESSION=22
WM_COMMAND=273
WM_DPICHANGED=736
EXECUTE_REQUEST=32770 # ExecuteRequestMessage, WM_APP + 2
ENDSESSION_CLOSEAPP=1
IDM_TOGGLE=1002
IDM_SETTINGS=1007
default_settings=$TAVELIO_SOURCE_DIR/tests/support/default-settings.json
tavelio_pid=""
# fresh_settings LOGGING [EXCLUDED]: an empty data folder but for settings.json: the defaults,
# with logging as given and EXCLUDED among the excluded applications.
fresh_settings() {
    rm -rf "$data_dir"
    mkdir -p "$data_dir"
    sed -e "s/\"logging\": false/\"logging\": $1/" \
        ${2:+-e "s/\"excludedApps\": \\[/&\\r\\n    \"$2\",/"} "$default_settings" >"$settings"
}
# launch_tavelio: starts tavelio.exe; returns once its hidden window is there.
launch_tavelio() {
    wine "$build/tavelio.exe" &
    tavelio_pid=$!
    app_probe wait-window hidden 20000 >/dev/null
}
# start_tavelio LOGGING [EXCLUDED] [SPLASH_SHOT]: fresh_settings, then the program; returns
# once the splash (pictured when named) is gone and the hooks are in.
start_tavelio() {
    fresh_settings "$1" "${2:-}"
    launch_tavelio || return 1
    # The splash comes a moment after the hidden window: gone before it came is not gone.
    if app_probe wait-window splash 5000 >/dev/null && [[ -n ${3:-} ]]; then
        sleep 0.3 && screenshot "$3"
    fi
    app_probe wait-gone splash 10000 >/dev/null
}
# finish_tavelio: waits for the program to end (15 s at most); its exit code.
finish_tavelio() {
    local code=0
    for _ in $(seq 150); do
        kill -0 "$tavelio_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$tavelio_pid" 2>/dev/null && note "tavelio.exe did not end; killed"
    wait "$tavelio_pid" || code=$?
    tavelio_pid=""
    return "$code"
}
stop_tavelio() {
    app_probe post hidden $WM_CLOSE 0 0 >/dev/null
    finish_tavelio
}
tavelio_running() { [[ -n $tavelio_pid ]] && kill -0 "$tavelio_pid" 2>/dev/null; }
# Pause or Resume as the tray menu's item does; waits for the toggle's clear of the buffer,
# which also means that every request posted before it has run.
toggle_pause() {
    local clears
    clears=$(clear_lines)
    app_probe post hidden $WM_COMMAND $IDM_TOGGLE 0 >/dev/null || return 1
    wait_clear_lines $((clears + 1))
}
# open_menu: a right click on the icon Wine's explorer shows; prints the menu's probe line.
open_menu() {
    local centre
    centre=$(field centre "$(app_probe tray-icon 5000)")
    [[ -n $centre ]] || return 1
    xdotool mousemove "${centre%,*}" "${centre#*,}" click 3
    app_probe menu-rect 5000
}
# The tray menu from the top: the status line, Pause or Resume, Start with Windows,
# Settings..., Open settings file, Open logs folder (while logging is on), Exit; a separator
# below the status line, below Pause and above Exit. Under Wine's default theme an item is
# 17 px high, a separator 9 px, and the frame 3 px.
menu_item_height=17
declare -A menu_row=([status]=0 [pause]=1 [startup]=2 [window]=3 [settings]=4 [logs]=5)
menu_height() { field rect "$1" | cut -d, -f4; }
# click_menu_item MENU ITEM: ITEM is a name of menu_row, or exit.
click_menu_item() {
    local x y w h top row
    IFS=, read -r x y w h <<<"$(field rect "$1")"
    if [[ $2 == exit ]]; then
        top=$((h - 3 - menu_item_height))
    else
        row=${menu_row[$2]}
        top=$((3 + row * menu_item_height + (row < 2 ? row : 2) * 9))
    fi
    xdotool mousemove $((x + w / 2)) $((y + top + menu_item_height / 2)) click 1
}

# ------------------------------------------------------------ applications
# An application is named as e2e_probe finds it: our target by its title, notepad as
# class:Notepad, wordpad as class:WORDPADTOP.
declare -A app_pid=()    # Unix pid of each application's wine process
declare -A app_winpid=() # its Windows process id, as Tavelio logs it
# open_target NAME [nojournal|words]: a fresh e2e_target titled NAME, foreground, its edit control
# focused, its IME closed.
open_target() {
    local name=$1
    rm -f "$work/$name.journal"
    if [[ ${2:-} == nojournal ]]; then
        wine "$build/tests/e2e/e2e_target.exe" "$name" &
    else
        # words: Ctrl+Backspace deletes a word there, as in editors on Windows.
        wine "$build/tests/e2e/e2e_target.exe" "$name" "$(winepath -w "$work/$name.journal")" \
            ${2:+"$2"} &
    fi
    app_pid[$name]=$!
    app_ready "$name" || return 1
    same "$(probe ime "$name")" "$closed_ime" || {
        note "$name does not start with its IME closed"
        return 1
    }
}
open_notepad() {
    wine notepad >/dev/null 2>&1 &
    app_pid[class:Notepad]=$!
    app_ready class:Notepad
}
# Wine's wordpad: a RichEdit control. The 64-bit prefix does not install it where `wine
# wordpad` looks, so it is started from Wine's own folder.
open_wordpad() {
    local exe
    exe=$(find /usr/lib -path '*/wine/x86_64-windows/wordpad.exe' -print -quit)
    [[ -n $exe ]] || return 1
    wine "$exe" >/dev/null 2>&1 &
    app_pid[class:WORDPADTOP]=$!
    app_ready class:WORDPADTOP
}
app_ready() {
    local ready
    ready=$(probe wait-target "$1" 20000) || {
        note "$1 not ready: $ready"
        return 1
    }
    app_winpid[$1]=$(field pid "$ready")
}
# click_into NAME: a click in the middle of its edit control, below the text of a short
# one: the caret goes to the end.
click_into() {
    local point
    point=$(field point "$(probe edit-point "$1")")
    xdotool mousemove "${point%,*}" "${point#*,}" click 1
    probe wait-target "$1" 5000 >/dev/null
}
# close_app NAME: ends it (killed, so that notepad asks nothing about its text) and waits until
# its window is gone.
close_app() {
    kill "${app_pid[$1]}" 2>/dev/null
    wait "${app_pid[$1]}" 2>/dev/null
    unset "app_pid[$1]"
    local deadline=$(($(now_ms) + 5000))
    while probe text "$1" >/dev/null && [[ $(now_ms) -lt $deadline ]]; do sleep 0.05; done
}
# The journal our target writes: every key it received and every text its edit control held.
journal() { cat "$work/$1.journal" 2>/dev/null; }
journal_lines() { journal "$1" | wc -l; }
# journal_since NAME LINES: the journal without its first LINES lines.
journal_since() { journal "$1" | tail -n +$(($2 + 1)); }
# The texts the edit control went through, one per line.
texts() { sed -n 's/^text "\(.*\)"$/\1/p'; }
# The Backspace presses the edit control received.
backspaces() { grep -c '^key vk=0x08 ' || true; }
app_text() { field text "$(probe text "$1")" | sed 's/^"//; s/"$//'; }
# wait_text NAME TEXT [MS]: waits until the application holds exactly TEXT (line breaks
# written \r\n).
wait_text() {
    local out
    out=$(probe wait-text "$1" "$2" "${3:-5000}") || {
        note "$1 holds $(field text "$out"), expected \"$2\""
        return 1
    }
}
type_text() { xdotool type --delay "$type_delay" -- "$1"; }

# ------------------------------------------------------------ the road
road_before=""
road_journal=0
press_ms=0
# type_word NAME WORD: marks the logs, then types WORD after what NAME holds (road_before).
type_word() {
    road_before=$(app_text "$1")
    mark
    type_text "$2"
}
# hotkey_run NAME [KEYS]: marks the journal, presses Ctrl+Backspace (or KEYS) and waits for the
# run it starts to end.
hotkey_run() {
    road_journal=$(journal_lines "$1")
    press_ms=$(now_ms)
    xdotool key "${2:-ctrl+BackSpace}"
    wait_line out '\] (EXECUTE_SUCCESS|EXECUTE_ABORT) ' 20000
}

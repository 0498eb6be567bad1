# shellcheck shell=bash disable=SC2034
# Every shipped or tested Windows executable is linked statically: it may import system
# DLLs only, so it runs on a bare Windows with nothing installed beside it.

# msvcrt is the C runtime MinGW-w64 targets; advapi32 is pulled in by its startup and
# by registry calls; wtsapi32 tells the program when the session is unlocked, so that it
# puts its hooks in again; comctl32 and comdlg32 give the settings window its spin buttons
# and its file picker. Anything else needs a reason before it joins this list.
TAVELIO_ALLOWED_DLLS=(kernel32 user32 gdi32 gdiplus imm32 shell32 shlwapi ole32 msvcrt advapi32
    wtsapi32 comctl32 comdlg32)

# check_windows_imports DIR: reads the import table of every .exe, .dll and .ime under DIR
# (Wine prefixes excepted: Wine's own DLLs live in their drive_c) and fails on any DLL
# outside the list.
check_windows_imports() {
    local dir=$1 binary dll bad=0 count=0
    local objdump=x86_64-w64-mingw32-objdump
    while IFS= read -r -d '' binary; do
        count=$((count + 1))
        local imports=()
        mapfile -t imports < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p' |
            tr '[:upper:]' '[:lower:]' | sed 's/\.dll$//' | sort -u)
        local foreign=()
        for dll in "${imports[@]}"; do
            if [[ " ${TAVELIO_ALLOWED_DLLS[*]} " != *" $dll "* ]]; then
                foreign+=("$dll.dll")
            fi
        done
        if [[ ${#foreign[@]} -gt 0 ]]; then
            printf 'FAIL %s imports %s\n' "${binary#"$dir"/}" "${foreign[*]}"
            bad=1
        else
            printf 'ok   %s: %s\n' "${binary#"$dir"/}" "${imports[*]}"
        fi
    done < <(find "$dir" \( -name drive_c -o -name dosdevices -o -name CMakeFiles \) -prune -o \
        -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.ime' \) -print0 | sort -z)
    if [[ $count -eq 0 ]]; then
        echo "no Windows binaries under $dir" >&2
        return 1
    fi
    return "$bad"
}

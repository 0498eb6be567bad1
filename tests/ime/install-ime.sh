#!/bin/sh
# Installs the test IME into a Wine prefix: tavtest.ime in C:\windows\system32, named as the
# IME of the keyboard layout Wine uses for the prefix's locale.
#   install-ime.sh PREFIX IME_FILE [LAYOUT]
# LAYOUT defaults to E0010409 (an IME over US English, what Wine picks in a C or en-US prefix).
# Run it where wine is (inside the Wine root); the prefix must exist (wineboot -i).
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX IME_FILE [LAYOUT]" >&2
    exit 2
fi
prefix=$1
ime_file=$2
layout=${3:-E0010409}

if [ ! -d "$prefix/drive_c/windows/system32" ]; then
    echo "install-ime: $prefix is no Wine prefix (run wineboot -i first)" >&2
    exit 1
fi
if [ ! -f "$ime_file" ]; then
    echo "install-ime: $ime_file not found" >&2
    exit 1
fi

cp "$ime_file" "$prefix/drive_c/windows/system32/tavtest.ime"
key="HKLM\\System\\CurrentControlSet\\Control\\Keyboard Layouts\\$layout"
WINEPREFIX=$prefix wine reg add "$key" /v "Ime File" /t REG_SZ /d tavtest.ime /f >/dev/null
WINEPREFIX=$prefix wine reg add "$key" /v "Layout Text" /t REG_SZ /d "Tavelio test IME" /f >/dev/null
WINEPREFIX=$prefix wine reg add "$key" /v "Layout File" /t REG_SZ /d kbdus.dll /f >/dev/null
# The registry is written by wineserver when it exits; wait so the next run sees it.
WINEPREFIX=$prefix wineserver -w
echo "install-ime: tavtest.ime is the IME of layout $layout in $prefix"

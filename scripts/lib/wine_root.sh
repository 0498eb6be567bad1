# shellcheck shell=bash disable=SC2034
# The Wine environment: a Debian 13 root with Wine 10 (Debian 12's Wine 8 drops scan-code
# SendInput), built once with debootstrap and cached outside the source tree. Commands run in
# it through `unshare` + chroot, so every mount and process ends with the command.
#
#   ensure_wine_root                 build the root unless a complete one is cached
#   in_wine_root PREFIX CMD...       run CMD in the root, on its own Xvfb display, with
#                                    WINEPREFIX=PREFIX (created and booted on first use)
#   enter_wine_root ...              how every harness starts (below)
#
# Requires common.sh. Needs root.

TAVELIO_WINE_ROOT=${TAVELIO_WINE_ROOT:-/var/cache/tavelio/wine-root}
TAVELIO_WINE_ROOT_SUITE=trixie
# Add here what the Wine tiers need; a changed list rebuilds the cached root.
TAVELIO_WINE_ROOT_PACKAGES=(wine64 wine xvfb xdotool x11-utils imagemagick cmake)

# The archive debootstrap fetches from: TAVELIO_DEBIAN_MIRROR, else the first one this
# machine's apt uses (deb822 files first, then sources.list). The root's suite differs from
# the host's, the archive is the same; a security archive holds no full suite.
# shellcheck disable=SC2120 # the folder is an argument for trying other configurations
debian_mirror() {
    local apt=${1:-/etc/apt} uri
    uri=${TAVELIO_DEBIAN_MIRROR:-$({
        awk 'BEGIN { RS = "" } !/(^|\n)Enabled:[ \t]*[Nn]o/ {
            n = split($0, line, "\n")
            for (i = 1; i <= n; i++) if (sub(/^URIs:[ \t]*/, "", line[i])) print line[i] }' \
            "$apt"/sources.list.d/*.sources 2>/dev/null | tr -s ' \t' '\n\n'
        sed -n 's/\[[^]]*\]//; s/^[[:space:]]*deb\(-src\)\{0,1\}[[:space:]]\{1,\}\([^[:space:]]*\).*/\2/p' \
            "$apt/sources.list" 2>/dev/null
    } | grep -v security | head -n 1)}
    [[ -n $uri ]] || die "no Debian archive in $apt; set TAVELIO_DEBIAN_MIRROR"
    echo "$uri"
}

wine_root_stamp() {
    printf 'suite=%s\npackages=%s\n' "$TAVELIO_WINE_ROOT_SUITE" "${TAVELIO_WINE_ROOT_PACKAGES[*]}"
}

wine_root_is_current() {
    [[ -f $TAVELIO_WINE_ROOT/etc/tavelio-root-stamp ]] &&
        [[ $(cat "$TAVELIO_WINE_ROOT/etc/tavelio-root-stamp") == "$(wine_root_stamp)" ]]
}

ensure_wine_root() {
    require_root "building the Wine root"
    local parent lock
    parent=$(dirname "$TAVELIO_WINE_ROOT")
    mkdir -p "$parent"
    # Two runs at once must not both build, nor one use a half-built root.
    exec {lock}>"$parent/.$(basename "$TAVELIO_WINE_ROOT").lock"
    flock "$lock"
    if wine_root_is_current; then
        log "Wine root: cached at $TAVELIO_WINE_ROOT"
        flock -u "$lock"
        return 0
    fi

    # Build under a temporary name and rename only when complete: an interrupted build is
    # never taken for a cache. Leftovers of earlier interrupted builds go first; they hold
    # no mounts because debootstrap ran in its own mount namespace.
    local partial="$TAVELIO_WINE_ROOT.partial"
    rm -rf --one-file-system "$partial" "$TAVELIO_WINE_ROOT.old"
    local includes mirror
    mirror=$(debian_mirror) || exit 1
    includes=$(
        IFS=,
        echo "${TAVELIO_WINE_ROOT_PACKAGES[*]}"
    )
    log "Wine root: debootstrap $TAVELIO_WINE_ROOT_SUITE from $mirror into $partial (a few minutes)"
    unshare -m -- debootstrap --variant=minbase --include="$includes" \
        "$TAVELIO_WINE_ROOT_SUITE" "$partial" "$mirror" >"$parent/debootstrap.log" 2>&1 ||
        {
            tail -n 30 "$parent/debootstrap.log" >&2
            die "debootstrap failed (full log: $parent/debootstrap.log)"
        }
    # The downloaded packages are half the size and never needed again.
    rm -f "$partial"/var/cache/apt/archives/*.deb
    wine_root_stamp >"$partial/etc/tavelio-root-stamp"
    if [[ -e $TAVELIO_WINE_ROOT ]]; then
        mv "$TAVELIO_WINE_ROOT" "$TAVELIO_WINE_ROOT.old"
    fi
    mv "$partial" "$TAVELIO_WINE_ROOT"
    rm -rf --one-file-system "$TAVELIO_WINE_ROOT.old"
    log "Wine root: ready ($(du -sh "$TAVELIO_WINE_ROOT" | cut -f1))"
    flock -u "$lock"
}

# in_wine_root PREFIX CMD... : the source tree is bind-mounted at its own absolute path, so
# paths CMake wrote into the build trees (CTestTestfile.cmake) work unchanged inside. Extra
# host folders can be added with TAVELIO_WINE_BINDS="dir1 dir2". CMD starts in the current
# folder when that is mounted inside, in / otherwise. Environment passed in: TAVELIO_*
# variables, plus WINEPREFIX, DISPLAY and WINEDEBUG=-all set inside.
in_wine_root() {
    require_root "running in the Wine root"
    local prefix=$1
    shift
    wine_root_is_current || die "no Wine root at $TAVELIO_WINE_ROOT (run ensure_wine_root)"
    local root=$TAVELIO_WINE_ROOT
    local binds=("$TAVELIO_SOURCE_DIR")
    local extra
    for extra in ${TAVELIO_WINE_BINDS:-}; do
        binds+=("$(cd "$extra" && pwd -P)")
    done
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd -P)
    [[ $prefix/ == "$TAVELIO_SOURCE_DIR"/* ]] || binds+=("$prefix")
    local handed=(TAVELIO_SOURCE_DIR="$TAVELIO_SOURCE_DIR") name
    for name in $(compgen -e); do
        if [[ $name == TAVELIO_* && $name != TAVELIO_SOURCE_DIR ]]; then
            handed+=("$name=${!name}")
        fi
    done
    # A mount namespace so the mounts vanish with the process, a PID namespace so that Wine's
    # lingering processes (wineserver, explorer, services) end with it too.
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare -m -p -f --kill-child -- bash -euo pipefail -c '
        root=$1
        shift
        nbinds=$1
        shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount --rbind /sys "$root/sys"
        mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
        for ((i = 0; i < nbinds; i++)); do
            mkdir -p "$root$1"
            mount --bind "$1" "$root$1"
            shift
        done
        exec chroot "$root" "$@"
    ' bash "$root" "${#binds[@]}" "${binds[@]}" \
        /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp/home LANG=C.UTF-8 \
        "${handed[@]}" TAVELIO_WORKDIR="$PWD" WINEPREFIX="$prefix" \
        bash "$TAVELIO_SOURCE_DIR/scripts/lib/wine_session.sh" "$@"
}

# Only the Wine root has its stamp at /etc.
inside_wine_root() { [[ -f /etc/tavelio-root-stamp ]]; }

# enter_wine_root [--fresh] BUILD PREFIX "TARGET..." ARG...: how a harness starts. Inside the
# root it returns at once. On the host it configures the Windows cross build BUILD when it has
# no tree yet, builds the TARGETs, and runs the calling script again in the root with ARGs, on
# PREFIX (made anew with --fresh); then it exits with the script's status. With no TARGETs
# nothing is built: BUILD is only a folder the script needs in the root.
enter_wine_root() {
    inside_wine_root && return 0
    set -e
    local fresh=0 status=0
    [[ $1 == --fresh ]] && fresh=1 && shift
    local build=$1 prefix=$2 targets=$3
    shift 3
    if [[ -n $targets ]]; then
        [[ -f $build/CMakeCache.txt ]] || cmake -S "$TAVELIO_SOURCE_DIR" -B "$build" \
            --toolchain "$TAVELIO_SOURCE_DIR/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
        # shellcheck disable=SC2086 # a list of names
        cmake --build "$build" --target $targets -j2
    fi
    ensure_wine_root
    [[ $fresh -eq 0 ]] || rm -rf "$prefix"
    [[ $build/ == "$TAVELIO_SOURCE_DIR"/* ]] || TAVELIO_WINE_BINDS+=" $build"
    in_wine_root "$prefix" bash "$(realpath "$0")" "$@" || status=$?
    exit "$status"
}

# shellcheck shell=bash disable=SC2034
# Host packages (Debian 12) the build and test scripts need.

# What scripts/test uses on the host; the Wine tiers run inside the root of wine_root.sh.
TAVELIO_HOST_PACKAGES=(
    cmake make g++ googletest
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    debootstrap
    clang libclang-rt-14-dev libbenchmark-dev clang-format
    valgrind
    nsis
)

package_installed() {
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) == installed ]]
}

# ensure_host_packages PACKAGE... installs the ones that are missing; the package lists
# are refreshed only when something has to be installed.
ensure_host_packages() {
    local missing=() package
    for package in "$@"; do
        package_installed "$package" || missing+=("$package")
    done
    if [[ ${#missing[@]} -eq 0 ]]; then
        log "host packages: all ${#@} present"
        return 0
    fi
    require_root "installing ${missing[*]}"
    log "host packages: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

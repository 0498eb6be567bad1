# shellcheck shell=bash disable=SC2034
# Shared helpers for the scripts in scripts/. Source it; it defines functions only
# (plus TAVELIO_SOURCE_DIR), so it is safe under `set -euo pipefail`.

TAVELIO_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"

log() { printf '[tavelio] %s\n' "$*" >&2; }
die() {
    printf '[tavelio] error: %s\n' "$*" >&2
    exit 1
}

require_root() {
    if [[ $(id -u) -ne 0 ]]; then
        die "$1 needs root (apt-get, debootstrap, chroot); run it as root"
    fi
}

# Stage bookkeeping: run_stage NAME COMMAND... runs the command, records its status and
# wall time, and never aborts the caller, so one failing tier does not hide the others.
declare -ga TAVELIO_STAGE_NAMES=()
declare -ga TAVELIO_STAGE_RESULTS=()
declare -ga TAVELIO_STAGE_SECONDS=()
declare -ga TAVELIO_STAGE_NOTES=()

# Inside a stage, stage_note "42 tests" puts a short note in the summary table.
stage_note() { :; }

# Always returns 0: ask stage_failed NAME when a later stage depends on this one.
run_stage() {
    local name=$1
    shift
    local start=$SECONDS status=0
    printf '\n==== %s ====\n' "$name" >&2
    # The stage runs in a subshell so that it may fail without ending the caller. It must not
    # be tested with || or `if`: bash would then ignore `set -e` inside it. The note travels
    # back through a file because the subshell cannot set our variables.
    local note_file errexit=0
    note_file=$(mktemp)
    [[ $- == *e* ]] && errexit=1
    set +e
    (
        set -euo pipefail
        stage_note() { printf '%s' "$*" >"$note_file"; }
        "$@"
    )
    status=$?
    [[ $errexit -eq 1 ]] && set -e
    local seconds=$((SECONDS - start))
    TAVELIO_STAGE_NAMES+=("$name")
    TAVELIO_STAGE_SECONDS+=("$seconds")
    TAVELIO_STAGE_NOTES+=("$(cat "$note_file")")
    rm -f "$note_file"
    if [[ $status -eq 0 ]]; then
        TAVELIO_STAGE_RESULTS+=(ok)
        printf '==== %s: ok (%ss)\n' "$name" "$seconds" >&2
    else
        TAVELIO_STAGE_RESULTS+=(FAILED)
        printf '==== %s: FAILED with status %s (%ss)\n' "$name" "$status" "$seconds" >&2
    fi
}

# Records a stage that did not run, so the summary says why.
skip_stage() {
    TAVELIO_STAGE_NAMES+=("$1")
    TAVELIO_STAGE_RESULTS+=(skipped)
    TAVELIO_STAGE_SECONDS+=(0)
    TAVELIO_STAGE_NOTES+=("$2")
    printf '\n==== %s: skipped (%s)\n' "$1" "$2" >&2
}

# Prints the table of stages and returns non-zero when any stage failed.
print_stage_summary() {
    local i failed=0
    printf '\n%-24s %-8s %7s  %s\n' stage result seconds notes
    for i in "${!TAVELIO_STAGE_NAMES[@]}"; do
        printf '%-24s %-8s %7s  %s\n' "${TAVELIO_STAGE_NAMES[$i]}" "${TAVELIO_STAGE_RESULTS[$i]}" \
            "${TAVELIO_STAGE_SECONDS[$i]}" "${TAVELIO_STAGE_NOTES[$i]}"
        [[ ${TAVELIO_STAGE_RESULTS[$i]} == FAILED ]] && failed=1
    done
    return "$failed"
}

stage_failed() {
    local i
    for i in "${!TAVELIO_STAGE_NAMES[@]}"; do
        if [[ ${TAVELIO_STAGE_NAMES[$i]} == "$1" ]]; then
            [[ ${TAVELIO_STAGE_RESULTS[$i]} != ok ]]
            return
        fi
    done
    return 0 # never ran counts as not usable
}

# shellcheck shell=bash
# What every host-side scenario starts with, sourced after its arguments
# WINE_RUN PREFIX_DEFAULT UNINSTALL_EXE are in $1 to $3: `run` starts a
# program in the prefix, `reg32` reaches the keys in the program's own view,
# and `check` records a failure without ending the script (exit $failed).

wine_run=$1
prefix=${UNINST_WINEPREFIX:-$2}
exe=$3
run() { "$wine_run" --prefix-default "$prefix" "$@"; }
# The keys as the 32-bit program and a 32-bit setup see them: in a 64-bit
# prefix Wine's reg is a 64-bit program, and /reg:32 gives it their view. A
# 64-bit build (UNINST_PROGRAM_BITS=64) sees the 64-bit view, as reg does.
reg_view=()
[[ ${UNINST_WINEARCH:-win32} != win64 || ${UNINST_PROGRAM_BITS:-32} == 64 ]] || reg_view=(/reg:32)
reg32() { run reg "$@" "${reg_view[@]}"; }

run --prepare
export WINEPREFIX=$prefix WINEARCH=${UNINST_WINEARCH:-win32} WINEDEBUG=-all
drive=$prefix/drive_c

failed=0
check() {
    if ! eval "$1"; then
        echo "FAILED: $2" >&2
        failed=1
    fi
}

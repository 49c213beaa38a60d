#!/usr/bin/env bash
# Names only the host can make: Wine shows a host name holding "\" as it is,
# so a file named "..\E2E Host Outside\keep.txt" in the install folder reads
# as a path to a file outside it. A quiet run must leave that file, and the
# folder outside, exactly as they were.
#
#   host_names_test.bash WINE_RUN PREFIX_DEFAULT UNINSTALL_EXE
set -euo pipefail

wine_run=$1
prefix=${UNINST_WINEPREFIX:-$2}
exe=$3
run() { "$wine_run" --prefix-default "$prefix" "$@"; }

run --prepare
drive=$prefix/drive_c
app="$drive/E2E Host App"
outside="$drive/E2E Host Outside"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\e2ehostapp.exe'
clean() {
    rm -rf "$app" "$outside"
    run reg delete "$key" /f >/dev/null 2>&1 || true
}
trap clean EXIT
clean

mkdir -p "$app/sub" "$outside/inner"
echo user >"$outside/keep.txt"
echo user >"$outside/inner/more.txt"
echo x >"$app/e2ehostapp.exe"
echo x >"$app/sub/file.txt"
echo host >"$app/..\\E2E Host Outside\\keep.txt"
mkdir "$app/..\\E2E Host Outside\\inner"
printf 'ACTION: CreateDir: "C:\\E2E Host App"\r\n' >"$app/ST6UNST.LOG"
run reg add "$key" /ve /d 'C:\E2E Host App\e2ehostapp.exe' /f >/dev/null

status=0
run "$exe" /quiet e2ehostapp.exe >/dev/null || status=$?

failed=0
check() {
    if ! eval "$1"; then
        echo "FAILED: $2" >&2
        failed=1
    fi
}
check '[[ $status == 0 ]]' "the quiet run ended with status $status"
check '[[ -f $outside/keep.txt && -f $outside/inner/more.txt ]]' \
    "a file outside the install folder was deleted through a name holding \\"
check '[[ -f $app/..\\E2E\ Host\ Outside\\keep.txt ]]' "the host-named file itself was deleted"
check '[[ ! -e $app/e2ehostapp.exe && ! -e $app/sub/file.txt ]]' "the application's own files stayed"
check '! run reg query "$key" >/dev/null 2>&1' "the App Paths entry stayed"
exit $failed

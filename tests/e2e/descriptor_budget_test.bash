#!/usr/bin/env bash
# A large install where Wine's server may keep fewer descriptors open than
# the pre-flight would hold (each held file is one). At the first refusal the
# run gives back every file it holds and checks the rest without holding, so
# a quiet run still removes everything and lowers the count once, where it
# would otherwise have refused the files it could no longer open.
#
#   descriptor_budget_test.bash WINE_RUN PREFIX_DEFAULT UNINSTALL_EXE
set -euo pipefail

# shellcheck source=host_scenario.bash
source "$(dirname "${BASH_SOURCE[0]}")/host_scenario.bash"
app="$drive/E2E Budget App"
outside="$drive/E2E Budget Outside"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\e2ebudget.exe'
shared='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
shared_file='C:\WINDOWS\SYSTEM\E2EBUDGET.DLL'
files=2500
budget=1200

clean() {
    # The next run starts a server with the machine's own limits.
    wineserver -k 2>/dev/null || true
    rm -rf "$app" "$outside"
    reg32 delete "$key" /f >/dev/null 2>&1 || true
    reg32 delete "$shared" /v "$shared_file" /f >/dev/null 2>&1 || true
}
trap clean EXIT
clean

mkdir -p "$outside"
echo user >"$outside/keep.txt"
for ((d = 0; d < 25; d++)); do
    mkdir -p "$app/part$d"
    for ((f = 0; f < files / 25; f++)); do
        : >"$app/part$d/file$f.dat"
    done
done
echo x >"$app/e2ebudget.exe"
printf 'ACTION: CreateDir: "C:\\E2E Budget App"\r\nACTION: SystemFile: "%s"\r\n' \
    "$shared_file" >"$app/ST6UNST.LOG"
reg32 add "$key" /ve /d 'C:\E2E Budget App\e2ebudget.exe' /f >/dev/null
reg32 add "$shared" /v "$shared_file" /t REG_DWORD /d 3 /f >/dev/null

# A server that may keep only $budget descriptors open, fewer than the files.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
(
    ulimit -Sn "$budget"
    ulimit -Hn "$budget"
    wineserver -p
)

status=0
run "$exe" /quiet e2ebudget.exe >/dev/null || status=$?
count=$(reg32 query "$shared" /v "$shared_file" | tr -d '\r' | awk '$1 ~ /E2EBUDGET/ {print $3}')
check '[[ $status == 0 ]]' "the quiet run ended with status $status"
check '[[ ! -e $app ]]' "the install folder stayed, with $(find "$app" -type f | wc -l) files"
check '[[ $count == 0x2 ]]' "the count is $count, not 0x2"
check '[[ -f $outside/keep.txt ]]' "a file outside the application was deleted"
check '! reg32 query "$key" >/dev/null 2>&1' "the App Paths entry stayed"
exit $failed

#!/usr/bin/env bash
# A backup to a disk too small to hold it: the run must change nothing, say
# so and end 1603, and leave no manifest, so that the cut-short backup cannot
# be taken for a whole one. The disk is a 64 KB tmpfs given to Wine as a
# drive; where the host allows no mounting the test is skipped (77).
#
#   backup_full_disk_test.bash WINE_RUN PREFIX_DEFAULT UNINSTALL_EXE
set -euo pipefail

# shellcheck source=host_scenario.bash
source "$(dirname "${BASH_SOURCE[0]}")/host_scenario.bash"
app="$drive/E2E Full App"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\e2efull.exe'
shared='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
shared_file='C:\WINDOWS\SYSTEM\E2EFULL.DLL'
disk=$(mktemp -d)
letter=
for candidate in q r s t u v; do
    if [[ ! -e $prefix/dosdevices/$candidate: ]]; then
        letter=$candidate
        break
    fi
done

clean() {
    [[ -z $letter ]] || rm -f "$prefix/dosdevices/$letter:"
    umount "$disk" 2>/dev/null || true
    rmdir "$disk" 2>/dev/null || true
    rm -rf "$app"
    reg32 delete "$key" /f >/dev/null 2>&1 || true
    reg32 delete "$shared" /v "$shared_file" /f >/dev/null 2>&1 || true
}
trap clean EXIT

if [[ -z $letter ]] || ! mount -t tmpfs -o size=64k tmpfs "$disk" 2>/dev/null; then
    echo "SKIPPED: this host lets the test mount no small disk"
    exit 77
fi
ln -s "$disk" "$prefix/dosdevices/$letter:"

mkdir -p "$app/data"
for ((i = 0; i < 4; i++)); do
    head -c 40000 /dev/urandom >"$app/data/part$i.bin"
done
echo x >"$app/e2efull.exe"
printf 'ACTION: CreateDir: "C:\\E2E Full App"\r\nACTION: SystemFile: "%s"\r\n' \
    "$shared_file" >"$app/ST6UNST.LOG"
reg32 add "$key" /ve /d 'C:\E2E Full App\e2efull.exe' /f >/dev/null
reg32 add "$shared" /v "$shared_file" /t REG_DWORD /d 3 /f >/dev/null
before=$(cd "$app" && find . -type f -exec md5sum {} + | sort)

status=0
output=$(run "$exe" /quiet "/backup:${letter^^}:\\" e2efull.exe 2>&1) || status=$?
count=$(reg32 query "$shared" /v "$shared_file" | tr -d '\r' | awk '$1 ~ /E2EFULL/ {print $3}')
after=$(cd "$app" && find . -type f -exec md5sum {} + | sort)
# The host sees only the low byte of the exit code; the log line has it whole.
check '[[ $status == $((1603 & 255)) && $output == *"Exit code: 1603"* ]]' \
    "the run ended with status $status: $output"
check '[[ $output == *"Disk full"* ]]' "the reason is not named: $output"
check '[[ $before == "$after" ]]' "the install folder changed"
check '[[ $count == 0x3 ]]' "the count is $count, not 0x3"
check 'reg32 query "$key" >/dev/null 2>&1' "the App Paths entry went"
check '[[ -z $(find "$disk" -name manifest.txt) ]]' "the cut-short backup has a manifest"
exit $failed

#!/usr/bin/env bash
# Names only the host can make: Wine shows a host name holding "\" as it is,
# so a file named "..\E2E Host Outside\keep.txt" in the install folder reads
# as a path to a file outside it. A quiet run must leave that file, and the
# folder outside, exactly as they were.
#
# With "twins", the install log twice in one folder, in two letter cases.
# With "unopenable", items Wine lists as files but cannot open: a name
# holding a character no Windows name may hold, and a pipe. The detection
# rule must call the application refused, as the quiet run refuses it.
#
#   host_names_test.bash WINE_RUN PREFIX_DEFAULT UNINSTALL_EXE [twins]
set -euo pipefail

# shellcheck source=host_scenario.bash
source "$(dirname "${BASH_SOURCE[0]}")/host_scenario.bash"
scenario=${4:-backslash}
app="$drive/E2E Host App"
outside="$drive/E2E Host Outside"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\e2ehostapp.exe'
twins="$drive/E2E Host Twins"
odd="$drive/E2E Host Odd"
odd_key="${key%\\*}\\e2ehostodd.exe"
twin_keys=("${key%\\*}\\e2ehosttwins.exe" "${key%\\*}\\e2ehosttwins2.exe")
shared='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
shared_file='C:\WINDOWS\SYSTEM\E2EHOSTSHR.DLL'
clean() {
    rm -rf "$app" "$outside" "$twins" "$odd"
    for k in "$key" "${twin_keys[@]}" "$odd_key"; do
        reg32 delete "$k" /f >/dev/null 2>&1 || true
    done
    reg32 delete "$shared" /v "$shared_file" /f >/dev/null 2>&1 || true
}
trap clean EXIT
clean

if [[ $scenario == backslash ]]; then
    mkdir -p "$app/sub" "$outside/inner"
    echo user >"$outside/keep.txt"
    echo user >"$outside/inner/more.txt"
    echo x >"$app/e2ehostapp.exe"
    echo x >"$app/sub/file.txt"
    echo host >"$app/..\\E2E Host Outside\\keep.txt"
    mkdir "$app/..\\E2E Host Outside\\inner"
    printf 'ACTION: CreateDir: "C:\\E2E Host App"\r\n' >"$app/ST6UNST.LOG"
    reg32 add "$key" /ve /d 'C:\E2E Host App\e2ehostapp.exe' /f >/dev/null

    status=0
    run "$exe" /quiet e2ehostapp.exe >/dev/null || status=$?

    check '[[ $status == 0 ]]' "the quiet run ended with status $status"
    check '[[ -f $outside/keep.txt && -f $outside/inner/more.txt ]]' \
        "a file outside the install folder was deleted through a name holding \\"
    check '[[ -f $app/..\\E2E\ Host\ Outside\\keep.txt ]]' \
        "the host-named file itself was deleted"
    check '[[ ! -e $app/e2ehostapp.exe && ! -e $app/sub/file.txt ]]' \
        "the application's own files stayed"
    check '! reg32 query "$key" >/dev/null 2>&1' "the App Paths entry stayed"
fi

if [[ $scenario == twins ]]; then
    # Install log twins: a host folder tells letter case apart, so ST6UNST.LOG
    # and st6unst.log are two files. Both go with the first run: the twin left
    # would be read by a later run for another name registered for the same
    # folder, which would lower the count a second time.
    mkdir -p "$twins"
    echo x >"$twins/e2ehosttwins.exe"
    printf 'ACTION: SystemFile: "%s"\r\n' "$shared_file" >"$twins/ST6UNST.LOG"
    cp "$twins/ST6UNST.LOG" "$twins/st6unst.log"
    for k in "${twin_keys[@]}"; do
        reg32 add "$k" /ve /d 'C:\E2E Host Twins\e2ehosttwins.exe' /f >/dev/null
    done
    reg32 add "$shared" /v "$shared_file" /t REG_DWORD /d 3 /f >/dev/null
    count() {
        reg32 query "$shared" /v "$shared_file" | tr -d '\r' | awk '$1 ~ /E2EHOSTSHR/ {print $3}'
    }

    status=0
    run "$exe" /quiet e2ehosttwins.exe >/dev/null || status=$?
    check '[[ $status == 0 ]]' "the run with log twins ended with status $status"
    check '[[ ! -e $twins/ST6UNST.LOG && ! -e $twins/st6unst.log ]]' "an install log twin stayed"
    check '[[ $(count) == 0x2 ]]' "the first run left the count at $(count)"
    run "$exe" /quiet e2ehosttwins2.exe >/dev/null || true
    check '[[ $(count) == 0x2 ]]' "a second run lowered the count again, to $(count)"
fi
if [[ $scenario == unopenable ]]; then
    # 1603, or its low byte where the exit status is a host one.
    refused() { [[ $1 == 1603 || $1 == 67 ]]; }
    for kind in name pipe; do
        rm -rf "$odd"
        mkdir -p "$odd/sub"
        echo x >"$odd/e2ehostodd.exe"
        echo x >"$odd/sub/plain.txt"
        printf 'ACTION: CreateDir: "C:\\E2E Host Odd"\r\n' >"$odd/ST6UNST.LOG"
        if [[ $kind == name ]]; then echo x >"$odd/sub/what?.txt"; else mkfifo "$odd/sub/pipe.dat"; fi
        reg32 add "$odd_key" /ve /d 'C:\E2E Host Odd\e2ehostodd.exe' /f >/dev/null
        before=$(cd "$odd" && find . | sort)

        status=0
        run "$exe" /list e2ehostodd.exe >/dev/null || status=$?
        check 'refused $status' "$kind: /list ended with status $status, not as refused"
        status=0
        run "$exe" /quiet e2ehostodd.exe >/dev/null || status=$?
        check 'refused $status' "$kind: the quiet run ended with status $status"
        check '[[ $(cd "$odd" && find . | sort) == "$before" ]]' \
            "$kind: the refused run changed the install folder"
        check 'reg32 query "$odd_key" >/dev/null 2>&1' "$kind: the refused run removed App Paths"
    done
fi
exit $failed

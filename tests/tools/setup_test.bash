#!/usr/bin/env bash
# The set-up's decisions, fed apt's answers as a half-synced mirror, a busy
# dpkg or a missing package produce them; nothing here touches apt or the
# network. Ends with "setup: N passed, N failed".
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../tools/lib/apt.bash
source "$repo/tools/lib/apt.bash"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
current=""

check() {
    local what=$1
    shift
    if "$@"; then
        return 0
    fi
    echo "FAIL [$current] $what" >&2
    failed_here=1
}
begin() {
    current=$1
    failed_here=0
    rm -rf "${work:?}"/*
    : >"$work/calls"
    : >"$work/pauses"
    : >"$work/installed"
    : >"$work/answers"
    : >"$work/versions"
    : >"$work/candidates"
    APT_KEEP_INSTALLED=0
    APT_CODENAME=bookworm
    APT_UPDATE_TRIES=3
    APT_INSTALL_TRIES=5
    APT_PAUSE_SECONDS=20
}
end() {
    if ((failed_here)); then
        failed=$((failed + 1))
        echo "--- what the set-up said:" >&2
        cat "$work/said" >&2
    else
        passed=$((passed + 1))
    fi
}

# The canned answers, in call order: "status|file holding the output".
answer() {
    local status=$1 text=$2 n
    n=$(wc -l <"$work/answers")
    printf '%s' "$text" >"$work/output.$n"
    printf '%s|%s\n' "$status" "$work/output.$n" >>"$work/answers"
}

# apt_run runs in a pipeline's subshell: the fake keeps its state in files.
apt_run() {
    local n line status file
    n=$(wc -l <"$work/calls")
    echo "$*" >>"$work/calls"
    line=$(sed -n "$((n + 1))p" "$work/answers")
    if [[ -z $line ]]; then
        echo "E: the test gave no answer for call $((n + 1)): $*"
        return 99
    fi
    status=${line%%|*}
    file=${line#*|}
    cat "$file"
    if [[ $1 == install && $status == 0 ]]; then
        local word
        for word in "$@"; do
            case $word in
            install | -y | -q | -t | --no-remove | "${APT_CODENAME:-}") ;;
            *)
                grep -qxF "${word%%=*}" "$work/broken" 2>/dev/null && continue
                echo "${word%%=*}" >>"$work/installed"
                [[ $word != *=* ]] || echo "$word" >>"$work/versions"
                ;;
            esac
        done
    fi
    return "$status"
}
apt_pause() { echo "$1" >>"$work/pauses"; }
apt_is_installed() { grep -qxF "$1" "$work/installed"; }
# "name=version" lines of what the fake installed at a version.
apt_installed_version() {
    apt_is_installed "$1" || return 0
    sed -n "s/^$1=//p" "$work/versions" | tail -1
}
apt_candidate_version() { sed -n "s/^$1=//p" "$work/candidates" | tail -1; }
apt_say() { printf '%s\n' "$*" >>"$work/said"; }

said() { grep -qF -- "$1" "$work/said"; }
# Installs the packages named after the status apt_install must end with.
install_exits() {
    local expected=$1 status
    shift
    apt_install "$@" >>"$work/shown"
    status=$?
    check "exit $expected" test "$status" -eq "$expected"
}
calls_are() {
    local expected
    expected=$(printf '%s\n' "$@")
    [[ $(<"$work/calls") == "$expected" ]] || {
        echo "calls were:" >&2
        cat "$work/calls" >&2
        return 1
    }
}
pauses() { [[ $(wc -l <"$work/pauses") -eq $1 ]]; }

# What this machine's mirror answered today, and what apt says when a
# multiarch library's two architectures end up at different versions.
mirror_sync='Hit:1 http://deb.debian.org/debian bookworm InRelease
Get:2 http://deb.debian.org/debian-security bookworm-security InRelease [48.0 kB]
Err:3 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.'
unresolvable='Reading package lists...
Some packages could not be installed. This may mean that you have
requested an impossible situation or if you are using the unstable
distribution that some required packages have not yet been created
or been moved out of Incoming.
The following information may help to resolve the situation:

The following packages have unmet dependencies:
 libwine:i386 : Depends: zlib1g:i386 (>= 1:1.2.0) but it is not going to be installed
E: Unable to correct problems, you have held broken packages.'
locked='E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)
E: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another process using it?'
done_ok='Setting up wine32:i386 (8.0~repack-4) ...'

# ------------------------------------------------------------------ cases

begin "mirror mid-sync: update retried then skipped, install retried on the release's suite"
answer 100 "$mirror_sync"
answer 100 "$mirror_sync"
answer 100 "$mirror_sync"
answer 100 "$unresolvable"
answer 0 "$done_ok"
apt_update >>"$work/shown"
install_exits 0 cmake wine32:i386
check "calls" calls_are "update -q" "update -q" "update -q" \
    "install -y -q cmake wine32:i386" "install -y -q -t bookworm cmake wine32:i386"
check "two pauses, none after the last update" pauses 2
check "says it carries on" said "carrying on with the indexes apt has"
check "says why it retargets" said "trying again with the release's own suite, -t bookworm"
check "says where they came from" said "(from suite bookworm)"
check "shows apt's own output" grep -qF "Mirror sync in progress?" "$work/shown"
end

begin "update succeeds on the second try; the install needs no target"
answer 100 "$mirror_sync"
answer 0 "Reading package lists..."
answer 0 "$done_ok"
apt_update >>"$work/shown"
install_exits 0 xvfb
check "calls" calls_are "update -q" "update -q" "install -y -q xvfb"
check "one pause" pauses 1
check "says updated" said "package indexes updated"
end

begin "apt exits 0 but warns that indexes failed: still retried"
answer 0 "W: Failed to fetch http://deb.debian.org/x  Hash Sum mismatch
W: Some index files failed to download. They have been ignored, or old ones used instead."
answer 0 "Reading package lists..."
apt_update >>"$work/shown"
check "calls" calls_are "update -q" "update -q"
end

begin "a broken sources list: no retries, carries on at once"
answer 100 "E: Malformed entry 1 in list file /etc/apt/sources.list.d/x.list (Component)
E: The list of sources could not be read."
apt_update >>"$work/shown"
check "one call" calls_are "update -q"
check "no pause" pauses 0
check "quotes apt" said "Malformed entry 1"
end

begin "a package apt does not know is left out; the rest install; it is named"
answer 100 "Reading package lists...
E: Unable to locate package libclang-rt-14-dev"
answer 0 "$done_ok"
install_exits 1 cmake libclang-rt-14-dev ninja-build
check "calls" calls_are "install -y -q cmake libclang-rt-14-dev ninja-build" \
    "install -y -q cmake ninja-build"
check "names the missing one" said "NOT INSTALLED: libclang-rt-14-dev;"
end

begin "no installation candidate for an i386 package (no i386 index yet)"
answer 100 "Package wine32:i386 is not available, but is referred to by another package.
E: Package 'wine32:i386' has no installation candidate"
answer 0 "$done_ok"
install_exits 1 wine wine32:i386
check "calls" calls_are "install -y -q wine wine32:i386" "install -y -q wine"
check "names it" said "NOT INSTALLED: wine32:i386;"
end

begin "still unresolvable on the release's suite: stops, names everything"
answer 100 "$unresolvable"
answer 100 "$unresolvable"
install_exits 1 wine32:i386 xvfb
check "two installs" calls_are "install -y -q wine32:i386 xvfb" "install -y -q -t bookworm wine32:i386 xvfb"
check "names both" said "NOT INSTALLED: wine32:i386 xvfb;"
end

begin "unresolvable and no codename known: no retarget"
APT_CODENAME=""
answer 100 "$unresolvable"
install_exits 1 wine32:i386
check "one install" calls_are "install -y -q wine32:i386"
end

begin "dpkg busy: waits and tries again, up to the limit"
APT_INSTALL_TRIES=3
answer 100 "$locked"
answer 100 "$locked"
answer 100 "$locked"
install_exits 1 cmake
check "three installs" test "$(wc -l <"$work/calls")" -eq 3
check "pauses between, not after" pauses 2
end

begin "a download failure, then success"
answer 100 "E: Failed to fetch http://deb.debian.org/debian/pool/main/c/cmake/cmake_3.25.1-1_amd64.deb  File has unexpected size (1 != 2)
E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?"
answer 0 "$done_ok"
install_exits 0 cmake
check "one pause" pauses 1
end

begin "a package's own script fails: no retry"
answer 100 "dpkg: error processing package wine (--configure):
E: Sub-process /usr/bin/dpkg returned an error code (1)"
install_exits 1 wine
check "one install" calls_are "install -y -q wine"
check "quotes apt" said "Sub-process /usr/bin/dpkg returned an error code (1)"
end

begin "apt says done but dpkg does not have the package: still named"
echo wine >"$work/broken"
answer 0 "$done_ok"
install_exits 1 cmake wine
check "names it" said "NOT INSTALLED: wine;"
end

begin "wine64 beside wine32: one version, and a plan that removes wine32 is not carried out"
echo wine32:i386 >>"$work/installed"
echo "wine32:i386=8.0~repack-4" >>"$work/versions"
echo "wine64=8.0~repack-5" >>"$work/candidates"
version=$(apt_common_version wine32:i386 wine64)
check "the installed half's version" test "$version" = "8.0~repack-4"
mapfile -t pinned < <(apt_pinned "$version" wine32:i386 wine64)
check "pinned" test "${pinned[*]}" = "wine32:i386=8.0~repack-4 wine64=8.0~repack-4"
answer 100 "Reading package lists...
The following packages will be REMOVED:
  wine32:i386
E: Packages need to be removed but remove is disabled."
answer 0 "$done_ok"
APT_KEEP_INSTALLED=1
install_exits 0 "${pinned[@]}"
check "calls" calls_are "install -y -q --no-remove wine32:i386=8.0~repack-4 wine64=8.0~repack-4" \
    "install -y -q --no-remove -t bookworm wine32:i386=8.0~repack-4 wine64=8.0~repack-4"
check "says why it retargets" said "trying again with the release's own suite"
end

begin "a package asked for at a version is missing while another version is installed"
printf 'wine\nwine64\n' >>"$work/installed"
echo "wine64=8.0~repack-3" >>"$work/versions"
check "other version" test "$(apt_missing wine64=8.0~repack-4)" = "wine64=8.0~repack-4"
check "not installed" test "$(apt_missing libwine=8.0~repack-4)" = "libwine=8.0~repack-4"
check "unversioned, installed" test -z "$(apt_missing wine)"
check "nothing installed: the candidate" test -z "$(apt_common_version libwine)"
echo "libwine=8.0~repack-4" >>"$work/candidates"
check "candidate" test "$(apt_common_version libwine)" = "8.0~repack-4"
end

begin "a version apt does not have is left out like an unknown package"
answer 100 "E: Version '9.9' for 'wine64' was not found"
answer 0 "$done_ok"
install_exits 1 cmake wine64=9.9
check "calls" calls_are "install -y -q cmake wine64=9.9" "install -y -q cmake"
end

begin "codename from os-release, quoted or not, or absent"
printf 'NAME="Debian GNU/Linux"\nVERSION_CODENAME=bookworm\n' >"$work/a"
printf 'VERSION_CODENAME="trixie"\n' >"$work/b"
printf 'NAME=x\n' >"$work/c"
check "plain" test "$(apt_codename "$work/a")" = bookworm
check "quoted" test "$(apt_codename "$work/b")" = trixie
check "none" test -z "$(apt_codename "$work/c")"
check "no file" test -z "$(apt_codename "$work/none")"
end

echo "setup: $passed passed, $failed failed"
((failed == 0))

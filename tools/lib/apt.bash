# The set-up's dealings with apt, sourced by tools/setup and by its test.
#
# A mirror in the middle of a sync serves some package indexes that do not
# match their release file, so `apt-get update` fails for them; an install can
# then meet one architecture's library at the security suite's version and the
# other's only at the release's, which multiarch refuses. The functions below
# decide from apt's exit status and messages what to do next; the four
# apt_* hooks are all they do to the machine, so a test replaces those and
# feeds them canned answers.
#
# Messages are matched in English: the hooks run apt with LC_ALL=C.

# ---------------------------------------------------------------- hooks

apt_run() { LC_ALL=C apt-get "$@"; }
apt_pause() { sleep "$1"; }
apt_is_installed() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null) || return 1
    [[ $status == ii* ]]
}
apt_say() { printf 'tools/setup: %s\n' "$*" >&2; }
# The installed version of a package ("8.0~repack-4"), or nothing.
apt_installed_version() {
    apt_is_installed "$1" || return 0
    # A library of both architectures answers for each: one build is asked.
    dpkg-query -W -f='${Version}\n' "$1" 2>/dev/null | head -1
}
# The version apt would install, or nothing.
apt_candidate_version() {
    LC_ALL=C apt-cache policy "$1" 2>/dev/null | sed -n -E 's/^ *Candidate: (.*)$/\1/p' | grep -v '^(none)$' | head -1
}

# ---------------------------------------------------------------- settings

APT_UPDATE_TRIES=${APT_UPDATE_TRIES:-3}
APT_INSTALL_TRIES=${APT_INSTALL_TRIES:-5}
APT_PAUSE_SECONDS=${APT_PAUSE_SECONDS:-20}

# ---------------------------------------------------------------- decisions

# The packages of "$@" that are not installed, one a line. A package may be
# asked for at a version ("wine64=8.0~repack-4"): then it is missing unless
# that version is the installed one.
apt_missing() {
    local package name
    for package in "$@"; do
        name=${package%%=*}
        if [[ $name == "$package" ]]; then
            apt_is_installed "$name" || printf '%s\n' "$package"
        elif [[ $(apt_installed_version "$name") != "${package#*=}" ]]; then
            printf '%s\n' "$package"
        fi
    done
}

# "$2..." each pinned at version $1, one a line: all of them from one build,
# as multiarch needs of a package's two architectures.
apt_pinned() {
    local version=$1 package
    shift
    for package in "$@"; do
        printf '%s=%s\n' "${package%%=*}" "$version"
    done
}

# The version to install a set of packages at: the one a package of the set
# already has (the first of them installed), else the candidate of the
# first. Installing the others at it never asks apt to replace what runs.
apt_common_version() {
    local package version
    for package in "$@"; do
        version=$(apt_installed_version "$package")
        if [[ -n $version ]]; then
            echo "$version"
            return 0
        fi
    done
    apt_candidate_version "$1"
}

# The release's codename from an os-release file ("bookworm"), or nothing.
apt_codename() {
    local file=${1:-/etc/os-release}
    [[ -r $file ]] || return 0
    sed -n -E 's/^VERSION_CODENAME="?([^"]*)"?$/\1/p' "$file" | head -1
}

# What an `apt-get update` came to, from its exit status and output:
#   ok      every index fetched
#   stale   some indexes could not be fetched (mirror mid-sync, network);
#           the ones already on the machine are still usable
#   locked  another apt or dpkg holds the lock
#   failed  anything else (a broken sources list, for example)
apt_update_outcome() {
    local status=$1 output=$2
    if grep -qE 'Could not get lock|Unable to (acquire|lock)' <<<"$output"; then
        echo locked
    elif grep -qE 'Failed to fetch|Some index files failed|Mirror sync in progress|Hash Sum mismatch|Temporary failure resolving|Could not (connect|resolve)' <<<"$output"; then
        # apt exits 0 after some fetch failures and 100 after others.
        echo stale
    elif ((status == 0)); then
        echo ok
    else
        echo failed
    fi
}

# What an `apt-get install` came to:
#   ok        installed
#   unknown   apt has no such package (names: apt_unknown_packages)
#   resolver  apt could not find versions that fit together
#   locked    another apt or dpkg holds the lock
#   download  a package file could not be fetched
#   failed    anything else (a package's own script failed, for example)
apt_install_outcome() {
    local status=$1 output=$2
    if ((status == 0)); then
        echo ok
    elif grep -qE 'Could not get lock|Unable to (acquire|lock)' <<<"$output"; then
        echo locked
    elif [[ -n $(apt_unknown_packages "$output") ]]; then
        echo unknown
    elif grep -qE 'unmet dependencies|held broken packages|but it is not (installable|going to be installed)|but [^ ]+ is to be installed|Packages need to be removed but remove is disabled' <<<"$output"; then
        echo resolver
    elif grep -qE 'Failed to fetch|Unable to fetch some archives|Hash Sum mismatch|File has unexpected size' <<<"$output"; then
        echo download
    else
        echo failed
    fi
}

# The package names apt said it does not know, one a line.
apt_unknown_packages() {
    sed -n -E \
        -e "s/^E: Unable to locate package ([^ ]+).*/\1/p" \
        -e "s/^E: Package '([^']+)' has no installation candidate.*/\1/p" \
        -e "s/^E: Version '[^']+' for '([^']+)' was not found.*/\1/p" \
        <<<"$1"
}

# The first error line of apt's output, to quote in a one-line message.
apt_first_error() {
    grep -m1 -E '^E: ' <<<"$1" || grep -m1 -E '^W: ' <<<"$1" || echo "exit status $2"
}

# ---------------------------------------------------------------- steps

# Runs apt-get with "$@", showing its output; leaves the exit status in
# APT_STATUS and the output in APT_OUTPUT.
apt_capture() {
    local log
    log=$(mktemp)
    if apt_run "$@" </dev/null 2>&1 | tee "$log"; then
        APT_STATUS=0
    else
        APT_STATUS=${PIPESTATUS[0]}
    fi
    APT_OUTPUT=$(<"$log")
    rm -f "$log"
}

# Refreshes the package indexes, a few times if the mirror is not ready, and
# carries on with what it has: an install from slightly older indexes is
# better than none, and the install step says what did not work.
apt_update() {
    local attempt outcome
    for ((attempt = 1; attempt <= APT_UPDATE_TRIES; attempt++)); do
        apt_say "apt-get update (attempt $attempt of $APT_UPDATE_TRIES)"
        apt_capture update -q
        outcome=$(apt_update_outcome "$APT_STATUS" "$APT_OUTPUT")
        case $outcome in
        ok)
            apt_say "package indexes updated"
            return 0
            ;;
        failed)
            apt_say "apt-get update failed ($(apt_first_error "$APT_OUTPUT" "$APT_STATUS")); carrying on with the package indexes already here"
            return 0
            ;;
        esac
        if ((attempt < APT_UPDATE_TRIES)); then
            apt_say "some package indexes could not be fetched or apt is busy ($(apt_first_error "$APT_OUTPUT" "$APT_STATUS")); trying again in $APT_PAUSE_SECONDS s"
            apt_pause "$APT_PAUSE_SECONDS"
        fi
    done
    apt_say "some package indexes are still out of reach after $APT_UPDATE_TRIES attempts; carrying on with the indexes apt has"
}

# Installs "$@" and returns 0 when all of them are installed afterwards. The
# codename, when given as APT_CODENAME, is the target release of the retry
# after a resolver failure. APT_KEEP_INSTALLED=1 refuses any plan that would
# remove an installed package (apt's --no-remove): such a plan counts as one
# apt could not resolve, so the retry on the release's suite still comes.
apt_install() {
    local wanted=("$@") pending=("$@") target="" attempt outcome
    for ((attempt = 1; attempt <= APT_INSTALL_TRIES && ${#pending[@]} > 0; attempt++)); do
        local options=(install -y -q)
        [[ ${APT_KEEP_INSTALLED:-0} != 1 ]] || options+=(--no-remove)
        [[ -z $target ]] || options+=(-t "$target")
        apt_say "apt-get ${options[*]} ${pending[*]}"
        apt_capture "${options[@]}" "${pending[@]}"
        outcome=$(apt_install_outcome "$APT_STATUS" "$APT_OUTPUT")
        case $outcome in
        ok)
            break
            ;;
        unknown)
            local unknown kept=() package
            unknown=$(apt_unknown_packages "$APT_OUTPUT")
            for package in "${pending[@]}"; do
                if grep -qxF -e "$package" -e "${package%%:*}" -e "${package%%=*}" \
                    -e "${package%%[:=]*}" <<<"$unknown"; then
                    continue
                fi
                kept+=("$package")
            done
            if ((${#kept[@]} == ${#pending[@]})); then
                apt_say "apt names packages it does not have that were not asked for: $(tr '\n' ' ' <<<"$unknown")"
                break
            fi
            apt_say "apt has no package $(tr '\n' ' ' <<<"$unknown")in its indexes; installing the others"
            pending=("${kept[@]}")
            ;;
        resolver)
            if [[ -n $target || -z ${APT_CODENAME-} ]]; then
                apt_say "apt could not find package versions that fit together ($(apt_first_error "$APT_OUTPUT" "$APT_STATUS"))"
                break
            fi
            target=$APT_CODENAME
            apt_say "apt could not find versions that fit together (an index fetched during a mirror sync can hold one architecture back); trying again with the release's own suite, -t $target"
            ;;
        locked | download)
            if ((attempt == APT_INSTALL_TRIES)); then
                break
            fi
            apt_say "apt-get install did not finish ($(apt_first_error "$APT_OUTPUT" "$APT_STATUS")); trying again in $APT_PAUSE_SECONDS s"
            apt_pause "$APT_PAUSE_SECONDS"
            ;;
        failed)
            apt_say "apt-get install failed ($(apt_first_error "$APT_OUTPUT" "$APT_STATUS"))"
            break
            ;;
        esac
    done

    local still
    still=$(apt_missing "${wanted[@]}" | tr '\n' ' ')
    if [[ -n $still ]]; then
        apt_say "NOT INSTALLED: ${still% }; the builds and tests that need them will fail (apt's messages above say why)"
        return 1
    fi
    apt_say "installed ${wanted[*]}${target:+ (from suite $target)}"
}

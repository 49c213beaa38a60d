#!/usr/bin/env bash
# Fails when a .cpp or .h of the project is not laid out as the repository's
# .clang-format says, naming each file that is not. Without clang-format the
# check is skipped (exit 77), never passed.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$repo" || exit 1

if ! command -v clang-format >/dev/null 2>&1; then
    echo "SKIP_NO_CLANG_FORMAT: clang-format is not installed, so the layout is not checked"
    exit 77
fi

# The project's own folders only: build trees below the repository are not.
mapfile -d '' files < <(find bench engine platform tests tools ui \
    \( -name build -prune \) -o \( -type f \( -name '*.cpp' -o -name '*.h' \) -print0 \) | sort -z)
if ((${#files[@]} == 0)); then
    echo "no source file found below $repo"
    exit 1
fi

bad=()
for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if ((${#bad[@]} > 0)); then
    echo "not formatted (run clang-format -i on them):"
    printf '  %s\n' "${bad[@]}"
    exit 1
fi
echo "${#files[@]} files formatted"

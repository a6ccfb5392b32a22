#!/usr/bin/env bash
# clang-tidy for the lint build, remembering the files it found clean in a
# cache outside the build folder (FIX_TIDY_CACHE, by default
# ~/.cache/bantou-fix/tidy), so that a fresh clone on the same machine
# analyses again only what differs from what was found clean before.
#
#   tidy-cached.sh CLANG-TIDY [TIDY-OPTION...] SOURCE -- COMPILER ARG...
#
# CMake's lint build runs it as its clang-tidy (CMAKE_CXX_CLANG_TIDY). A
# file is taken as clean without running clang-tidy only when everything its
# analysis reads is the same as on a clean run: clang-tidy's version, its
# options, every .clang-tidy of the sources, the compile command, the
# source as the preprocessor gives it with every header it includes and
# every comment (NOLINT) kept, and the text of the source and of each of
# the project's headers it includes (the preprocessor drops the comments of
# its directives). The folder of the sources is written as "."
# in all of them, so that clones in other folders share the cache. A file
# with any finding, or any word from clang-tidy but its count of the
# warnings its checks left out, is never remembered.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${FIX_TIDY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bantou-fix/tidy}

args=("$@")
tidy=${args[0]}
split=-1
for i in "${!args[@]}"; do [ "${args[$i]}" = -- ] && { split=$i; break; }; done
[ "$split" -gt 0 ] || exec "$@"
compile=("${args[@]:split+1}")

# The compile command turned into the preprocessor's, comments kept, onto
# stdout; the dependency file and the object left out.
preprocess=()
skip=0
for arg in "${compile[@]}"; do
  if [ "$skip" = 1 ]; then skip=0; continue; fi
  case $arg in
    -o|-MT|-MF|-MQ) skip=1 ;;
    -c|-MD|-MMD) ;;
    *) preprocess+=("$arg") ;;
  esac
done

# The project's own files the preprocessor read (-H names them) count as
# they are: a NOLINT on a #define line is not in its output.
headers=$(mktemp)
trap 'rm -f "$headers"' EXIT
key=$(
  {
    "$tidy" --version
    printf '%s\n' "${args[@]}"
    find "$root" -name .clang-tidy -not -path "$root/out/*" -print0 | sort -z | xargs -0 cat
    "${preprocess[@]}" -E -C -H -o - 2>"$headers" || echo "preprocessing failed $$"
    sed -n 's/^\.\{1,\} //p' "$headers" | sort -u | while read -r file; do
      case $(realpath -m "$file") in "$root"/*) printf '%s\n' "$file"; cat "$file" ;; esac
    done
    printf '%s\n' "${args[split - 1]}"
    cat "${args[split - 1]}"
  } 2>&1 | sed "s|$root|.|g" | sha256sum | cut -d' ' -f1
)
[ -f "$cache/$key" ] && exit 0
output=$("$@" 2>&1)
status=$?
[ -z "$output" ] || printf '%s\n' "$output"
# "N warnings generated." counts what the checks left out; anything else is
# a finding or an error.
findings=$(grep -v -E '^[0-9]+ warnings? generated\.$' <<<"$output" | grep -v '^$' || true)
if [ "$status" = 0 ] && [ -z "$findings" ]; then
  mkdir -p "$cache" && touch "$cache/$key"
fi
exit "$status"

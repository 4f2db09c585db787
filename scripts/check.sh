#!/usr/bin/env bash
# The source checks CI runs before the builds (scripts/test.sh calls this first):
#   format     clang-format (.clang-format) over the C++ files: nothing may change
#   tidy       clang-tidy (.clang-tidy, every finding an error) over the C++ files changed since
#              the base commit (below), with the compile commands of the default preset
#   self-test  both checks fed a tiny clean file and a faulty one in a temporary folder: the
#              faulty one must fail, so a check that has stopped finding anything is noticed
# Usage: scripts/check.sh [self-test] [format] [tidy]     (no argument: all three, in this order)
#
# Which files:
#   C++ files are the tracked (and, in a working copy, untracked but not ignored) *.cc, *.h,
#   *.cpp, *.hpp and *.c outside third_party/. Build folders are not tracked, so generated files
#   never count.
#   KESTROVA_FORMAT_CHECK=all (default) formats-checks every C++ file; "changed" only the changed
#   ones (as tidy does); "off" skips the format check.
#   Changed files are those that differ between the base commit and the working tree. The base is
#   KESTROVA_CHECK_BASE when set; otherwise the merge base of HEAD with origin/main, or else with
#   main, when that is not HEAD itself (a branch: all of its commits); otherwise HEAD~1 (a clone
#   of main alone, as CI makes: the commit under test). A shallow clone without HEAD~1 is refused
#   with a message rather than checked against nothing.
#   Windows files (*_win.*, tests/windows/ but its stand-in system headers) are tidied with the compile commands of the windows
#   preset (build-windows/), the others with those of the default preset (build/); the script
#   configures both as needed. A changed header is checked on its own, with the compile command
#   clang-tidy borrows from the nearest source file; findings inside other headers are not
#   reported, so a change is held only to the files it touches.
# KESTROVA_CHECK_JOBS sets the number of parallel clang-tidy processes (default: nproc).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KESTROVA_CHECK_JOBS:-$(nproc)}
build=$root/build
build_windows=$root/build-windows

die() {
  echo "check: $*" >&2
  exit 2
}

cxx_only() {
  grep -E '\.(cc|h|cpp|hpp|c)$' | grep -Ev '^third_party/' || true
}

all_files() {
  { git ls-files; git ls-files --others --exclude-standard; } | cxx_only | sort -u
}

base_commit() {
  if [ -n "${KESTROVA_CHECK_BASE:-}" ]; then
    git rev-parse -q --verify "${KESTROVA_CHECK_BASE}^{commit}" || die "KESTROVA_CHECK_BASE=${KESTROVA_CHECK_BASE} is no commit"
    return
  fi
  local head ref mb
  head=$(git rev-parse HEAD)
  for ref in origin/main main; do
    git rev-parse -q --verify "${ref}^{commit}" >/dev/null || continue
    mb=$(git merge-base HEAD "$ref") || continue
    if [ "$mb" != "$head" ]; then
      echo "$mb"
      return
    fi
  done
  if git rev-parse -q --verify 'HEAD~1^{commit}' >/dev/null; then
    git rev-parse 'HEAD~1'
  elif [ "$(git rev-parse --is-shallow-repository)" = true ]; then
    die "shallow clone without the previous commit: clone with --depth 2 or more, or set KESTROVA_CHECK_BASE"
  else
    # The first commit of the history: everything in it is new.
    git hash-object -t tree /dev/null
  fi
}

changed_files() {
  local base=$1
  { git diff --name-only --diff-filter=d "$base" --; git ls-files --others --exclude-standard; } | cxx_only | sort -u
}

# format_check FILE... : fails when clang-format would change any of the files.
format_check() {
  [ $# -eq 0 ] && return 0
  local out
  if out=$(printf '%s\0' "$@" | xargs -0 -n 50 -P "$jobs" clang-format --dry-run --Werror 2>&1); then
    return 0
  fi
  local bad
  bad=$(grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$out" | cut -d: -f1 | sort -u)
  echo "$out" | head -n 40
  echo "check: $(wc -l <<<"$bad") file(s) not formatted by .clang-format; fix with: clang-format -i FILE..."
  echo "$bad" | sed 's/^/  /'
  return 1
}

# tidy_one BUILD [EXTRA_ARG...] FILE : clang-tidy on one file, its output printed in one piece so
# that parallel runs do not interleave. The clang warnings the compile commands enable are not
# findings here (the build reports them, with gcc); "-Wno-error" keeps them from becoming errors.
# The one exception is clang's lock analysis: the gcc build cannot check the annotations of
# common/thread_annotations.h, so every changed file gets it here (.clang-tidy enables its
# diagnostics) without a clang build of the whole tree.
tidy_one() {
  local build_dir=$1 out status=0
  shift
  out=$(clang-tidy -p "$build_dir" --quiet --warnings-as-errors='*' --header-filter='^$' --extra-arg=-Wno-error \
    --extra-arg=-Wthread-safety --extra-arg=-Wthread-safety-beta "$@" 2>&1) || status=$?
  out=$(grep -Ev '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' <<<"$out" || true)
  [ -n "$out" ] && printf '%s\n' "$out"
  return "$status"
}
export -f tidy_one

# tidy_check BUILD [EXTRA_ARG...] -- FILE... : fails when clang-tidy reports a finding in any of
# the files.
tidy_check() {
  local args=()
  while [ "$1" != -- ]; do
    args+=("$1")
    shift
  done
  shift
  [ $# -eq 0 ] && return 0
  printf '%s\0' "$@" | xargs -0 -n 1 -P "$jobs" bash -c 'tidy_one "$@"' tidy_one "${args[@]}"
}

# The Windows files are checked with the compile commands of the windows preset. clang-tidy does
# not find the C++ library of the mingw-w64 compiler by itself: its include folders come from
# the compiler, with the target it builds for.
windows_tidy_args() {
  local cxx
  cxx=$(grep -m1 -oE '"command": "[^ "]+' "$build_windows/compile_commands.json" | cut -d'"' -f4)
  [ -x "$cxx" ] || die "no compiler in $build_windows/compile_commands.json"
  echo "--extra-arg=--target=$("$cxx" -dumpmachine)"
  "$cxx" -x c++ -E -v - </dev/null 2>&1 | sed -n '/<...> search starts here:/,/End of search list/p' |
    grep '/c++' | sed 's/^ */--extra-arg=-isystem/'
}

# in_compile_commands BUILD FILE : whether the build has a compile command for the source file.
in_compile_commands() {
  grep -qF "\"file\": \"$root/$2\"" "$1/compile_commands.json"
}

# tidy_in BUILD PRESET FILE... : configures PRESET (its compile commands pick up files added since
# the last configure) and checks the files it can parse. A header is checked on its own, with the
# command clang-tidy borrows from the nearest source file.
tidy_in() {
  local build_dir=$1 preset=$2 args=() files=() f
  shift 2
  [ $# -eq 0 ] && return 0
  cmake --preset "$preset" -DKESTROVA_WERROR=ON >/dev/null || return 1
  for f in "$@"; do
    case "$f" in
      *.h | *.hpp) files+=("$f") ;;
      *)
        if in_compile_commands "$build_dir" "$f"; then
          files+=("$f")
        else
          echo "check: $f is in no compile command of the $preset preset; not tidied" >&2
        fi
        ;;
    esac
  done
  [ ${#files[@]} -eq 0 ] && return 0
  if [ "$preset" = windows ]; then
    mapfile -t args < <(windows_tidy_args)
  fi
  echo "== tidy: ${#files[@]} file(s) with the $preset preset's compile commands"
  tidy_check "$(tidy_database "$build_dir")" "${args[@]}" -- "${files[@]}"
}

# tidy_database BUILD : the folder of the compile commands clang-tidy reads. gcc's precompiled
# header of the test programs is no header to clang ("not a valid precompiled PCH file"); each
# test file includes what it needs itself, so its commands lose the forced include.
tidy_database() {
  local build_dir=$1
  if ! grep -q 'cmake_pch\.hxx' "$build_dir/compile_commands.json"; then
    echo "$build_dir"
    return
  fi
  mkdir -p "$build_dir/tidy"
  sed -E 's# -Winvalid-pch##g; s# -include [^ "]*cmake_pch\.hxx##g' "$build_dir/compile_commands.json" \
    >"$build_dir/tidy/compile_commands.json"
  echo "$build_dir/tidy"
}

run_format() {
  local scope=${KESTROVA_FORMAT_CHECK:-all} files base
  case "$scope" in
    off) echo "== format: off (KESTROVA_FORMAT_CHECK=off)"; return 0 ;;
    all) mapfile -t files < <(all_files) ;;
    changed)
      base=$(base_commit) || return 1
      mapfile -t files < <(changed_files "$base")
      ;;
    *) die "KESTROVA_FORMAT_CHECK must be all, changed or off, not $scope" ;;
  esac
  echo "== format: ${#files[@]} file(s) ($scope)"
  format_check "${files[@]}"
}

run_tidy() {
  local base files linux=() windows=() f start status=0
  base=$(base_commit) || return 1
  mapfile -t files < <(changed_files "$base")
  echo "== tidy: ${#files[@]} C++ file(s) changed since $(git rev-parse --short "$base")"
  for f in "${files[@]}"; do
    case "$f" in
      # The POSIX headers the Windows tests borrow: no compile command fits them on their own.
      tests/windows/include/*) echo "check: $f is a stand-in system header; not tidied" >&2 ;;
      *_win.* | *_win_test.* | tests/windows/*) windows+=("$f") ;;
      *) linux+=("$f") ;;
    esac
  done
  start=$SECONDS
  tidy_in "$build" default "${linux[@]}" || status=1
  tidy_in "$build_windows" windows "${windows[@]}" || status=1
  if [ $status -ne 0 ]; then
    echo "check: clang-tidy findings above (.clang-tidy; every finding is an error)"
    return 1
  fi
  echo "== tidy: clean ($((SECONDS - start)) s)"
}

# Both checks against a clean and a faulty file of their own, with this repository's settings,
# and the choice of the changed files.
run_self_test() {
  local tmp db status=0
  tmp=$(mktemp -d)
  cp .clang-format .clang-tidy "$tmp/"
  printf 'int twice(int value) { return 2 * value; }\n' >"$tmp/clean.cc"
  printf 'int  twice( int value ){return 2*value;}\n' >"$tmp/unformatted.cc"
  printf 'int* none() { return 0; }\n' >"$tmp/finding.cc"
  cat >"$tmp/unguarded.cc" <<'EOF'
#include "common/thread_annotations.h"
struct Counter {
  Mutex mu;
  int count GUARDED_BY(mu) = 0;
  void bump() { ++count; }
};
EOF
  cat >"$tmp/compile_commands.json" <<EOF
[{"directory": "$tmp", "file": "$tmp/clean.cc", "command": "c++ -std=c++20 -Winvalid-pch -include $tmp/cmake_pch.hxx -c clean.cc"},
 {"directory": "$tmp", "file": "$tmp/finding.cc", "command": "c++ -std=c++20 -c finding.cc"},
 {"directory": "$tmp", "file": "$tmp/unguarded.cc", "command": "c++ -std=c++20 -I$PWD -c unguarded.cc"}]
EOF
  # A gcc precompiled header beside the forced include, as the test programs have.
  : >"$tmp/cmake_pch.hxx"
  printf 'gpch.014 not a clang header' >"$tmp/cmake_pch.hxx.gch"
  format_check "$tmp/clean.cc" >/dev/null || { echo "check self-test: a formatted file failed the format check"; status=1; }
  if format_check "$tmp/unformatted.cc" >/dev/null; then
    echo "check self-test: an unformatted file passed the format check"
    status=1
  fi
  db=$(tidy_database "$tmp")
  tidy_check "$db" -- "$tmp/clean.cc" >/dev/null ||
    { echo "check self-test: a clean file with a gcc precompiled header failed clang-tidy"; status=1; }
  if tidy_check "$db" -- "$tmp/finding.cc" >/dev/null; then
    echo "check self-test: a literal 0 returned as a pointer passed clang-tidy (modernize-use-nullptr)"
    status=1
  fi
  if tidy_check "$db" -- "$tmp/unguarded.cc" >/dev/null; then
    echo "check self-test: a write of a GUARDED_BY member without its lock passed clang-tidy (-Wthread-safety)"
    status=1
  fi
  self_test_range "$tmp/repo" || status=1
  rm -rf "$tmp"
  [ $status -eq 0 ] && echo "== self-test: both checks catch their faulty file; the changed files are the right ones"
  return $status
}

# The changed files in a history of its own: a clone of main alone counts the last commit; a
# branch counts all of its commits but not main's, nor what lies outside the C++ files or in
# third_party/.
self_test_range() (
  local repo=$1 files
  unset KESTROVA_CHECK_BASE
  commit() {
    local f
    for f in "$@"; do
      mkdir -p "$(dirname "$f")"
      echo "// $f" >>"$f"
    done
    git add -A && git -c user.name=check -c user.email=check@localhost commit -q -m "$*"
  }
  mkdir -p "$repo" && cd "$repo" && git init -q -b main . || return 1
  commit old.cc && commit last.h
  files=$(changed_files "$(base_commit)" | tr '\n' ' ')
  [ "$files" = "last.h " ] || { echo "check self-test: on main, changed files '$files', not 'last.h '"; return 1; }
  git checkout -q -b topic && commit mine.cc notes.md && commit lib/mine.h third_party/theirs.cc
  git checkout -q main && commit later.cc && git checkout -q topic
  echo "// not yet committed" >>old.cc
  files=$(changed_files "$(base_commit)" | tr '\n' ' ')
  [ "$files" = "lib/mine.h mine.cc old.cc " ] ||
    { echo "check self-test: on a branch, changed files '$files', not 'lib/mine.h mine.cc old.cc '"; return 1; }
)

command -v clang-format >/dev/null || die "clang-format is missing (scripts/bootstrap.sh installs it)"
command -v clang-tidy >/dev/null || die "clang-tidy is missing (scripts/bootstrap.sh installs it)"
[ $# -eq 0 ] && set -- self-test format tidy
status=0
for step in "$@"; do
  case "$step" in
    self-test) run_self_test || status=1 ;;
    format) run_format || status=1 ;;
    tidy) run_tidy || status=1 ;;
    *) die "unknown step $step (self-test, format, tidy)" ;;
  esac
done
exit $status

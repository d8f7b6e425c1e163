#!/usr/bin/env bash
# Runs the suite of a build instrumented for coverage (QUARRION_COVERAGE) and
# prints the line and branch coverage of the program: one row per folder of
# the sources, then the last line "coverage: lines L%, branches B%". Fails
# when a test fails, or when either figure, as printed, is below its floor.
#
#   tools/coverage.sh BUILD_DIR MIN_LINES MIN_BRANCHES
#
# Every process the suite starts (the test binary, the program it runs, the
# seed replays) writes its own profile into a scratch folder that every user
# may write to, since some tests run the program as another user; the
# profiles are merged into BUILD_DIR/coverage.profdata. Sources in tests/,
# fuzz/ and bench/, and everything outside the source tree, do not count.
# CTEST and JOBS run the suite; LLVM_PROFDATA and LLVM_COV name the tools
# when those of the compiler's version are not the ones to use.
set -euo pipefail

build=$(cd "$1" && pwd -P)
min_lines=$2
min_branches=$3

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
cxx=$(cached CMAKE_CXX_COMPILER)
source=$(cd "$(cached CMAKE_HOME_DIRECTORY)" && pwd -P)
programs=$build/coverage_programs.txt
if [ ! -f "$programs" ]; then
  echo "coverage: $build is not a build with -DQUARRION_COVERAGE=ON" >&2
  exit 2
fi

# The LLVM tool $1 of the compiler's own version (a profile is read only by
# the tools of the version that wrote it): llvm-profdata-14 beside clang 14,
# then the one the compiler names, then the one on the PATH.
llvm_tool() {
  local major candidate
  major=$("$cxx" -dumpversion | cut -d. -f1)
  for candidate in "$1-$major" "/usr/lib/llvm-$major/bin/$1" "$("$cxx" -print-prog-name="$1")" "$1"; do
    if command -v "$candidate" > /dev/null; then
      command -v "$candidate"
      return
    fi
  done
  if command -v xcrun > /dev/null && xcrun --find "$1" 2> /dev/null; then return; fi
  echo "coverage: $1 not found (Debian: apt-get install llvm)" >&2
  return 1
}
profdata=${LLVM_PROFDATA:-$(llvm_tool llvm-profdata)}
cov=${LLVM_COV:-$(llvm_tool llvm-cov)}

# %p keeps the processes apart; %m merges into the file a process of the
# same program left under the same number, should a number come round again.
profiles=$(mktemp -d "${TMPDIR:-/tmp}/quarrion-profiles.XXXXXX")
trap 'rm -rf "$profiles"' EXIT
chmod 1777 "$profiles"
LLVM_PROFILE_FILE="$profiles/%p-%m.profraw" \
  ${CTEST:-ctest} --test-dir "$build" --output-on-failure -j "${JOBS:-2}"

find "$profiles" -name '*.profraw' > "$profiles/list"
"$profdata" merge -sparse -f "$profiles/list" -o "$build/coverage.profdata"

objects=()
while IFS= read -r program; do
  if [ -n "$program" ]; then objects+=(${objects:+-object} "$program"); fi
done < "$programs"

# The summary of each file, kept in BUILD_DIR/coverage_summary.json. An
# inline function of a header that a program includes but does not call is
# recorded in that program without counters, and llvm-cov warns of
# "mismatched data" where another program has counters for it: that warning
# tells nothing and is left out.
summary=$build/coverage_summary.json
if ! "$cov" export -summary-only -instr-profile="$build/coverage.profdata" "${objects[@]}" \
  > "$summary" 2> "$profiles/warnings"; then
  cat "$profiles/warnings" >&2
  exit 1
fi
grep -v 'functions have mismatched data$' "$profiles/warnings" >&2 || true

# The JSON cut at every "{": a piece with "filename" starts a file, and the
# pieces after "lines": and "branches": hold its counts. They add up per
# folder, the first part of the path below the source tree; "totals" ends
# the files.
tr '{' '\n' < "$summary" |
  awk -v source="$source/" -v build="$build/" -v min_lines="$min_lines" \
    -v min_branches="$min_branches" '
    function percent(hit, found) { return found ? sprintf("%.1f", 100 * hit / found) : "100.0" }
    function row(name, lh, lf, bh, bf) {
      printf "%-11s %6s%%  %-15s %6s%%  %s\n", name, percent(lh, lf), "(" lh "/" lf ")",
        percent(bh, bf), "(" bh "/" bf ")"
    }
    # The number after "key": in this piece.
    function number(key,   skip) {
      skip = length(key) + 3
      return match($0, "\"" key "\":[0-9]+") ? substr($0, RSTART + skip, RLENGTH - skip) + 0 : 0
    }
    # The path without "." and ".." parts (a compiler cache may have given
    # the compiler relative paths, which are then joined to the build folder).
    function normal(path,   n, part, kept, k, i, out) {
      n = split(path, part, "/")
      k = 0
      for (i = 1; i <= n; ++i) {
        if (part[i] == "" || part[i] == ".") continue
        if (part[i] == "..") { if (k > 0) --k; continue }
        kept[++k] = part[i]
      }
      out = ""
      for (i = 1; i <= k; ++i) out = out "/" kept[i]
      return out
    }
    counting == "lines" { lf[folder] += number("count"); lh[folder] += number("covered") }
    counting == "branches" { bf[folder] += number("count"); bh[folder] += number("covered") }
    { counting = "" }
    /"totals":$/ { folder = "" }
    /^"filename":"/ {
      file = normal(substr($0, 13, index(substr($0, 13), "\"") - 1))
      folder = ""
      if (index(file, source) == 1 && index(file, build) != 1) {
        rest = substr(file, length(source) + 1)
        folder = index(rest, "/") ? substr(rest, 1, index(rest, "/") - 1) : "."
        if (folder ~ /^(tests|fuzz|bench)$/) folder = ""
      }
      if (folder != "" && !(folder in lf)) {
        order[++folders] = folder
        lf[folder] = lh[folder] = bf[folder] = bh[folder] = 0
      }
    }
    folder != "" && /"lines":$/ { counting = "lines" }
    folder != "" && /"branches":$/ { counting = "branches" }
    END {
      if (folders == 0) {
        print "coverage: no source of the program in the profiles" > "/dev/stderr"
        exit 2
      }
      printf "%-11s %7s  %-15s %7s\n", "", "lines", "", "branches"
      for (i = 1; i <= folders; ++i) {
        f = order[i]
        row(f, lh[f], lf[f], bh[f], bf[f])
        LH += lh[f]; LF += lf[f]; BH += bh[f]; BF += bf[f]
      }
      row("total", LH, LF, BH, BF)
      fflush()
      lines = percent(LH, LF)
      branches = percent(BH, BF)
      failed = 0
      if (lines + 0 < min_lines + 0) {
        print "coverage: lines " lines "% is below the floor of " min_lines "%" > "/dev/stderr"
        failed = 1
      }
      if (branches + 0 < min_branches + 0) {
        print "coverage: branches " branches "% is below the floor of " min_branches "%" > "/dev/stderr"
        failed = 1
      }
      fflush("/dev/stderr")
      print "coverage: lines " lines "%, branches " branches "%"
      exit failed
    }'

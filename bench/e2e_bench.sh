#!/usr/bin/env bash
# End-to-end comparison: packing a data directory with quarrion's default
# build against what a user would run instead, and against the floor.
#
#   bench/e2e_bench.sh BUILD_DIR
#
# BUILD_DIR holds quarrion, bench/e2e_corpus, bench/e2e_floor and
# bench/e2e_iopath (a Release build; `make bench` passes build/bench). Rows,
# per profile:
#   quarrion    quarrion -dir DIR -o OUT
#   tar         tar -cf OUT -C DIR .
#   zip         zip -0 -r -q OUT .   (in DIR; when zip is installed)
#   floor       e2e_floor DIR OUT: every file copied into one output with
#               copy_file_range, nothing else
# The profile copy packs the small tree twice with quarrion: from a
# relational configuration that names every file as a reference into an
# archive of the tree (copy), and from disk (dir).
# For the profiles in BENCH_EXTRACT a second table compares extracting the
# same files:
#   extract     quarrion -extract ARCHIVE DEST   (the archive of the tree)
#   tar-x       tar -xf TAR -C DEST              (a tar of the tree)
# each into a fresh folder every run: on ext4 a create right after as many
# deletes is slow for minutes, so the trees stay until the end of the whole
# run and are deleted then, untimed. The archive and the tar are made once,
# untimed. The line at the top names the I/O path quarrion takes for small
# files here (e2e_iopath; QUARRION_IO=portable forces the portable one).
#
# The corpora are generated once into BUILD_DIR/corpus and kept while the
# generator's source is unchanged; outputs go to BUILD_DIR/e2e-out and are
# deleted (and the disk synced, untimed) before every run. All commands run
# in BUILD_DIR/corpus with relative source paths, after a read of every
# source file (warm page cache) and BENCH_WARMUP unrecorded rounds. Tools
# run in interleaved rounds (round r starts with the r-th tool), so a drift
# in the machine's speed hits all alike. Wall time is the median of
# BENCH_RUNS runs; a ratio is the median of the per-round ratios; peak RSS
# is the largest of the runs (GNU time's %M).
#
# Environment: BENCH_PROFILES (default "small mixed large many copy"),
# BENCH_EXTRACT ("small many"), BENCH_RUNS (5), BENCH_WARMUP (1). Exit status
# 1 when a run failed; missed goals are reported, not failed.
set -uo pipefail
export LC_ALL=C

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
BUILD=$(cd "$1" && pwd -P) || exit 2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
QUARRION=$BUILD/quarrion
GEN=$BUILD/bench/e2e_corpus
FLOOR=$BUILD/bench/e2e_floor
IOPATH=$BUILD/bench/e2e_iopath
CORPUS=$BUILD/corpus
OUT=$BUILD/e2e-out
TREES=$OUT/trees
PROFILES=${BENCH_PROFILES-small mixed large many copy}
EXTRACT=${BENCH_EXTRACT-small many}
RUNS=${BENCH_RUNS:-5}
WARMUP=${BENCH_WARMUP:-1}
TIME=/usr/bin/time

for b in "$QUARRION" "$GEN" "$FLOOR" "$IOPATH"; do
  [ -x "$b" ] || { echo "$0: $b is missing (build the bench targets first)" >&2; exit 2; }
done
"$TIME" -f %M true >/dev/null 2>&1 || { echo "$0: GNU time is needed at $TIME" >&2; exit 2; }
mkdir -p "$CORPUS" "$OUT" || exit 2

# ---- corpora -----------------------------------------------------------------

STAMP=$(md5sum < "$HERE/e2e_corpus.cpp" | cut -c1-32)

# Generates the tree of profile $1 unless it is there from this generator.
ensure_tree() {
  local p=$1
  if [ "$(cat "$CORPUS/$p.stamp" 2>/dev/null)" != "$STAMP" ]; then
    rm -rf "${CORPUS:?}/$p" "$CORPUS/$p.stamp"
    mkdir -p "$CORPUS/$p"
    echo "# generating the $p corpus"
    "$GEN" tree "$p" "$CORPUS/$p" >/dev/null || exit 1
    echo "$STAMP" > "$CORPUS/$p.stamp"
  fi
}

# The copy profile's source archive (the small tree packed by this build)
# and its configuration, made afresh, untimed.
prepare_copy() {
  ensure_tree small
  mkdir -p "$CORPUS/copy"
  (cd "$CORPUS" && "$QUARRION" -dir small -o copy/small.vp >/dev/null </dev/null) || exit 1
  "$GEN" config small "$CORPUS/copy/small.vp" "$CORPUS/copy/small.cfg" >/dev/null || exit 1
}

# ---- runs --------------------------------------------------------------------

RAW=$OUT/e2e-runs.txt
: > "$RAW"
FAILED=0

# The folder tool $2 of profile $1 extracts into in round $3.
tree_of() { echo "$TREES/$1-$2-r${3/-/m}"; }

# The command line of tool $2 of profile $1 on source folder $3 (relative to
# $CORPUS) in round $4.
command_of() {
  local profile=$1 tool=$2 src=$3 round=$4 o="$OUT/$2.out"
  case "$tool" in
    quarrion | dir) echo "$QUARRION -dir $src -o $o" ;;
    copy) echo "$QUARRION -rconfig copy/small.cfg -dir $src -o $o" ;;
    tar) echo "tar -cf $o -C $src ." ;;
    zip) echo "env -C $src zip -0 -r -q $o ." ;;
    floor) echo "$FLOOR $src $o" ;;
    extract) echo "$QUARRION -extract $OUT/$src.vp $(tree_of "$profile" "$tool" "$round")" ;;
    tar-x) echo "tar -xf $OUT/$src.tar -C $(tree_of "$profile" "$tool" "$round")" ;;
  esac
}

# Runs tool $2 of profile $1 on folder $3, round $4 (recorded from 1 on).
run_one() {
  local profile=$1 tool=$2 src=$3 round=$4 t0 t1 rc rss
  rm -f "$OUT/$tool.out" "$OUT/time.txt"
  case "$tool" in
    extract | tar-x) mkdir -p "$(tree_of "$profile" "$tool" "$round")" ;;
  esac
  sync
  t0=$EPOCHREALTIME
  # Word splitting of the command line is intended: no path holds a blank.
  # shellcheck disable=SC2046
  (cd "$CORPUS" && "$TIME" -o "$OUT/time.txt" -f %M $(command_of "$profile" "$tool" "$src" "$round") \
      >"$OUT/$tool.log" 2>&1 </dev/null)
  rc=$?
  t1=$EPOCHREALTIME
  rss=$(tail -n 1 "$OUT/time.txt" 2>/dev/null)
  rm -f "$OUT/$tool.out"
  if [ "$rc" != 0 ]; then
    FAILED=1
    echo "# $profile $tool round $round: exit $rc (see $OUT/$tool.log)"
  elif [ "$round" -ge 1 ]; then
    echo "$profile $tool $round $(( ${t1/./} - ${t0/./} )) $rss" >> "$RAW"
  fi
}

median() {
  sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
    else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The median over the rounds of tool $2's time divided by tool $3's.
ratio() {
  awk -v p="$1" -v a="$2" -v b="$3" '$1 == p && $2 == a {x[$3] = $4}
      $1 == p && $2 == b {y[$3] = $4}
      END {for (r in x) if ((r in y) && y[r] > 0) printf "%.6f\n", x[r] / y[r]}' "$RAW" | median
}

# Prints "ratio  (goal <= G[, NOTE]: met|MISSED)", or the ratio alone when
# there is no goal G.
verdict() {
  awk -v v="$1" -v g="$2" -v note="${3:+, $3}" 'BEGIN {
    if (v == "nan") { printf "n/a"; exit }
    if (g == "") { printf "%.2f", v; exit }
    printf "%.2f  (goal <= %s%s: %s)", v, g, note, (v <= g + 1e-9) ? "met" : "MISSED" }'
}

table() {
  local profile=$1 src=$2; shift 2
  local tools=("$@") files folders bytes
  files=$(cd "$CORPUS" && find "$src" -type f | wc -l)
  folders=$(cd "$CORPUS" && find "$src" -type d | wc -l)
  bytes=$(cd "$CORPUS" && find "$src" -type f -printf '%s\n' | awk '{s += $1} END {printf "%d", s}')
  echo
  printf '== %s: %d files in %d folders, %.1f MiB; %d runs, warm cache; load %s\n' \
    "$profile" "$files" "$folders" "$(awk -v b="$bytes" 'BEGIN {print b / 1048576}')" "$RUNS" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-12s %9s %9s %9s %13s\n' tool median_s min_s max_s peak_RSS_MiB
  local t times
  for t in "${tools[@]}"; do
    times=$(awk -v p="$profile" -v t="$t" '$1 == p && $2 == t {printf "%.6f\n", $4 / 1e6}' "$RAW")
    if [ -z "$times" ]; then
      printf '%-12s  all runs failed\n' "$t"
      continue
    fi
    printf '%-12s %9.3f %9.3f %9.3f %13.1f\n' "$t" "$(median <<< "$times")" \
      "$(sort -g <<< "$times" | head -n 1)" "$(sort -g <<< "$times" | tail -n 1)" \
      "$(awk -v p="$profile" -v t="$t" '$1 == p && $2 == t && $5 > m {m = $5} END {print m / 1024}' "$RAW")"
  done
  # Every table but copy's leads with quarrion; copy's with the copy row.
  local q=${tools[0]} rss
  rss=$(awk -v p="$profile" -v t="$q" '$1 == p && $2 == t && $5 > m {m = $5} END {print m / 1024}' "$RAW")
  case "$profile" in
    small | many)
      echo "quarrion/tar         $(verdict "$(ratio "$profile" quarrion tar)" 0.7)"
      echo "quarrion/floor       $(verdict "$(ratio "$profile" quarrion floor)" 0.9)" ;;
    mixed | large)
      echo "quarrion/tar         $(verdict "$(ratio "$profile" quarrion tar)" 1.0 "ahead of tar")"
      echo "quarrion/floor       $(verdict "$(ratio "$profile" quarrion floor)" 1.05)" ;;
    copy)
      echo "copy/dir             $(verdict "$(ratio "$profile" copy dir)" 1.2)" ;;
    small-extract | many-extract)
      echo "extract/tar-x        $(verdict "$(ratio "$profile" extract tar-x)" 0.7)" ;;
    *-extract)
      echo "extract/tar-x        $(verdict "$(ratio "$profile" extract tar-x)" "")" ;;
  esac
  local limit=16
  case "$profile" in
    many-extract) limit=24 ;;
    many)
      limit=$(awk -v n="$files" 'BEGIN {printf "%.1f", 16 + n * 200 / 1048576}') ;;
  esac
  if [ "$profile" = copy ]; then
    printf 'peak RSS             %.1f MiB\n' "$rss"
  else
    echo "peak RSS MiB         $(verdict "$rss" "$limit")"
  fi
}

# Runs the tools in interleaved rounds and prints the table.
run_rounds() {
  local profile=$1 src=$2; shift 2
  local tools=("$@") n=$# r i
  for ((r = 1 - WARMUP; r <= RUNS; r++)); do
    for ((i = 0; i < n; i++)); do
      run_one "$profile" "${tools[$(( ((r % n) + n + i) % n ))]}" "$src" "$r"
    done
  done
  table "$profile" "$src" "${tools[@]}"
}

# Extraction of the tree of profile $1: the archive and the tar of it made
# afresh, untimed, and read once (warm cache).
bench_extract() {
  local profile=$1
  ensure_tree "$profile"
  (cd "$CORPUS" && "$QUARRION" -dir "$profile" -o "$OUT/$profile.vp" >/dev/null </dev/null) || exit 1
  tar -cf "$OUT/$profile.tar" -C "$CORPUS/$profile" . || exit 1
  cat "$OUT/$profile.vp" "$OUT/$profile.tar" >/dev/null
  run_rounds "$profile-extract" "$profile" extract tar-x
}

bench_profile() {
  local profile=$1 src=$1 tools
  if [ "$profile" = copy ]; then
    prepare_copy
    src=small
    tools=(copy dir floor)
  else
    ensure_tree "$profile"
    tools=(quarrion tar)
    command -v zip >/dev/null && tools+=(zip)
    tools+=(floor)
  fi
  (cd "$CORPUS" && find "$src" -type f -exec cat {} + >/dev/null)
  [ "$profile" = copy ] && cat "$CORPUS/copy/small.vp" >/dev/null
  run_rounds "$profile" "$src" "${tools[@]}"
  case " $EXTRACT " in
    *" $profile "*) [ "$profile" != copy ] && bench_extract "$profile" ;;
  esac
}

rm -rf "$TREES"
echo "# e2e_bench $(date -u +%Y-%m-%dT%H:%MZ), $(uname -sr), $(nproc) cores; quarrion: $QUARRION"
echo "# small files take the $("$IOPATH") path"
for p in $PROFILES; do
  case "$p" in
    small | mixed | large | many | copy) bench_profile "$p" ;;
    *) echo "$0: unknown profile $p (small mixed large many copy)" >&2; exit 2 ;;
  esac
done
rm -rf "$TREES"
echo
echo "# raw runs (profile tool round wall_us peak_rss_KiB): $RAW"
exit $FAILED

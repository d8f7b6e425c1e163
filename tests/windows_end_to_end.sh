#!/usr/bin/env bash
# End-to-end runs of the Windows build under Wine. quarrion.exe packs the
# sample data given as Windows paths (the Z: drive, a drive letter of its own,
# a relative path); every archive and text file it writes must equal, byte
# for byte, what the Linux build writes from the same files. Names in any
# script and paths past 260 characters work in every mode, on the command
# line, in files and typed, and a console shows and takes them as they are.
# Ctrl-C in the middle of a write leaves no temporary file and the targets as
# they were.
#
#   tests/windows_end_to_end.sh <quarrion.exe> <linux quarrion> <work folder>
#
# Expects WINEPREFIX to name an initialised prefix.
set -euo pipefail

exe=$(realpath "$1")
linux=$(realpath "$2")
work=$3
src=$(cd "$(dirname "$0")/.." && pwd)
data=$src/examples/data

rm -rf "$work"
mkdir -p "$work/win" "$work/linux"
work=$(realpath "$work")

# The Windows form of a Unix path: Wine maps "/" to the drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run <name> <expected status> <command...>: output kept in $work/<name>.out.
# The command runs in the folder $cwd (the current one when empty), reading
# the text $input.
cwd=
input=
run() {
  local name=$1 want=$2
  shift 2
  local got=0
  if [ -n "$input" ]; then
    (cd "${cwd:-.}" && "$@") <<<"$input" >"$work/$name.out" 2>&1 || got=$?
  else
    (cd "${cwd:-.}" && "$@") </dev/null >"$work/$name.out" 2>&1 || got=$?
  fi
  if [ "$got" != "$want" ]; then
    fail "$name: exit status $got, expected $want"
    sed 's/^/  | /' "$work/$name.out" >&2
  fi
}

same() {
  if [ ! -f "$1" ] || [ ! -f "$2" ]; then
    fail "$3: missing $1 or $2"
  elif ! cmp -s "$1" "$2"; then
    fail "$3: $1 and $2 differ"
  fi
}

# The default build, from an absolute Windows path.
run linux-build 0 "$linux" -dir "$data" -o "$work/linux/data.vp"
run win-build 0 wine "$exe" -dir "$(winpath "$data")" -o "$(winpath "$work/win/data.vp")"
same "$work/win/data.vp" "$work/linux/data.vp" "archive from Z:\\...\\examples\\data"
grep -q 'Writing VP ->' "$work/win-build.out" || fail "win-build: no \"Writing VP ->\" line"

# A drive of its own whose root is the data directory: "Q:\" ends in a
# backslash, after which the import adds none of its own.
ln -sfn "$data" "$WINEPREFIX/dosdevices/q:"
run win-drive 0 wine "$exe" -dir 'Q:\' -o "$(winpath "$work/win/drive.vp")"
same "$work/win/drive.vp" "$work/linux/data.vp" "archive from Q:\\"
rm -f "$WINEPREFIX/dosdevices/q:"

# Relative paths from the working folder give the same configuration entries
# on both hosts, with CR LF line ends; their order is each host's listing
# order, so the entries are compared as sorted sets of three lines.
cwd=$src/examples
run linux-mconfig 0 "$linux" -dir data -mconfig "$work/linux/data.cfg"
run win-mconfig 0 wine "$exe" -dir data -mconfig "$(winpath "$work/win/data.cfg")"
cwd=
entries() { [ -f "$1" ] && paste -d '|' - - - <"$1" | LC_ALL=C sort; }
if [ "$(entries "$work/win/data.cfg")" != "$(entries "$work/linux/data.cfg")" ]; then
  fail "configuration file: the entries differ"
fi
grep -q $'\r$' "$work/win/data.cfg" || fail "configuration file: no CR LF line ends"

# The configuration file the Linux build wrote, read by quarrion.exe: the
# archive rebuilt from it and the NSIS delete list come out the same.
run win-rconfig 0 wine "$exe" -rconfig "$(winpath "$work/linux/data.cfg")" \
  -dir "$(winpath "$src/examples")" -o "$(winpath "$work/win/rconfig.vp")"
same "$work/win/rconfig.vp" "$work/linux/data.vp" "archive rebuilt from the configuration"

run linux-mdlist 0 "$linux" -mdlist "$work/linux/data.cfg" "$work/linux/delete.nsh"
run win-mdlist 0 wine "$exe" -mdlist "$(winpath "$work/linux/data.cfg")" "$(winpath "$work/win/delete.nsh")"
same "$work/win/delete.nsh" "$work/linux/delete.nsh" "NSIS delete list"

# Looking into the archive: the same listing (the console's CR LF aside), a
# sound verdict, and extraction that gives back the data directory with its
# modification times.
run linux-list 0 "$linux" -list "$work/linux/data.vp"
run win-list 0 wine "$exe" -list "$(winpath "$work/win/data.vp")"
if [ "$(tr -d '\r' <"$work/win-list.out")" != "$(cat "$work/linux-list.out")" ]; then
  fail "-list: the listings differ"
fi
run win-verify 0 wine "$exe" -verify "$(winpath "$work/win/data.vp")"
run win-extract 0 wine "$exe" -extract "$(winpath "$work/win/data.vp")" "$(winpath "$work/win/extracted")"
diff -r "$data" "$work/win/extracted/data" >/dev/null || fail "-extract: the files differ from examples/data"
(cd "$data" && find . -type f -printf '%p %T@\n' | sed 's/\.[0-9]*$//' | sort) >"$work/times.want"
(cd "$work/win/extracted/data" 2>/dev/null && find . -type f -printf '%p %T@\n' | sed 's/\.[0-9]*$//' | sort) >"$work/times.got" || true
cmp -s "$work/times.want" "$work/times.got" || fail "-extract: the modification times differ"

# A data directory that does not exist is reported, and nothing is written.
run win-missing 1 wine "$exe" -dir 'Z:\no\such\folder' -o "$(winpath "$work/win/missing.vp")"
[ ! -e "$work/win/missing.vp" ] || fail "win-missing: an archive was written"

# Names outside the ANSI code page, below folders named so, and paths past
# 260 characters: the archives equal the Linux build's; -list shows the names
# and -extract gives them back; -mconfig, -rconfig and the "vp" command take
# such paths (typed ones from standard input).
intl="$work/Données/日本語 mod"
mkdir -p "$intl/data/tables" "$intl/data/voix"
printf 'ships' >"$intl/data/tables/ships.tbl"
printf 'summer' >"$intl/data/voix/été.wav"
printf 'voice' >"$intl/data/voix/声.wav"
deep=$work/long/data
for i in $(seq -w 1 12); do deep=$deep/folder-$i-abcdefghijklmnopq; done
mkdir -p "$deep"
printf 'deep' >"$deep/声 deep.wav"
[ ${#deep} -gt 300 ] || fail "the long tree is not long: ${#deep} characters"
# The long tree's configuration file lies as deep in a folder of its own.
cfgs=$work/long-config${deep#"$work/long/data"}
mkdir -p "$cfgs"
for tree in intl long; do
  top=$([ $tree = intl ] && echo "$intl" || echo "$work/long")
  cfg=$([ $tree = intl ] && echo "$intl" || echo "$cfgs")/配置.cfg
  run linux-$tree 0 "$linux" -dir "$top/data" -o "$work/linux/$tree.vp"
  run win-$tree 0 wine "$exe" -dir "$(winpath "$top/data")" -o "$(winpath "$top/声.vp")"
  same "$top/声.vp" "$work/linux/$tree.vp" "$tree: archive"
  run linux-$tree-list 0 "$linux" -list "$work/linux/$tree.vp"
  run win-$tree-list 0 wine "$exe" -list "$(winpath "$top/声.vp")"
  if [ "$(tr -d '\r' <"$work/win-$tree-list.out")" != "$(cat "$work/linux-$tree-list.out")" ]; then
    fail "$tree: -list: the listings differ"
  fi
  run win-$tree-extract 0 wine "$exe" -extract "$(winpath "$top/声.vp")" "$(winpath "$top/x")"
  diff -r "$top/data" "$top/x/data" >/dev/null || fail "$tree: -extract: the files differ"
  cwd=$top
  run win-$tree-mconfig 0 wine "$exe" -dir data -mconfig "$(winpath "$cfg")"
  run linux-$tree-mconfig 0 "$linux" -dir data -mconfig "$work/linux/$tree.cfg"
  cwd=
  if [ "$(entries "$cfg")" != "$(entries "$work/linux/$tree.cfg")" ]; then
    fail "$tree: configuration file: the entries differ"
  fi
  run win-$tree-rconfig 0 wine "$exe" -rconfig "$(winpath "$cfg")" -dir "$(winpath "$top")" \
    -o "$(winpath "$top/r.vp")"
  same "$top/r.vp" "$work/linux/$tree.vp" "$tree: archive rebuilt from the configuration"
done
# "vp" with a typed archive path (word by word, so one without blanks) deep
# down the long tree and below Données: every file taken, the list written.
cp "$work/linux/intl.vp" "$work/Données/声.vp"
cp "$work/linux/long.vp" "$deep/声.vp"
for tree in intl long; do
  from=$([ $tree = intl ] && echo "$work/Données" || echo "$deep")
  input=$(printf 'vp\n%s\ny\ny\ny\nwr\n%s\nqu' "$(winpath "$from/声.vp")" "$(winpath "$from/vp.vp")")
  run win-$tree-vp 0 wine "$exe" -oldinterface
  input=
  same "$from/vp.vp" "$work/linux/$tree.vp" "$tree: archive written after \"vp\""
done

# The same on a console (Wine makes one of a terminal; `script` gives it one,
# switched to raw mode so that Enter arrives as CR): -list shows the names
# in their own characters, and typed names reach the files.
console() {
  local name=$1 text=$2 fifo=$work/$1.in pid i
  shift 2
  mkfifo "$fifo"
  exec 3<>"$fifo"
  SHELL=$BASH script -qfc "stty raw -echo; $(printf '%q ' "$@")" /dev/null <&3 >"$work/$name.out" 2>&1 &
  pid=$!
  if [ -n "$text" ]; then
    for ((i = 0; i < 600; i++)); do grep -qs 'Cmd:' "$work/$name.out" && break; sleep 0.05; done
    printf '%s' "$text" >&3
  fi
  for ((i = 0; i < 1200; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill "$pid" 2>/dev/null && fail "$name: still running after a minute"
  wait "$pid" || true
  exec 3>&-
  rm -f "$fifo"
}
console win-console-list '' wine "$exe" -list "$(winpath "$work/Données/声.vp")"
for shown in 'data\voix\été.wav' 'data\voix\声.wav'; do
  grep -qF "$shown" "$work/win-console-list.out" || fail "console -list: no $shown"
done
console win-console-vp "$(printf 'vp\r%s\ry\ry\ry\rwr\r%s\rqu\r' "$(winpath "$work/Données/声.vp")" \
  "$(winpath "$work/Données/typed.vp")")" wine "$exe" -oldinterface
same "$work/Données/typed.vp" "$work/linux/intl.vp" "archive written after \"vp\" typed on a console"

# Ctrl-C in the middle of a write (Wine turns SIGINT into the console's
# Ctrl-C event): the temporary file goes, the targets stay as they were, and
# the exit status is 130. The program is stopped while its temporary file is
# seen, so the signal lands before the rename; a run that ended before the
# file was seen is run again with more data.
#   interrupt <name> <folder> <temporary file glob> <setup> <command...>
# <setup> <size> makes the data of that size and the old targets.
interrupt() {
  local name=$1 folder=$2 temp=$3 setup=$4 size pid sent got i
  shift 4
  for size in 256M 1G 2000M; do
    "$setup" "$size"
    sent=
    set -m # a job of its own, which does not ignore SIGINT
    "$@" </dev/null >"$work/$name.out" 2>&1 &
    pid=$!
    set +m
    for ((i = 0; i < 6000; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      if compgen -G "$folder/$temp" >/dev/null; then
        kill -STOP "$pid" 2>/dev/null || true
        if compgen -G "$folder/$temp" >/dev/null; then
          kill -INT "$pid" 2>/dev/null && sent=1
        fi
        kill -CONT "$pid" 2>/dev/null || true
        break
      fi
      sleep 0.01
    done
    got=0
    wait "$pid" || got=$?
    if [ -n "$sent" ]; then
      [ "$got" = 130 ] || fail "$name: exit status $got after Ctrl-C, expected 130"
      # The handler deletes the temporary while it is open, which Windows
      # carries out when the last handle closes: under Wine that is when the
      # server has cleaned up the ended process, a moment after `wait`.
      for ((i = 0; i < 200; i++)); do
        compgen -G "$folder/$temp" >/dev/null || break
        sleep 0.01
      done
      ! compgen -G "$folder/$temp" >/dev/null || fail "$name: a temporary file was left"
      cmp -s "$big/old.vp" "$big/out.vp" || fail "$name: the archive changed"
      [ "$(cat "$big/x/data/big.bin")" = 'old big' ] || fail "$name: the extracted file changed"
      return
    fi
    [ "$got" = 0 ] || { fail "$name: exit status $got"; return; }
  done
  fail "$name: every run ended before Ctrl-C"
}
big=$work/interrupt
mkdir -p "$big/data" "$big/x/data"
printf 'the archive written before' >"$big/old.vp"
olds() {
  cp "$big/old.vp" "$big/out.vp"
  printf 'old big' >"$big/x/data/big.bin"
}
data_of() {
  truncate -s "$1" "$big/data/big.bin"
  olds
}
archive_of() {
  truncate -s "$1" "$big/data/big.bin"
  "$linux" -dir "$big/data" -o "$big/big.vp" >/dev/null
  rm -f "$big/data/big.bin"
  olds
}
interrupt win-interrupt-pack "$big" 'out.vp.tmp-*' data_of \
  wine "$exe" -dir "$(winpath "$big/data")" -o "$(winpath "$big/out.vp")"
interrupt win-interrupt-extract "$big/x/data" 'big.bin.tmp-*' archive_of \
  wine "$exe" -extract "$(winpath "$big/big.vp")" "$(winpath "$big/x")"
rm -rf "$big"

if [ "$failures" -ne 0 ]; then
  echo "$failures end-to-end check(s) failed under Wine" >&2
  exit 1
fi
echo "end-to-end under Wine: all checks passed"

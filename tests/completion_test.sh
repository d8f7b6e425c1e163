#!/usr/bin/env bash
# Checks what the bash completion offers for a few command lines, in a
# scratch folder holding one file and one folder.
set -u
completion=$1
. "$completion"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir mods
touch pack.vp

failures=0
# expect "<expected words, sorted, space-separated>" word...
expect() {
  local want=$1
  shift
  COMP_WORDS=(quarrion "$@")
  COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
  COMPREPLY=()
  _quarrion
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" != "$want" ]; then
    echo "FAIL: quarrion $*: got [$got], want [$want]"
    failures=$((failures + 1))
  fi
}

expect "-diff -dir" -di
expect "-mconfig -mdlist -mtime" -m
expect "-verify -version -vppath" -v
expect "mods" -dir ""
expect "mods pack.vp" -list ""
expect "pack.vp" -verify p
expect "mods" -extract pack.vp ""
expect "mods pack.vp" -mdlist a.cfg ""
expect "mods pack.vp" -o ""
expect "-exclude -extract" -ex
expect "" -mtime ""
expect "" -dir mods -exclude ""
expect "-o -oldinterface -only" -o
expect "" -list pack.vp -only ""
expect "pack.vp" -diff p
expect "mods pack.vp" -diff pack.vp ""

if [ "$failures" -gt 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "completion: all passed"

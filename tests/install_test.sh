#!/usr/bin/env bash
# Installs the build folder given into a scratch prefix and checks what
# landed there: the program, its manual page and its bash completion, and
# nothing else; the installed program and manual page work.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
got=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
want="./bin/quarrion ./share/bash-completion/completions/quarrion ./share/man/man1/quarrion.1 "
if [ "$got" != "$want" ]; then
  echo "FAIL: installed [$got], want [$want]"
  exit 1
fi

version=$("$prefix/bin/quarrion" -version)
case "$version" in
  "quarrion "[0-9]*) ;;
  *) echo "FAIL: -version printed [$version]"; exit 1 ;;
esac

if command -v man > /dev/null; then
  name=$(MANWIDTH=80 man -l "$prefix/share/man/man1/quarrion.1" 2> /dev/null | head -n 5)
  case "$name" in
    *"quarrion - build, list, check and extract VP archives"*) ;;
    *) echo "FAIL: man -l printed [$name]"; exit 1 ;;
  esac
fi
echo "install: all passed ($version)"

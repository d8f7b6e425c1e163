# bash completion for quarrion: option words, file names after the words
# that take a file, folder names where a folder is wanted.

_quarrion() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  local before=""
  [ "$COMP_CWORD" -ge 2 ] && before=${COMP_WORDS[COMP_CWORD - 2]}

  # The second argument of -extract is the folder to extract into; the second
  # of -mdlist is the delete list to write.
  if [ "$before" = "-extract" ]; then
    COMPREPLY=($(compgen -d -- "$cur"))
    return 0
  fi
  if [ "$before" = "-mdlist" ]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return 0
  fi
  # Both arguments of -diff are archives.
  if [ "$before" = "-diff" ]; then
    COMPREPLY=($(compgen -f -- "$cur"))
    return 0
  fi

  case "$prev" in
    -dir | -vppath)
      COMPREPLY=($(compgen -d -- "$cur"))
      return 0
      ;;
    -o | -mconfig | -rconfig | -mdlist | -list | -verify | -extract)
      COMPREPLY=($(compgen -f -- "$cur"))
      return 0
      ;;
    -diff)
      COMPREPLY=($(compgen -f -- "$cur"))
      return 0
      ;;
    -mtime | -exclude | -only)
      # A time or a pattern: nothing on disk to offer.
      COMPREPLY=()
      return 0
      ;;
  esac

  local words="-dir -mconfig -rconfig -vppath -o -mdlist -oldinterface -list -verify -extract
               -version -help -mtime -exclude -only -diff"
  if [[ "$cur" == -* || -z "$cur" ]]; then
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
  return 0
}

complete -o filenames -F _quarrion quarrion

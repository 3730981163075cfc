# bash completion for dravikctl and dppsim. The programs themselves say what
# may follow the words typed ("PROGRAM __complete WORDS..."): their
# subcommands and options, and for dravikctl the debug command words of the
# daemon's command table, word by word, and the log commands' values.
_dravik_tools() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --vty | --dir)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
  esac
  local IFS=$'\n'
  local words=$("${COMP_WORDS[0]}" __complete "${COMP_WORDS[@]:1:COMP_CWORD-1}" 2>/dev/null)
  COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -F _dravik_tools dravikctl dppsim

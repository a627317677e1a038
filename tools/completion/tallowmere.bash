# bash completion for tallowmere: subcommands, options, and the names of fortune files, those of
# the collection (as `tallowmere list` finds them) and ordinary files and directories.

# The names of the fortune files of the kind that the words so far choose (-a, -o).
_tallowmere_collection_names() {
  local word kind=
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case $word in
      -a | --all) kind=-a ;;
      -o | --offensive) kind=-o ;;
    esac
  done
  "${COMP_WORDS[0]}" list $kind 2>/dev/null | sed 's|.*/||'
}

_tallowmere() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local subcommands='index add get count stats check list'
  local command=
  ((COMP_CWORD > 1)) && command=${COMP_WORDS[1]}
  [[ " $subcommands " == *" $command "* ]] || command=

  # Options that take a value: no completion of files for it.
  case $prev in
    -n | --length | -m | --match | -d | --delimiter | --seed) return 0 ;;
  esac

  local options
  case $command in
    index) options='-d --delimiter --dat --help' ;;
    add | check) options='-d --delimiter --help' ;;
    get | count | stats) options='-d --delimiter --json --help' ;;
    list) options='-a --all -o --offensive --json --help' ;;
    *) options='-a --all -o --offensive -e --equal -s --short -l --long -n --length -m --match
                -i --ignore-case -c --show-file -f --files -d --delimiter -w --wait --today
                --fresh --json --seed --help --version' ;;
  esac

  local IFS=$'\n'
  if [[ $cur == -* ]]; then
    COMPREPLY=($(IFS=$' \t\n' compgen -W "$options" -- "$cur"))
    return 0
  fi
  case $command in
    list) COMPREPLY=() ;;
    '')
      if ((COMP_CWORD == 1)); then
        COMPREPLY=($(IFS=$' \t\n' compgen -W "$subcommands" -- "$cur"))
      fi
      COMPREPLY+=($(compgen -W "$(_tallowmere_collection_names)" -- "$cur") $(compgen -f -- "$cur"))
      ;;
    *) COMPREPLY=($(compgen -f -- "$cur")) ;;
  esac
  return 0
}

complete -o filenames -F _tallowmere tallowmere

# bash completion for quorvel-flash
_quorvel_flash() {
  local cur prev words cword
  _init_completion || return

  case "$prev" in
    -m|--model)
      COMPREPLY=($(compgen -W "brenix olmar" -- "$cur"))
      return ;;
    -p|--port)
      COMPREPLY=($(compgen -W "$(quorvel-flash list 2>/dev/null | awk '{print $1}')" -- "$cur"))
      [[ ${#COMPREPLY[@]} -eq 0 ]] && _filedir
      return ;;
    -w|--wait|-n|--count)
      return ;;
    --log)
      _filedir
      return ;;
  esac

  local command="" model="" given=" " i
  for ((i = 1; i < cword; i++)); do
    case "${words[i]}" in
      list|check|info|update|station) [[ -z $command ]] && command=${words[i]} ;;
      brenix|olmar) model=${words[i]} ;;
      -m|--model|--model=*) given+="--model " ;;
      -w|--wait|--wait=*) given+="--wait " ;;
      --log|--log=*) given+="--log " ;;
      -n|--count|--count=*) given+="--count " ;;
    esac
  done

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "list check info update station --help --version" -- "$cur"))
    return
  fi
  if [[ $cur == -* ]]; then
    local options="--help"
    case "$command" in
      list) options+=" --json" ;;
      check) options+=" --model --json" ;;
      info) options+=" --model --port --wait --json" ;;
      update) options+=" --model --port --all --wait --json" ;;
      station) options+=" --model --port --all --log --count --json" ;;
    esac
    # --model, --wait, --log and --count are given once.
    local option kept=""
    for option in $options; do [[ $given == *" $option "* ]] || kept+=" $option"; done
    COMPREPLY=($(compgen -W "$kept" -- "$cur"))
    return
  fi
  case "$command" in
    check|update|station)
      case "$model" in
        brenix) _filedir kyc ;;
        olmar) _filedir pkc ;;
        *) _filedir '@(kyc|pkc)' ;;
      esac ;;
  esac
} &&
  complete -F _quorvel_flash quorvel-flash

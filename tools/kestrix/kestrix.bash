# bash completion for kestrix: commands, their options, and file names.
_kestrix() {
  local cur=${COMP_WORDS[COMP_CWORD]} words
  if ((COMP_CWORD == 1)); then
    words="base64 tlv split cert items validity verify modulus csr --help --version"
  elif [[ ${COMP_WORDS[1]} == base64 ]] && ((COMP_CWORD == 2)); then
    words="encode decode --help"
  elif [[ $cur == -* ]]; then
    case ${COMP_WORDS[1]} in
      cert) words="-r --json --jsonl --jobs --help" ;;
      items) words="-r --json --jsonl --item --jobs --help" ;;
      csr) words="-r --json --jsonl --help" ;;
      tlv | split | modulus) words="-r --help" ;;
      *) words="--help" ;;
    esac
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -o filenames -F _kestrix kestrix

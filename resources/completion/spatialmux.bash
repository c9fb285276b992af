# bash completion for spatialmux                             -*- shell-script -*-
# Installed as share/bash-completion/completions/spatialmux. Options are
# listed once, in `options`; movies are completed first, then the output.
# shellcheck disable=SC2034,SC2207  # the usual bash-completion idioms

_spatialmux() {
    local cur prev words cword
    _init_completion || return

    local options="--help --version --accept-short-audio --remux --output-dir --jobs --overwrite --check --json"

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # Only the plain arguments count: INPUT first, OUTPUT second.
    local i plain=0
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} != -* ]] && ((plain++))
    done
    case $plain in
        0) _filedir '@(mp4|MP4|mov|MOV)' ;;
        1) _filedir '@(mov|MOV)' ;;
    esac
} &&
    complete -F _spatialmux spatialmux

# ex: filetype=sh

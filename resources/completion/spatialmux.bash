# bash completion for spatialmux                             -*- shell-script -*-
# Installed as share/bash-completion/completions/spatialmux. Options are
# listed once, in `options`; movies are completed first, then the output.
# shellcheck disable=SC2034,SC2207  # the usual bash-completion idioms

_spatialmux() {
    local cur prev words cword split
    _init_completion -s || return

    local options="--help --version --accept-short-audio --remux --audio --audio-bitrate --ambisonics --projection --rotate-audio --progress --output-dir --jobs --overwrite --format --check --json --soundmap --moments --at --binaural --look --hrtf"

    case $prev in
        --audio)
            COMPREPLY=($(compgen -W "pcm aac opus" -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "mov mp4" -- "$cur"))
            return
            ;;
        --ambisonics)
            COMPREPLY=($(compgen -W "ambix fuma" -- "$cur"))
            return
            ;;
        --projection)
            COMPREPLY=($(compgen -W "equirectangular" -- "$cur"))
            return
            ;;
        --progress)
            COMPREPLY=($(compgen -W "machine" -- "$cur"))
            return
            ;;
        --audio-bitrate)
            COMPREPLY=($(compgen -W "256k 384k 512k 768k" -- "$cur"))
            return
            ;;
        --look | --rotate-audio)
            COMPREPLY=($(compgen -W "0 90 -90 180" -- "$cur"))
            return
            ;;
        --hrtf)
            _filedir sofa
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # Only the plain arguments count: INPUT first, OUTPUT second (an
    # option's value is not one).
    local i plain=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --audio | --audio-bitrate | --ambisonics | --projection | --format | --progress | -o | --output-dir | -j | --jobs | --look | --hrtf | --rotate-audio) ((i++)) ;;
            -*) ;;
            *) ((plain++)) ;;
        esac
    done
    case $plain in
        0) _filedir '@(mp4|MP4|mov|MOV)' ;;
        1)
            if [[ " ${words[*]} " == *" --binaural "* ]]; then
                _filedir '@(wav|m4a|mp4|mov)'
            else
                _filedir '@(mov|MOV|mp4|MP4)'
            fi
            ;;
    esac
} &&
    complete -F _spatialmux spatialmux

# ex: filetype=sh

# SPDX-License-Identifier: MIT
# Bash completion for vorlagen, vorlagen-send and vorlagen-monitor; installed once under each
# program's name, where bash-completion looks for it when the program is first completed.

# The port numbers the window would open now (vorlagen-send --list: number, device, how).
_vorlagen_ports()
{
    COMPREPLY=($(compgen -W "$(vorlagen-send --list 2>/dev/null | cut -d' ' -f1)" -- "$cur"))
}

_vorlagen_rates()
{
    COMPREPLY=($(compgen -W "110 300 600 1200 2400 4800 9600 19200 38400 57600 115200" \
        -- "$cur"))
}

_vorlagen_options()
{
    COMPREPLY=($(compgen -W "$1" -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
}

_vorlagen_send()
{
    local cur prev words cword split
    _init_completion -s || return
    case $prev in
        -p | --port) _vorlagen_ports; return ;;
        -d | --device) _filedir; return ;;
        -b | --rate) _vorlagen_rates; return ;;
        --dtr | --rts) COMPREPLY=($(compgen -W "on off" -- "$cur")); return ;;
        -t | --period | -n | --count) return ;;
    esac
    $split && return
    if [[ $cur == -* ]]; then
        _vorlagen_options "-p --port= -d --device= -b --rate= --dtr= --rts= -t --period=
            -n --count= -v --verbose -l --list -h --help -V --version -"
    fi
}

_vorlagen_monitor()
{
    local cur prev words cword split
    _init_completion -s || return
    case $prev in
        -d | --device) _filedir; return ;;
        -b | --rate) _vorlagen_rates; return ;;
        --gap) return ;;
    esac
    $split && return
    [[ $cur == -* ]] && _vorlagen_options "-d --device= -b --rate= --once --gap= --all -h --help
        -V --version"
}

_vorlagen()
{
    local cur prev words cword
    _init_completion || return
    case $prev in
        -platform) COMPREPLY=($(compgen -W "xcb wayland offscreen" -- "$cur")); return ;;
        -style) COMPREPLY=($(compgen -W "Fusion Windows" -- "$cur")); return ;;
    esac
    [[ $cur == -* ]] && _vorlagen_options "-h --help -V --version -platform -style"
}

complete -F _vorlagen_send vorlagen-send
complete -F _vorlagen_monitor vorlagen-monitor
complete -F _vorlagen vorlagen

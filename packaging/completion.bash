# Bash completion for fractxbm, installed as share/bash-completion/completions/fractxbm: the
# file to write (any file name, or --help, -h and --version alone), then the type of picture.
# The numbers after it have nothing to complete.
_fractxbm() {
    local word=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $COMP_CWORD in
    1)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$word")
        if [[ $word == -* ]]; then
            mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W '--help -h --version' -- "$word")
        fi
        ;;
    2)
        mapfile -t COMPREPLY < <(compgen -W 'triangle fern' -- "$word")
        ;;
    esac
}
complete -F _fractxbm fractxbm

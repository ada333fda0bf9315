# Completion of brenvale in bash.                              -*- shell-script -*-
#
# The options come from the help of the program being completed (brenvale
# --help, or brenvale --convert --help once --convert is given), so they are
# always that program's own, new ones included. The value of an option is one
# of the values its help lists under it (the formats under --to), a folder for
# DIR, a file for FILE, and nothing to complete for a number. Every other
# argument is a folder or a .wma file, in any letter case.

# Folders and .wma files starting with $1.
_brenvale_paths() {
    local IFS=$'\n' path
    COMPREPLY=($(compgen -d -- "$1"))
    while IFS= read -r path; do
        [[ ${path,,} == *.wma && ! -d $path ]] && COMPREPLY+=("$path")
    done < <(compgen -f -- "$1")
    compopt -o filenames 2>/dev/null
}

_brenvale() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local program=${COMP_WORDS[0]} i
    local -a ask=(--help)
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --) _brenvale_paths "$cur"; return ;;
            --convert) ask=(--convert --help) ;;
        esac
    done
    # "--output=DIR": bash splits the word at "=".
    if [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    if [[ $cur != -* && $prev != -* ]]; then
        _brenvale_paths "$cur"
        return
    fi

    # The help's options: "  -o, --output DIR    text", with lines under the
    # text; a line indented deeper than the text is one of a list of values.
    [[ $program == '~/'* ]] && program=$HOME/${program#'~/'}
    local help line names text word column=0 value= taken=
    local -a options=() entry=() values=() words=()
    help=$("$program" "${ask[@]}" 2>/dev/null) || help=
    while IFS= read -r line; do
        if [[ $line == '  -'* ]]; then
            names=${line:2}
            names=${names%%  *}
            text=${line:2+${#names}}
            text=${text#"${text%%[! ]*}"}
            column=$((${#text} > 0 ? ${#line} - ${#text} : 0))
            entry=()
            value=
            read -ra words <<<"${names//,/ }"
            for word in "${words[@]}"; do
                if [[ $word == -* ]]; then entry+=("$word"); else value=$word; fi
            done
            options+=("${entry[@]}")
            [[ " ${entry[*]} " == *" $prev "* ]] && taken=${value:--}
        elif [[ ${#entry[@]} -gt 0 && $line =~ ^(\ +)([^ ]+) ]]; then
            ((column == 0)) && column=${#BASH_REMATCH[1]}
            if ((${#BASH_REMATCH[1]} > column)) && [[ " ${entry[*]} " == *" $prev "* ]]; then
                values+=("${BASH_REMATCH[2]}")
            fi
        else
            entry=()
        fi
    done <<<"$help"

    # The value of the option before, when it takes one.
    if [[ -n $taken && $taken != - ]]; then
        if ((${#values[@]} > 0)); then
            COMPREPLY=($(compgen -W "${values[*]}" -- "$cur"))
        elif [[ $taken == DIR || $taken == FOLDER ]]; then
            local IFS=$'\n'
            COMPREPLY=($(compgen -d -- "$cur"))
            compopt -o filenames 2>/dev/null
        elif [[ $taken == FILE ]]; then
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames 2>/dev/null
        fi
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${options[*]}" -- "$cur"))
    else
        _brenvale_paths "$cur"
    fi
}
complete -F _brenvale brenvale

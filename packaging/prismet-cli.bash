# Bash completion for prismet-cli: commands, each command's options and their values, profile
# files (.icc, .icm, .pf), images for convert, and the built-in profiles (*srgb, *lab, *lab2,
# *xyz). Needs no helper from the bash-completion package.

# Files of the current word whose extension matches the extended regular expression $1, and
# folders to descend into.
_prismet_cli_files()
{
    local IFS=$'\n' file
    compopt -o filenames 2>/dev/null
    for file in $(compgen -f -- "$cur"); do
        if [[ -d "$file" ]]; then
            COMPREPLY+=("$file")
        else
            local lower="${file,,}"
            [[ "$lower" =~ \.($1)$ ]] && COMPREPLY+=("$file")
        fi
    done
}

# A profile: a built-in name when the word starts with '*', else a profile file.
_prismet_cli_profiles()
{
    if [[ "$cur" == \** ]]; then
        # Escaped, so that compgen does not expand them as patterns.
        COMPREPLY=($(compgen -W '\*srgb \*lab \*lab2 \*xyz' -- "$cur"))
    else
        _prismet_cli_files 'icc|icm|pf'
    fi
}

_prismet_cli()
{
    local cur="${COMP_WORDS[COMP_CWORD]}"
    local prev="${COMP_WORDS[COMP_CWORD - 1]}"
    COMPREPLY=()

    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W 'info tag dump transform convert check diff gamut roundtrip inks dotgain verify
                                 --help --version' -- "$cur"))
        return
    fi

    local options
    case "${COMP_WORDS[1]}" in
        info) options='--json --help' ;;
        tag) options='--json --raw --full --strict --help' ;;
        dump) options='--json --full --help' ;;
        transform) options='--profile --intent --bpc --adaptation --in-format --out-format --values
                            --precision --no-optimize --json --help' ;;
        convert) options='--profile --src-profile --intent --bpc --quality -o --output --format
                          --no-optimize --help' ;;
        check) options='--min-severity --ignore --junit --recursive --json --help' ;;
        diff) options='--ignore-header --json --help' ;;
        gamut) options='--intent --tag --grid --compare --image --image-profile --export --min-coverage --json --help' ;;
        roundtrip) options='--intent --worst --fail-above --json --help' ;;
        verify) options='--intent --relative --worst --fail-above --json --help' ;;
        inks) options='--intent --ramp --space --json --help' ;;
        dotgain) options='--intent --json --help' ;;
        *) return ;;
    esac

    # The values of the options that take one.
    case "$prev" in
        --profile | --src-profile | --compare | --image-profile)
            _prismet_cli_profiles
            return ;;
        -o | --output | --image)
            _prismet_cli_files 'png|jpe?g|bmp|tiff?'
            return ;;
        --junit)
            _prismet_cli_files 'xml'
            return ;;
        --export)
            _prismet_cli_files 'glb|ply|wrl|txt|cgats'
            return ;;
        --intent)
            COMPREPLY=($(compgen -W '0 1 2 3 perceptual relative saturation absolute' -- "$cur"))
            return ;;
        --min-severity)
            COMPREPLY=($(compgen -W 'warning error' -- "$cur"))
            return ;;
        --format)
            COMPREPLY=($(compgen -W 'png jpeg bmp tiff' -- "$cur"))
            return ;;
        --in-format | --out-format)
            COMPREPLY=($(compgen -W 'float 8 16' -- "$cur"))
            return ;;
        --ramp)
            COMPREPLY=($(compgen -W 'neutral C M Y R G B' -- "$cur"))
            return ;;
        --space)
            COMPREPLY=($(compgen -W 'lab cam16' -- "$cur"))
            return ;;
        --tag)
            COMPREPLY=($(compgen -W 'A2B0 A2B1 A2B2 B2A0 B2A1 B2A2 D2B0 D2B1 D2B2 B2D0 B2D1 B2D2
                                     0x7ffffff0' -- "$cur"))
            return ;;
        --adaptation | --values | --precision | --quality | --worst | --ignore | --ignore-header | --fail-above \
            | --min-coverage | --grid)
            return ;;
    esac

    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ "${COMP_WORDS[1]}" == convert ]]; then
        _prismet_cli_files 'png|jpe?g|bmp|tiff?'
    elif [[ "${COMP_WORDS[1]}" == verify && "$prev" != verify && "$prev" != -* ]]; then
        # After the profile, the measurement file.
        _prismet_cli_files 'txt|cgats|ti3|it8'
    else
        _prismet_cli_profiles
    fi
}

complete -F _prismet_cli prismet-cli

# Prints what bash completion offers for each command line given, one line
# each, "LINE:WORD WORD...", as readline would get it on Tab at the end of
# the line:
#   bash complete.bash FILE LINE...   the completion in FILE
#   bash complete.bash - LINE...      the completion bash-completion loads
#                                     for the command, as on the first Tab
# A completion that offers files lists them as they are on this machine.
. /usr/share/bash-completion/bash_completion
file=$1
shift
command=${1%% *}
if [ "$file" = - ]; then
    _completion_loader "$command"
    [ $? = 124 ] || { echo "no completion loaded for $command"; exit 1; }
else
    . "$file"
fi
compspec=$(complete -p "$command") || exit 1
func=${compspec#*-F }
func=${func%% *}
for line in "$@"; do
    COMP_LINE=$line
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$func" "$command" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "$line:${COMPREPLY[*]}"
done

# fish completion for tallowmere: subcommands, options, and the names of fortune files, those of
# the collection (as `tallowmere list` finds them) and ordinary files and directories.

set -l subcommands index add get count stats check list

function __tallowmere_collection_names
    set -l kind
    for word in (commandline -opc)
        switch $word
            case -a --all
                set kind -a
            case -o --offensive
                set kind -o
        end
    end
    command tallowmere list $kind 2>/dev/null | string replace -r '.*/' ''
end

# A draw: no subcommand yet.
set -l draw "not __fish_seen_subcommand_from $subcommands"
complete -c tallowmere -n "$draw" -a "$subcommands" -f -d Subcommand
complete -c tallowmere -n "$draw" -a "(__tallowmere_collection_names)" -d "Fortune file"
complete -c tallowmere -n "$draw" -s a -l all -d "Use all fortunes, offensive ones included"
complete -c tallowmere -n "$draw" -s o -l offensive -d "Use only offensive fortunes"
complete -c tallowmere -n "$draw" -s e -l equal -d "Make every file equally likely"
complete -c tallowmere -n "$draw" -s s -l short -d "Only short fortunes"
complete -c tallowmere -n "$draw" -s l -l long -d "Only long fortunes"
complete -c tallowmere -n "$draw" -s n -l length -x -d "Length that divides short from long"
complete -c tallowmere -n "$draw" -s m -l match -x -d "Print the fortunes that match REGEX"
complete -c tallowmere -n "$draw" -s i -l ignore-case -d "Match regardless of case"
complete -c tallowmere -n "$draw" -s c -l show-file -d "Print the file of the fortune"
complete -c tallowmere -n "$draw" -s f -l files -d "Print the files and their shares"
complete -c tallowmere -n "$draw" -s w -l wait -d "Wait long enough to read the fortune"
complete -c tallowmere -n "$draw" -l today -d "The fortune of the day"
complete -c tallowmere -n "$draw" -l fresh -d "A fortune not shown by an earlier --fresh"
complete -c tallowmere -n "$draw" -l seed -x -d "Seed the random generator"
complete -c tallowmere -n "$draw" -l version -d "Print the version"

# Options of several.
complete -c tallowmere -n "not __fish_seen_subcommand_from list" -s d -l delimiter -x -d "Delimiter character"
complete -c tallowmere -n "not __fish_seen_subcommand_from add check index" -l json -d "Print JSON Lines"
complete -c tallowmere -l help -d "Print the help"

# The subcommands.
complete -c tallowmere -n "__fish_seen_subcommand_from index" -l dat -d "Write FILE.dat too"
complete -c tallowmere -n "__fish_seen_subcommand_from list" -s a -l all -d "Files of every kind"
complete -c tallowmere -n "__fish_seen_subcommand_from list" -s o -l offensive -d "Offensive files"
complete -c tallowmere -n "__fish_seen_subcommand_from list" -f

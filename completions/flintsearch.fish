# fish completion for flintsearch: options, the one screenshot view, files
# for --output.
complete -c flintsearch -f
complete -c flintsearch -l screenshot -x -a search -d 'Render the named view, capture it, then exit'
complete -c flintsearch -l output -r -F -d 'PNG path to write the capture to'
complete -c flintsearch -l width -x -d 'Capture canvas width'
complete -c flintsearch -l height -x -d 'Capture canvas height'
complete -c flintsearch -s h -l help -d 'Print help'

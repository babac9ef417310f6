# Shell aliases, sourced from ~/.bashrc
export EDITOR=vim
export HISTSIZE=10000
alias ll='ls -alF'
alias gs='git status --short'
# Toggle the search launcher with one command
alias fs='flintsearch'

# zsh -f zsh-complete.zsh FUNCTION_DIR LINE
# Prints, one per line, what an interactive zsh with compinit offers when Tab
# is pressed at the end of LINE, with the completion functions of
# FUNCTION_DIR first in fpath. The shell runs on a pseudo terminal; compadd
# is wrapped to print its matches, and the markers are spelt in two pieces so
# that the terminal's echo of these lines never looks like output.
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PROMPT=''; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z "compadd() { typeset -a __hits; builtin compadd -A __hits \"\$@\"; (( \$#__hits )) && print -rl -- \"HI\"\"T:\"\${^__hits} }"
zpty -w z "comppostfuncs=(_capture_done); _capture_done() { print -r -- CAPTURE\"\"-END; exit }"
zpty -w z "bindkey '^I' complete-word"
zpty -w z "$2"$'\t'
integer tries=0
while (( tries++ < 200 )); do
  if zpty -r -t z line; then
    [[ $line == *CAPTURE-END* ]] && break
    [[ $line == *HIT:* ]] && print -r -- ${${line#*HIT:}%%$'\r'*}
  else
    sleep 0.05
  fi
done
zpty -d z

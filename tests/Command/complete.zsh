# zsh completes only in its line editor: this runs an interactive zsh on a pseudo-terminal,
# types LINE and a tab, and succeeds when the terminal then shows the line as COMPLETED.
# Usage: zsh -f complete.zsh COMPLETION_DIR LINE COMPLETED
setopt extendedglob
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "fpath=(${(q)1} \$fpath); autoload -U compinit; compinit -u -D; PS1='> '"
zpty -w -n z "$2"$'\t'
# What the terminal shows, without its escape sequences and control characters.
local out= line shown=
for i in {1..100}; do
  while zpty -r -t z line; do out+=$line; done
  shown=${${out//$'\e'\[[0-9;?]#[a-zA-Z]/}//[[:cntrl:]]/}
  [[ $shown == *"$3"* ]] && break
  sleep 0.1
done
zpty -d z
[[ $shown == *"$3"* ]]

#!/usr/bin/env bash
# The manual page and the bash completion of zirezid-cli know every command and option the program itself
# lists in its usage: a command added to the program and forgotten in either fails here.
# Usage: packaging/check-cli-docs.sh ZIREZID_CLI MANUAL_PAGE COMPLETION
set -euo pipefail
cli="$1"
page="$2"
completion="$3"
faults=0
fault() {
  echo "check-cli-docs: $*" >&2
  faults=$((faults + 1))
}

usage=$("$cli" --help) || { echo "check-cli-docs: $cli --help fails" >&2; exit 1; }
# One line per command: "  zirezid-cli NAME ARGS".
mapfile -t lines < <(printf '%s\n' "$usage" | sed -n 's/^  zirezid-cli \([a-z][a-z-]*\)\( \(.*\)\)\{0,1\}$/\1 \3/p')
[ "${#lines[@]}" -ge 10 ] || { echo "check-cli-docs: the usage lists only ${#lines[@]} commands" >&2; exit 1; }

manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
[ -n "$manual" ] || { echo "check-cli-docs: man cannot render $page" >&2; exit 1; }

# What the completion offers for the words typed so far (the last one is being completed). The helpers of the
# bash-completion package are stood in for: file names are not what is checked here.
complete_words() {
  bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
      words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    _filedir() { :; }
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zirezid_cli; echo "${COMPREPLY[*]}"' _ "$completion" zirezid-cli "$@"
}
has_word() { [[ " $1 " == *" $2 "* ]]; }

commands=$(complete_words "")
for line in "${lines[@]}"; do
  name=${line%% *}
  args=${line#* }
  grep -qE "^ +$name( |$)" <<<"$manual" || fault "the manual page has no entry for \"$name\""
  has_word "$commands" "$name" || fault "the completion does not offer the command \"$name\""
  # Alternatives of a command ("to-device ... | import ...") may begin with a sub-command of their own.
  while IFS= read -r alternative; do
    first=${alternative%% *}
    sub=
    if [[ $first =~ ^[a-z][a-z-]*(\|[a-z][a-z-]*)*$ ]]; then
      offered=$(complete_words "$name" "")
      for word in ${first//|/ }; do
        has_word "$offered" "$word" || fault "the completion does not offer \"$name $word\""
        grep -qE "(^| )$name ([a-z|-]*\|)?$word( |\||$)" <<<"$manual" ||
          fault "the manual page does not describe \"$name $word\""
      done
      sub=${first%%|*}
    fi
    options=$(grep -oE -- '(^|[ [|])--?[a-z][a-z-]*' <<<"$alternative" | grep -oE -- '--?[a-z][a-z-]*' || true)
    [ -n "$options" ] || continue
    offered=$(complete_words "$name" ${sub:+"$sub"} "-")
    for option in $options; do
      [[ $manual == *"$option"* ]] || fault "the manual page does not mention \"$name $option\""
      has_word "$offered" "$option" || fault "the completion does not offer \"$option\" after \"$name${sub:+ $sub}\""
    done
  done <<<"${args// | /$'\n'}"
done

[ "$faults" -eq 0 ] || exit 1
echo "check-cli-docs: the manual page and the completion cover all ${#lines[@]} commands"

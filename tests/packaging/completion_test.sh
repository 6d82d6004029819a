#!/usr/bin/env bash
# completion_test.sh COMPLETION-SCRIPT VORLAN: the bash completion loads
# cleanly and completes options, folders, files and filter names the way
# bash asks for them (words broken at "=" as COMP_WORDBREAKS does).
set -uo pipefail
script=$1
vorlan=$2
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0

# Parsing alone must say nothing: bash -n does not fail on a bad [[ ]].
if ! errors=$(bash -n "$script" 2>&1) || [[ -n $errors ]]; then
  echo "$script does not parse: $errors" >&2
  exit 1
fi
if [[ ! -f /usr/share/bash-completion/bash_completion ]]; then
  echo "bash-completion is not installed (scripts/install-deps.sh)" >&2
  exit 1
fi
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
# shellcheck source=/dev/null
source "$script"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Completes LINE (cursor at its end) for the program and leaves COMPREPLY.
complete_line() {
  COMP_LINE="$vorlan $1"
  COMP_POINT=${#COMP_LINE}
  # Blanks separate words unless escaped; "=" is a word of its own.
  local word="" i c
  COMP_WORDS=()
  for ((i = 0; i < ${#COMP_LINE}; i++)); do
    c=${COMP_LINE:i:1}
    case $c in
      \\)
        word+=${COMP_LINE:i:2}
        i=$((i + 1))
        ;;
      ' ' | =)
        [[ -n $word ]] && COMP_WORDS+=("$word")
        [[ $c == = ]] && COMP_WORDS+=("=")
        word=""
        ;;
      *) word+=$c ;;
    esac
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _vorlan "$vorlan" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}

expect() {  # expect LINE WORD...: COMPREPLY holds exactly these words
  local line=$1
  shift
  complete_line "$line"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
  want=$(printf '%s\n' "$@" | sort)
  [[ $got == "$want" ]] || fail "'$line' gave [${COMPREPLY[*]}], expected [$*]"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/shots" "$work/plugins"
touch "$work/a.gph" "$work/b.vgraph.json" "$work/notes.txt" "$work/picture.bmp" "$work/plugins.txt"

expect "--li" --list
expect "--memory-l" --memory-limit
complete_line "--"
[[ " ${COMPREPLY[*]} " == *" --run "* && " ${COMPREPLY[*]} " == *" --filters "* ]] ||
  fail "'--' did not offer --run and --filters: [${COMPREPLY[*]}]"
expect "--filters $work/plu" "$work/plugins"
expect "--run a.gph --snapshots $work/sh" "$work/shots"
expect "--run a.gph --path source=$work/pic" "$work/picture.bmp"
expect "--run a.gph --path=source=$work/pic" "$work/picture.bmp"
expect "--run $work/" "$work/a.gph" "$work/b.vgraph.json" "$work/plugins" "$work/shots"
expect "--memory-limit "

# The filter names come from --list, with the folders already typed.
names=$(_vorlan_filter_names "$vorlan")
grep -qx "HV encoder" <<<"$names" || fail "no 'HV encoder' among the filter names: $names"
grep -qx "File Output Stream" <<<"$names" || fail "no 'File Output Stream' among the filter names"
[[ $(grep -c . <<<"$names") -ge 22 ]] || fail "fewer than 22 filter names"
[[ -z $(_vorlan_filter_names "$vorlan" --filters "$work/plugins") ]] ||
  [[ $(_vorlan_filter_names "$vorlan" --filters "$work/plugins") == "$names" ]] ||
  fail "an empty --filters folder changed the names"
# An option whose value is a filter (its help says NAME) completes names,
# quoted for the shell.
option=$(_vorlan_options "$vorlan" | awk '$2 ~ /NAME|FILTER/ {print $1; exit}')
if [[ -n $option ]]; then
  expect "$option HV\\ en" 'HV\ encoder'
  expect "$option Bmp\\ " 'Bmp\ decoder' 'Bmp\ encoder'
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures completion checks failed" >&2
  exit 1
fi
echo "completion: options, folders, files and filter names complete"

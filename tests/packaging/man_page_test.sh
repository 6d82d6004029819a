#!/usr/bin/env bash
# man_page_test.sh PAGE NAME: the generated man page renders without a
# warning and has the sections a reader looks for.
set -euo pipefail
page=$1
name=$2
rendered=$(mktemp)
warnings=$(mktemp)
trap 'rm -f "$rendered" "$warnings"' EXIT
MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" >"$rendered" 2>"$warnings"
if [[ -s $warnings ]]; then
  echo "$page: man reports:" >&2
  cat "$warnings" >&2
  exit 1
fi
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "SEE ALSO"; do
  grep -q "^$section" "$rendered" || { echo "$page: no $section section" >&2; exit 1; }
done
grep -Eq "^ +$name +- " "$rendered" || { echo "$page: NAME does not start with $name" >&2; exit 1; }
# Every option the page lists is one the program's help names (the page is
# its help text), and --help itself is among them.
grep -Eq -- '^ +(-h, )?--help' "$rendered" || { echo "$page: --help is not listed" >&2; exit 1; }
echo "$page: renders, $(grep -c . "$rendered") lines"

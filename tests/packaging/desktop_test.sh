#!/usr/bin/env bash
# desktop_test.sh MIME-XML DESKTOP-FILE: the MIME types of graph files load
# into a MIME database, the extensions map to them (the longer JSON glob wins
# over *.json), and the launcher declares exactly the types the XML defines.
set -euo pipefail
xml=$1
desktop=$2
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
mkdir -p "$db/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$db/packages/" 2>/dev/null || true
cp "$xml" "$db/packages/"
update-mime-database "$db" >/dev/null 2>"$db/errors" || { cat "$db/errors" >&2; exit 1; }
if grep -q "vorlan" "$db/errors"; then cat "$db/errors" >&2; exit 1; fi
grep -qx 'application/x-vorlan-graph' "$db/types" || { echo "no application/x-vorlan-graph" >&2; exit 1; }
grep -qx 'application/x-vorlan-graph+json' "$db/types" || { echo "no application/x-vorlan-graph+json" >&2; exit 1; }
grep -q ':application/x-vorlan-graph:\*\.gph$' "$db/globs2" || { echo "*.gph is not a graph" >&2; exit 1; }
json=$(grep ':application/x-vorlan-graph+json:\*\.vgraph\.json$' "$db/globs2" | cut -d: -f1)
plain=$(grep ':application/json:\*\.json$' "$db/globs2" | cut -d: -f1 || true)
[[ -n $json ]] || { echo "*.vgraph.json is not a text graph" >&2; exit 1; }
grep -qx 'application/x-vorlan-graph+json application/json' "$db/subclasses" ||
  { echo "the text graph is not JSON" >&2; exit 1; }
grep -q '^application/x-vorlan-graph:vorlan$' "$db/icons" || { echo "no icon for graphs" >&2; exit 1; }
# shared-mime-info prefers the longest matching glob at equal weight.
[[ -z $plain || $json -ge $plain ]] || { echo "*.json outweighs *.vgraph.json" >&2; exit 1; }

declared=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)
defined=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$xml" | sort)
[[ $declared == "$defined" ]] || { echo "the launcher declares [$declared], the XML defines [$defined]" >&2; exit 1; }
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
echo "MIME types and launcher agree"

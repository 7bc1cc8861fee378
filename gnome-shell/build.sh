#!/bin/sh
# Makes one flavour of the extension from its one source:
#   build.sh legacy|esm OUTPUT_DIR VERSION
# legacy: GNOME 43-44 (imports); esm: GNOME 45 and later (ES modules).
# Keeps the lines between "//#if FLAVOR" and "//#endif" of the flavour asked
# for and drops the other flavour's.
set -eu
flavor=$1 out=$2 version=$3
here=$(dirname "$0")
# The GNOME Shell majors each flavour declares. The Shell refuses an
# extension that does not list its major; the GNOME beds fail on a Shell
# newer than the last listed here, so raise it when a bed brings one.
case "$flavor" in
  legacy) first=43 last=44 ;;
  esm) first=45 last=51 ;;
  *)
    echo "build.sh: flavour must be legacy or esm, not $flavor" >&2
    exit 2
    ;;
esac
shells=$(seq "$first" "$last" | sed 's/.*/"&"/' | paste -sd, - | sed 's/,/, /g')
mkdir -p "$out"
awk -v flavor="$flavor" '
  /^\/\/#if / {
    if (open) { print FILENAME ":" FNR ": nested //#if" > "/dev/stderr"; exit 1 }
    if ($2 != "legacy" && $2 != "esm") { print FILENAME ":" FNR ": unknown flavour " $2 > "/dev/stderr"; exit 1 }
    open = 1; keep = ($2 == flavor); next
  }
  /^\/\/#endif$/ {
    if (!open) { print FILENAME ":" FNR ": //#endif without //#if" > "/dev/stderr"; exit 1 }
    open = 0; next
  }
  !open || keep { print }
  END { if (open) { print FILENAME ": //#if without //#endif" > "/dev/stderr"; exit 1 } }
' "$here/extension.in.js" > "$out/extension.js.tmp"
mv "$out/extension.js.tmp" "$out/extension.js"
sed -e "s/@VERSION@/$version/" -e "s/@SHELL_VERSIONS@/$shells/" "$here/metadata.json.in" > "$out/metadata.json"

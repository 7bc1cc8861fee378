#!/bin/sh
# Makes one flavour of the extension from its sources:
#   build.sh legacy|esm OUTPUT_DIR VERSION [test]
# legacy: GNOME 43-44 (imports); esm: GNOME 45 and later (ES modules).
# Each NAME.in.js becomes NAME.js. A block between "//#if WORD..." and
# "//#endif" is kept when each word holds: the flavour's name, or "test" in
# the test build (the end-to-end tests' own, with testing.js); the installed
# extension has neither.
set -eu
flavor=$1 out=$2 version=$3 test=${4:-}
here=$(dirname "$0")
case "$flavor" in
  legacy) shells='"43", "44"' ;;
  esm) shells='"45", "46", "47", "48", "49", "50"' ;;
  *)
    echo "build.sh: flavour must be legacy or esm, not $flavor" >&2
    exit 2
    ;;
esac
case "$test" in
  "" | test) ;;
  *)
    echo "build.sh: the fourth argument can only be test, not $test" >&2
    exit 2
    ;;
esac
mkdir -p "$out"
for source in "$here"/*.in.js; do
  name=$(basename "$source" .in.js)
  [ "$name" = testing ] && [ -z "$test" ] && continue
  awk -v flavor="$flavor" -v test="$test" '
    /^\/\/#if / {
      if (open) { print FILENAME ":" FNR ": nested //#if" > "/dev/stderr"; exit 1 }
      open = 1; keep = 1
      for (i = 2; i <= NF; i++) {
        if ($i != "legacy" && $i != "esm" && $i != "test") { print FILENAME ":" FNR ": unknown condition " $i > "/dev/stderr"; exit 1 }
        if (($i == "test" && test != "test") || ($i != "test" && $i != flavor)) keep = 0
      }
      next
    }
    /^\/\/#endif$/ {
      if (!open) { print FILENAME ":" FNR ": //#endif without //#if" > "/dev/stderr"; exit 1 }
      open = 0; next
    }
    !open || keep { print }
    END { if (open) { print FILENAME ": //#if without //#endif" > "/dev/stderr"; exit 1 } }
  ' "$source" > "$out/$name.js.tmp"
  mv "$out/$name.js.tmp" "$out/$name.js"
done
sed -e "s/@VERSION@/$version/" -e "s/@SHELL_VERSIONS@/$shells/" "$here/metadata.json.in" > "$out/metadata.json"

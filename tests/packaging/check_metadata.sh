#!/bin/bash
# The files the package installs besides the program: AppStream metadata and
# desktop entry that validate cleanly, one version everywhere it is written,
# ids that match, and a manual page that formats without warnings and names
# every option and environment variable the program knows.
#   check_metadata.sh SOURCE_DIR VERSION VELMORA
# Exits 77 (skipped) when appstreamcli or desktop-file-validate is missing.
set -u
src=${1:?usage: check_metadata.sh SOURCE_DIR VERSION VELMORA}
version=${2:?}
velmora=${3:?}
metainfo=$src/packaging/co.quennet.velmora.metainfo.xml
desktop=$src/src/app/shell/resources/co.quennet.velmora.desktop
manpage=$src/packaging/velmora.1
changelog=$src/packaging/changelog

for program in appstreamcli desktop-file-validate; do
  command -v "$program" > /dev/null || { echo "SKIP: $program is not installed"; exit 77; }
done
failed=0
fail() { echo "FAIL: $*"; failed=1; }

out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
# Hints count too: they are how a menu entry ends up listed twice.
out=$(desktop-file-validate "$desktop" 2>&1)
[ $? = 0 ] && [ -z "$out" ] || fail "desktop-file-validate: $out"

# The metadata names the desktop entry it describes, which names the icon.
id=$(basename "$desktop" .desktop)
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launches no $id.desktop"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"

# The newest release (listed first) and the top changelog entry are this
# version, of the same day.
release=$(grep -m1 -o '<release version="[^"]*" date="[^"]*"' "$metainfo")
[[ "$release" == "<release version=\"$version\" "* ]] || fail "newest metainfo release is not $version: $release"
top=$(head -n1 "$changelog")
[[ "$top" =~ ^velmora\ \($version-[0-9]+\)\  ]] || fail "top changelog entry is not $version: $top"
releaseDate=${release##*date=\"}
releaseDate=${releaseDate%\"}
changelogDate=$(date -u -d "$(sed -n 's/^ -- .*>  //p' "$changelog" | head -n1)" +%F 2> /dev/null)
[ "$releaseDate" = "$changelogDate" ] || fail "metainfo release date $releaseDate, changelog $changelogDate"
grep -q "^\.TH VELMORA 1 .* \"Velmora $version\"" "$manpage" || fail "the manual page is not for $version"

# The manual page: no formatting warnings, and every option --help lists and
# every VELMORA_ variable the sources read is in it.
if command -v man > /dev/null; then
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$manpage" 2>&1 > /dev/null)
  [ -z "$out" ] || fail "man --warnings: $out"
fi
plain=$(sed 's/\\-/-/g' "$manpage")
options=$("$velmora" --help | grep -oE '^ +(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+')
[ -n "$options" ] || fail "velmora --help lists no options"
for option in $options; do
  grep -q -- "$option" <<< "$plain" || fail "the manual page does not describe $option"
done
for variable in $(grep -rhoE '"VELMORA_[A-Z0-9_]+"' "$src/src" | tr -d '"' | sort -u); do
  grep -q "^\.B $variable$" "$manpage" || fail "the manual page does not describe $variable"
done

[ "$failed" = 0 ] && echo "PASS: package metadata"
exit "$failed"

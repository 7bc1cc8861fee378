#!/bin/sh
# Lints every flavour of the built extension with eslint, and checks that the
# test route is in the test builds only:
#   lint.sh BUILD_DIR   (the folder holding legacy/, esm/, legacy-test/, esm-test/)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v eslint > /dev/null || {
  echo "SKIP: eslint is not installed"
  exit 77
}
# Debian's eslint finds its modules under /usr/share/nodejs, which a Node.js
# from elsewhere does not search.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
cd "$1"
for flavor in legacy esm; do
  type=script
  [ "$flavor" = esm ] && type=module
  for build in "$flavor" "$flavor-test"; do
    eslint --no-eslintrc -c "$here/eslintrc.yml" --parser-options=sourceType:$type "$build"/velmora@quennet.co/*.js
  done
  if grep -rl 'Shell\.Test\|testing\.js\|TestRoute' "$flavor"/velmora@quennet.co; then
    echo "lint.sh: the test route is in the $flavor extension that is installed" >&2
    exit 1
  fi
  [ -f "$flavor-test/velmora@quennet.co/testing.js" ] || {
    echo "lint.sh: the $flavor test build has no test route" >&2
    exit 1
  }
done
# The test bed's own gjs helper.
(cd "$here/../tests/e2e/gnome" && eslint --no-eslintrc -c "$here/eslintrc.yml" --parser-options=sourceType:script \
  --global print,printerr,ARGV bus_tool.js)
echo "eslint: all flavours clean; the test route only in the test builds"

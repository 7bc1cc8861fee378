#!/bin/sh
# Lints both flavours of the built extension with eslint:
#   lint.sh BUILD_DIR   (the folder holding legacy/ and esm/)
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
eslint --no-eslintrc -c "$here/eslintrc.yml" --parser-options=sourceType:script legacy/velmora@quennet.co/extension.js
eslint --no-eslintrc -c "$here/eslintrc.yml" --parser-options=sourceType:module esm/velmora@quennet.co/extension.js
echo "eslint: both flavours clean"

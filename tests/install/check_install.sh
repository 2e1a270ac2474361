#!/usr/bin/env bash
# Installs a build tree into a fresh prefix and checks what lands there: exactly the two programs,
# their manual pages and the documents (no test or benchmark program), programs that start, and
# manual pages that format without a warning.
#     check_install.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2

prefix=$(mktemp -d "${TMPDIR:-/tmp}/toval-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

expected='bin/toval-catalog
bin/toval-updater
share/doc/toval-updater/LICENSE
share/doc/toval-updater/README.md
share/doc/toval-updater/docs/window.png
share/man/man1/toval-catalog.1
share/man/man1/toval-updater.1'
actual=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ from the expected ones (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

status=0
for program in toval-updater toval-catalog; do
  version=$("$prefix/bin/$program" --version)
  if ! grep -Eqx "$program [0-9]+\.[0-9]+\.[0-9]+" <<<"$version"; then
    echo "$program --version printed: $version"
    status=1
  fi
  page=$prefix/share/man/man1/$program.1
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=1
    if [ -n "$warnings" ]; then
      echo "man $program.1: $warnings"
      status=1
    fi
  fi
done
exit $status

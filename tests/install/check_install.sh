#!/usr/bin/env bash
# Installs a build tree into a fresh prefix and checks what lands there: toval-catalog on PATH, the
# updater off it in lib/toval-updater (it works on its own directory, so a bin/ would become a
# client), compressed manual pages, the documents with every picture the README links, a copyright
# file carrying LICENSE's text and a changelog of this version (no test or benchmark program);
# programs that start, and manual pages that format without a warning.
#     check_install.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

prefix=$(mktemp -d "${TMPDIR:-/tmp}/toval-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

doc=share/doc/toval-updater
expected="bin/toval-catalog
lib/toval-updater/toval-updater
$doc/README.md
$doc/changelog.gz
$doc/copyright
$doc/docs/window-windows.png
$doc/docs/window.png
share/man/man1/toval-catalog.1.gz
share/man/man1/toval-updater.1.gz"
actual=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ from the expected ones (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

status=0
fail() {
  echo "$*"
  status=1
}

# Pictures and other files the README links by a relative path must be there beside it.
while read -r link; do
  [ -e "$prefix/$doc/$link" ] || fail "README.md links $link, which is not installed"
done < <(grep -o '](\([^)#:]*\))' "$prefix/$doc/README.md" | sed 's/^](\(.*\))$/\1/')

# Compressed without the name and time (gzip -n), so that every build gives the same bytes.
for gz in "$prefix"/share/man/man1/*.gz "$prefix/$doc/changelog.gz"; do
  gzip -t "$gz" || fail "$gz is not a whole gzip file"
  header=$(od -An -tx1 -j3 -N5 "$gz" | tr -d ' \n')
  [ "$header" = 0000000000 ] || fail "$gz keeps a name or a time in its header"
done

# The copyright file carries the licence word for word, in Debian's indented form.
sed -n '/^ Permission/,$p' "$prefix/$doc/copyright" | sed 's/^ //; s/^\.$//' |
  diff -q - <(sed -n '/^Permission/,$p' "$source_dir/LICENSE") >/dev/null ||
  fail "the copyright file's licence text differs from LICENSE"

for program in bin/toval-catalog lib/toval-updater/toval-updater; do
  name=$(basename "$program")
  version=$("$prefix/$program" --version)
  if ! grep -Eqx "$name [0-9]+\.[0-9]+\.[0-9]+" <<<"$version"; then
    fail "$name --version printed: $version"
  fi
  page=$prefix/share/man/man1/$name.1.gz
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=1
    if [ -n "$warnings" ]; then
      fail "man $name.1: $warnings"
    fi
  fi
done

# The changelog's latest entry is this release.
release=$("$prefix/bin/toval-catalog" --version | cut -d' ' -f2)
zcat "$prefix/$doc/changelog.gz" | head -1 | grep -q "^toval-updater ($release) " ||
  fail "the changelog's latest entry is not version $release"
exit $status

#!/bin/sh
# The install rules put the two programs and their man pages under
# DESTDIR/PREFIX, and `make uninstall` removes exactly those files.
# Usage: install.sh SOURCE_DIR BUILD_DIR
set -e
destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT
prefix=/usr/local
files="bin/vexac bin/vexasim share/man/man1/vexac.1 share/man/man1/vexasim.1"
DESTDIR=$destdir cmake --install "$2" --prefix "$prefix" >/dev/null
for file in $files; do
  [ -f "$destdir$prefix/$file" ] || { echo "not installed: $prefix/$file" >&2; exit 1; }
done
[ -x "$destdir$prefix/bin/vexac" ] && [ -x "$destdir$prefix/bin/vexasim" ]
cmp -s "$1/docs/vexac.1" "$destdir$prefix/share/man/man1/vexac.1"
touch "$destdir$prefix/bin/other"
make -s -C "$1" uninstall DESTDIR="$destdir" PREFIX="$prefix" >/dev/null
for file in $files; do
  [ ! -e "$destdir$prefix/$file" ] || { echo "not uninstalled: $prefix/$file" >&2; exit 1; }
done
[ -f "$destdir$prefix/bin/other" ] || { echo "uninstall removed a file it did not install" >&2; exit 1; }

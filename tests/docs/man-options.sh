#!/bin/sh
# Every option that a program's --help prints is described in its man page,
# and the page renders without a warning where groff is installed.
# Usage: man-options.sh PROGRAM MANPAGE
set -ef
page=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$2")
missing=0
for option in $("$1" --help | grep -oE '(^|[ ,(])--?[A-Za-z?][A-Za-z-]*' | sed 's/^[ ,(]//' | sort -u); do
  pattern=$(printf '%s' "$option" | sed 's/?/[?]/')
  printf '%s\n' "$page" | grep -qE -- "(^|[^A-Za-z-])$pattern([^A-Za-z-]|\$)" || {
    echo "$2 does not describe $option" >&2
    missing=1
  }
done
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -man -Tutf8 -ww -z "$2" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings" >&2; missing=1; }
fi
exit $missing

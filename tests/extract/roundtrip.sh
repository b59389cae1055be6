#!/bin/sh
# Extracting an object file and compiling the extracted pictures again with
# the same settings gives the same object file, byte for byte: the project
# holds pictures of 1, 4, 8 and 16 bits, raw and run-length coded, a button
# and an animation.
# Usage: roundtrip.sh VEXAC PROJECT_DIR
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$2"/main.txt "$2"/again.txt "$2"/*.bmp "$work"
cd "$work"
"$1" main.txt -o >main.out || { cat main.out; exit 1; }
"$1" --extract main.DFO out >/dev/null
"$1" again.txt -o >again.out || { cat again.out; exit 1; }
cmp main.DFO again.DFO

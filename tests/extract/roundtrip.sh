#!/bin/sh
# Extracting an object file and compiling the extracted files again with the
# same settings gives the same object file, byte for byte. Two projects: a
# small one with pictures of 1, 4, 8 and 16 bits, raw and run-length coded,
# a button and an animation (again.txt names the extracted files), and the
# demo with every image kind, whose resource lines are pointed at the
# extracted files here.
# Usage: roundtrip.sh VEXAC SOURCE_DIR
set -e
vexac=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VEXA_RANDOM_SEED=7

# compile_both FIRST SECOND OBJECT1 OBJECT2: compiles FIRST, extracts its
# object file into out/, compiles SECOND and compares the object files.
compile_both() {
  "$vexac" "$1" -o >first.out || { cat first.out; exit 1; }
  "$vexac" --extract "$3" out >/dev/null
  "$vexac" "$2" -o >second.out || { cat second.out; exit 1; }
  cmp "$3" "$4"
}

mkdir "$work/small"
cp "$2"/tests/extract/roundtrip/* "$work/small"
cd "$work/small"
compile_both main.txt again.txt main.DFO again.DFO

cp -r "$2"/examples/demo "$work/demo"
cd "$work/demo"
sed -e 's|<.\\pictures\\logo.bmp>|<out/picture-p0-001.bmp>|' \
    -e 's|<.\\pictures\\key_up.bmp><.\\pictures\\key_down.bmp>|<out/button-p0-001-f001.bmp><out/button-p0-001-f002.bmp>|' \
    -e 's|<.\\pictures\\frame.bmp>|<out/border-p0-001-f001.bmp>|' \
    -e 's|<.\\pictures\\dots.bmp>|<out/pattern-p0-001.bmp>|' \
    -e 's|<.\\pictures\\spin?.bmp>|<out/animation-p0-001-f00?.bmp>|' \
    -e 's|<.\\pictures\\gauge?.bmp>|<out/instrument-p0-001-f00?.bmp>|' \
    -e 's|<.\\fonts\\arrows.fxt>|<out/font-p0-001-c00?.bmp>|' demo.txt >again.txt
# Every image resource line must have been pointed at the extracted files.
! grep -E '^(PICTURE|BUTTON|BORDER|PATTERN|ANIMATION|INSTRUMENT|FONT) .*<\.' again.txt
compile_both demo.txt again.txt demo.DFO again.DFO

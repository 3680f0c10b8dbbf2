#!/usr/bin/env bash
# Renders the lesson pictures the mock serves from their SVG drawings, with
# Debian's Chromium (headless). Run after changing a drawing; the PNGs are
# committed so the mock itself needs nothing beyond Python.
set -euo pipefail
cd "$(dirname "$0")"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
sandbox=()
[ "$(id -u)" = 0 ] && sandbox=(--no-sandbox)
for svg in *.svg; do
  size=$(sed -n 's/^<svg [^>]*width="\([0-9]*\)" height="\([0-9]*\)".*/\1,\2/p' "$svg" | head -1)
  chromium --headless=new "${sandbox[@]}" --user-data-dir="$profile" --hide-scrollbars \
    --default-background-color=00000000 --window-size="$size" --screenshot="$PWD/${svg%.svg}.png" \
    "file://$PWD/$svg" 2>/dev/null
  echo "${svg%.svg}.png ($size)"
done

#!/usr/bin/env bash
# Checks that the guide shows the example programs as they are.
#
# In the sources under examples/, a region is the lines between a line that holds the marker
# [guide:NAME] and the next line that holds [guide:end] (in comments: "// [guide:open]",
# "# [guide:cmake]"); regions do not nest, and a name appears once per file. In the guide, every
# fenced code block follows a caption line
#
#   From `examples/read.cpp`, region `open`:
#
# (only blank lines between them), and must equal that region less its common indentation.
# Every region must be shown at least once. Fails with a diff for each block that differs.
# Usage: scripts/check-docs.sh [GUIDE]   (default docs/guide.md)
set -euo pipefail
cd "$(dirname "$0")/.."
guide=${1:-docs/guide.md}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/regions" "$tmp/blocks"

# The file that holds region NAME of FILE: the path with '/' written as '%'.
region_file() { printf '%s/regions/%s#%s' "$tmp" "${1//\//%}" "$2"; }

# Every region of every source under examples/, dedented, one file each.
while IFS= read -r source; do
  awk -v prefix="$tmp/regions/${source//\//%}#" -v source="$source" '
    function fail(message) {
      printf "check-docs: %s:%d: %s\n", source, FNR, message > "/dev/stderr"
      failed = 1
      exit 1
    }
    function flush(    i, indent, least, file) {
      least = -1
      for (i = 1; i <= n; i++) {
        if (lines[i] !~ /[^ \t]/) continue
        match(lines[i], /^ */)
        if (least < 0 || RLENGTH < least) least = RLENGTH
      }
      if (least < 0) least = 0
      file = prefix name
      printf "" > file
      for (i = 1; i <= n; i++) print (lines[i] ~ /[^ \t]/ ? substr(lines[i], least + 1) : "") > file
      close(file)
    }
    match($0, /\[guide:[A-Za-z0-9_-]+\]/) {
      tag = substr($0, RSTART + 7, RLENGTH - 8)
      if (tag == "end") {
        if (name == "") fail("[guide:end] outside a region")
        flush()
        name = ""
        next
      }
      if (name != "") fail("region " tag " starts inside region " name)
      if (tag in seen) fail("region " tag " appears twice")
      seen[tag] = 1
      name = tag
      n = 0
      next
    }
    name != "" { lines[++n] = $0 }
    END { if (!failed && name != "") fail("region " name " has no [guide:end]") }
  ' "$source"
done < <(find examples -type f | sort)

# Every code block of the guide, one file each, and its caption.
awk -v blocks="$tmp/blocks" -v guide="$guide" '
  function fail(message) {
    printf "check-docs: %s:%d: %s\n", guide, FNR, message > "/dev/stderr"
    failed = 1
    exit 1
  }
  /^[ \t]*```/ {
    if (!inside) {
      if (caption == "") fail("a code block without a caption \"From `FILE`, region `NAME`:\"")
      inside = 1
      count++
      block = blocks "/" count
      printf "" > block
      print caption "\t" FNR > (blocks "/captions")
    } else {
      inside = 0
      close(block)
      caption = ""
    }
    next
  }
  inside { print > block; next }
  /^From `[^`]+`, region `[^`]+`:$/ {
    split($0, part, "`")
    caption = part[2] "\t" part[4]
    next
  }
  /[^ \t]/ { caption = "" }
  END { if (!failed && inside) fail("a code block is never closed") }
' "$guide"

status=0
touch "$tmp/blocks/captions" "$tmp/used"
block=0
while IFS=$'\t' read -r source name line; do
  block=$((block + 1))
  region=$(region_file "$source" "$name")
  if [ ! -f "$region" ]; then
    echo "check-docs: $guide:$line: $source has no region $name" >&2
    status=1
    continue
  fi
  echo "$region" >> "$tmp/used"
  if ! diff -u --label "$source [guide:$name]" --label "$guide:$line" \
       "$region" "$tmp/blocks/$block" >&2; then
    status=1
  fi
done < "$tmp/blocks/captions"

for region in "$tmp"/regions/*; do
  [ -e "$region" ] || continue
  if ! grep -qxF "$region" "$tmp/used"; then
    name=${region##*/}
    echo "check-docs: ${name//%//} [guide:...] is not shown in $guide" >&2
    status=1
  fi
done

if [ "$status" -ne 0 ]; then
  echo "check-docs: $guide does not show the examples as they are" >&2
  exit 1
fi
echo "check-docs: $block code blocks of $guide match the examples"

#!/usr/bin/env bash
# The man page renders without warnings, and its DIAGNOSTICS section lists
# every message the program can print.
set -euo pipefail
page=$1

warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "groff warnings:"; echo "$warnings"; exit 1
fi

# Plain text on very long lines, so no message is broken or hyphenated.
text=$(groff -man -Tascii -rLL=2000n -rHY=0 -P-cbou "$page" 2>/dev/null |
  sed -n '/^DIAGNOSTICS/,/^EXAMPLES/p' | tr -s ' \n' ' ')

# Each message as the program prints it; %s and %d parts are left out.
messages=(
  "usage: | [options] readfile writespec num_files"
  "flowdeal v0.3"
  "flowdeal only supports 256 output files"
  "bad write file format (1): "
  " format must contain %d"
  "bad write format (2):"
  " format must not contain arguments other than %d"
  "bad write format (3):"
  " too many arugments in format"
  "prefix must be in 8-bit increments"
  "prefix must be less than full address length"
  "error opening tracefile |: "
  "open_trace_files() memory allocation problem"
  "cannot open | for writing: "
  "cannot open | for writing: it is the input trace"
  "error reading tracefile |: "
  "error writing |: "
  "not enough memory to allocate another IP pair"
)
status=0
for m in "${messages[@]}"; do
  IFS='|' read -ra parts <<<"$m"
  for part in "${parts[@]}"; do
    part=$(echo "$part" | sed 's/^ *//; s/ *$//')
    if ! grep -qF -- "$part" <<<"$text"; then
      echo "DIAGNOSTICS lacks: '$part'"; status=1
    fi
  done
done
exit $status

#!/usr/bin/env bash
# The man page renders without warnings, and its DIAGNOSTICS section lists
# every message the program can print: each format the sources pass to fatal,
# printf or fprintf, taken from the sources themselves, so a new message that
# the page lacks fails here. (The indented lines of the usage text are the
# option summary, not messages.)
set -euo pipefail
page=$1
sources=$2

warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "groff warnings:"; echo "$warnings"; exit 1
fi

# Plain text on very long lines, so no message is broken or hyphenated.
text=$(groff -man -Tascii -rLL=2000n -rHY=0 -P-cbou "$page" 2>/dev/null |
  sed -n '/^DIAGNOSTICS/,/^EXAMPLES/p' | tr -s ' \n' ' ')

mapfile -t formats < <(grep -rhoP '(\bfatal\(|\bprintf\(|\bfprintf\((stderr|stdout), *)"\K([^"\\]|\\.)*(?=")' \
  "$sources/control" "$sources/classify" "$sources/dissect" | grep -v '^  ' | sort -u)
[ ${#formats[@]} -ge 10 ] || { echo "found only ${#formats[@]} messages in the sources"; exit 1; }

status=0
for format in "${formats[@]}"; do
  # The fixed parts between the values; "%%" prints as "%", "\n" ends the line.
  plain=$(printf '%s' "$format" | sed 's/\\n//g; s/\\"/"/g; s/%%/\x01/g; s/%[sd]/|/g; s/\x01/%/g')
  IFS='|' read -ra parts <<<"$plain"
  for part in "${parts[@]}"; do
    part=$(echo "$part" | sed 's/^ *//; s/ *$//')
    [ -n "$part" ] || continue
    [ "$part" = ":" ] && continue
    if ! grep -qF -- "$part" <<<"$text"; then
      echo "DIAGNOSTICS lacks: '$part' (from \"$format\")"; status=1
    fi
  done
done
exit $status

#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, unpacks it into a scratch
# root and runs what it installed.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >/dev/null
deb=$(ls "$scratch"/pkg/flowdeal_*_*.deb)
case $(basename "$deb") in
  flowdeal_0.3_$(dpkg --print-architecture).deb) ;;
  *) echo "unexpected package name: $deb"; exit 1 ;;
esac
dpkg-deb -f "$deb" Depends | grep -q libpcap || { echo "no libpcap dependency"; exit 1; }
# Errors and warnings fail; the informational tags left are the program's own
# message texts (their spelling is kept byte for byte) and the .comment section.
lintian --fail-on error,warning "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || { echo "lintian refuses the package"; exit 1; }
dpkg -x "$deb" "$scratch/root"
version=$("$scratch/root/usr/bin/flowdeal" --version)
[ "$version" = "flowdeal v0.3" ] || { echo "installed binary said: $version"; exit 1; }
zcat "$scratch/root/usr/share/man/man1/flowdeal.1.gz" | grep -q '^\.SH DIAGNOSTICS' || { echo "no man page"; exit 1; }
[ -f "$scratch/root/usr/share/bash-completion/completions/flowdeal" ] || { echo "no completion"; exit 1; }
grep -q '^License: BSD-2-Clause' "$scratch/root/usr/share/doc/flowdeal/copyright" || { echo "no copyright"; exit 1; }
zcat "$scratch/root/usr/share/doc/flowdeal/changelog.gz" | head -1 | grep -q '^flowdeal (0.3)' || { echo "no changelog"; exit 1; }
[ -s "$scratch/root/usr/share/doc/flowdeal/scaling.md" ] || { echo "no scaling page"; exit 1; }
echo "package ok: $(basename "$deb")"

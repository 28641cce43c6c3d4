#!/usr/bin/env bash
# The completion offers options, prefix values after --p4/--p6, then file names.
set -euo pipefail
source "$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
touch trace.pcap trace2.pcap other
complete_words() {
  COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
  _flowdeal
  echo "${COMPREPLY[*]}"
}
check() {
  local expected=$1; shift
  local got; got=$(complete_words "$@")
  [ "$got" = "$expected" ] || { echo "completing '$*': got '$got', expected '$expected'"; exit 1; }
}
check "--notcp" flowdeal --n
check "--p4 --p6" flowdeal --p
check "-d -h --notcp --p4 --p6 --version" flowdeal -
check "0 8 16 24" flowdeal --p4 ""
check "16" flowdeal --p4 1
check "120" flowdeal --p6 12
check "trace.pcap trace2.pcap" flowdeal -d tr
echo "completion ok"

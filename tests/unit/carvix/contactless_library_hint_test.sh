#!/usr/bin/env bash
# The client names the contactless library and the folder it was looked for in when the
# component cannot load it (the component's own text names neither).
#   contactless_library_hint_test.sh CARVIX MODULE
set -uo pipefail
carvix=$1
module=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_CONFIG_DIRS=$home/system \
  XDG_DATA_HOME=$home/data CARVIX_DIALOG=off
# A module registered from a folder that holds no contactless library.
cp "$module" "$home/carvix-qx.so"
"$carvix" register --module "$home/carvix-qx.so" >/dev/null || exit 1
err=$("$carvix" contactless read --reader 'No Reader 00 00' 2>&1 >/dev/null)
status=$?
fail=0
check() {
  if [[ $err != *"$1"* ]]; then
    echo "FAILED: no '$1' in: $err" >&2
    fail=1
  fi
}
[ $status -eq 1 ] || { echo "FAILED: exit status $status, not 1" >&2; fail=1; }
check "the contactless library RF_QXeID_DF_API.so is looked for beside the module, in $home:"
check "cannot open shared object file"
check "Failed to load library for working with a contactless card."
[ $fail -eq 0 ] && echo "the failed library load names the library and its folder"
exit $fail

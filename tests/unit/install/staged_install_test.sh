#!/usr/bin/env bash
# Installs the build into a temporary folder and checks what an installation gets: the
# layout, the runtime's version and SONAME, no run path into the build tree, no test bench
# without CARVIX_INSTALL_BENCH, a manual page for every program, the C and C++ examples
# built against the staged SDK (pkg-config and find_package), and `carvix register` from
# the staged binary folder registering the staged module.
#   staged_install_test.sh BUILD_DIR SOURCE_DIR CMAKE
set -euo pipefail
build=$1 source=$2 cmake=$3
stage=$(mktemp -d /tmp/carvix-staged-XXXXXX)
trap 'rm -rf "$stage"' EXIT
fail=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if ! "$@"; then
        echo "FAILED: $what" >&2
        fail=1
    fi
}

DESTDIR=$stage/root "$cmake" --install "$build" >"$stage/install.log"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
root=$stage/root$prefix
lib=$root/$libdir

check "module in its private folder" test -f "$lib/carvix-qx/carvix-qx.so"
check "runtime with its version" test -f "$lib/libcarvix-com.so.0.1.0"
check "SONAME link" test "$(readlink "$lib/libcarvix-com.so.1")" = libcarvix-com.so.0.1.0
check "development link" test "$(readlink "$lib/libcarvix-com.so")" = libcarvix-com.so.1
check "SONAME" bash -c "readelf -d '$lib/libcarvix-com.so.0.1.0' | grep -q 'SONAME.*\[libcarvix-com.so.1\]'"
check "module needs the versioned runtime" \
    bash -c "readelf -d '$lib/carvix-qx/carvix-qx.so' | grep -q 'NEEDED.*\[libcarvix-com.so.1\]'"
for f in "$lib/carvix-qx/carvix-qx.so" "$lib/libcarvix-com.so.0.1.0" "$root"/bin/*; do
    check "no run path into the build tree: $f" \
        bash -c "! readelf -d '$f' 2>/dev/null | grep -E 'R(UN)?PATH' | grep -q '$build'"
done
for h in types.h interfaces.h oleauto.h host_hooks.h scoped.h client.h oleauto_c.h; do
    check "public header $h" test -f "$root/include/carvix/automation/$h"
done
for h in registry.h typeinfo.h guid.h; do
    check "internal header $h stays in the tree" test ! -e "$root/include/carvix/automation/$h"
done
check "pkg-config file" test -f "$lib/pkgconfig/carvix-com.pc"
check "CMake package" test -f "$lib/cmake/CarvixCom/CarvixComConfig.cmake"
check "bash completion" test -f "$root/share/bash-completion/completions/carvix"
check "no substitute contactless library" test ! -e "$lib/carvix-qx/RF_QXeID_DF_API.so"
check "no virtual card" test ! -e "$root/bin/carvix-vcard"
for program in "$root"/bin/*; do
    check "manual page for $(basename "$program")" test -f "$root/share/man/man1/$(basename "$program").1"
done
# Every subcommand that `carvix --help` lists is in its manual page.
sed 's/\\-/-/g' "$source/man/carvix.1" >"$stage/carvix.1.txt"
for sub in $("$build/tools/carvix/carvix" --help | sed -n '/^Subcommands:/,$s/^  \([a-z-]*\) .*/\1/p'); do
    check "carvix.1 describes $sub" grep -qE "^(\.B[IR]? .*\b|.*\\\\fB)$sub\b" "$stage/carvix.1.txt"
done

export LD_LIBRARY_PATH=$lib
# The examples against the staged SDK only.
export PKG_CONFIG_PATH=$lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage/root
check "C example builds with pkg-config" \
    bash -c "cc -std=c11 -Wall -Wextra -Werror '$source/examples/c/read_document.c' \
             \$(pkg-config --cflags --libs carvix-com) -o '$stage/read_document'"
check "C++ example builds with find_package" \
    bash -c "'$cmake' -S '$source/examples/cpp' -B '$stage/cpp' -G Ninja \
               -DCMAKE_PREFIX_PATH='$root' -DCMAKE_CXX_FLAGS='-Wall -Wextra -Werror' >'$stage/cpp.log' 2>&1 &&
             '$cmake' --build '$stage/cpp' >>'$stage/cpp.log' 2>&1 || { cat '$stage/cpp.log'; false; }"

# Registration from the staged binary folder, in a throw-away profile.
export HOME=$stage/home XDG_CONFIG_DIRS=$stage/etc
unset XDG_CONFIG_HOME
mkdir -p "$HOME"
check "carvix register uses the installed module" "$root/bin/carvix" register
check "the user's registration names the staged module" \
    grep -qF "@=\"$lib/carvix-qx/carvix-qx.so\"" "$HOME/.config/carvix-com/current-user.hive"
check "carvix register --system" "$root/bin/carvix" register --system
check "the machine registration" test -f "$XDG_CONFIG_DIRS/carvix-com/classes-root.hive"

# The examples run: bad usage is 2; a reader that does not exist is a reported failure.
if [ -x "$stage/read_document" ]; then
    set +e
    "$stage/read_document" >/dev/null 2>&1
    check "C example: usage" test $? -eq 2
    "$stage/read_document" "No Such Reader 00 00" 1 >"$stage/c.out" 2>&1
    check "C example: a failed read is exit status 1" test $? -eq 1
    set -e
    check "C example: the failure names the call and its code" \
        grep -q "ReadVLDocumentData failed: 0x8" "$stage/c.out"
fi
if [ -x "$stage/cpp/read_document_cpp" ]; then
    set +e
    "$stage/cpp/read_document_cpp" "No Such Reader 00 00" >"$stage/cpp.out" 2>&1
    check "C++ example: a failed read is exit status 1" test $? -eq 1
    set -e
    check "C++ example: the failure names the call and its code" \
        grep -q "ReadVLDocumentData failed: 0x8" "$stage/cpp.out"
fi

"$root/bin/carvix" unregister --system
"$root/bin/carvix" unregister
check "unregistering leaves no value in the machine hive" \
    bash -c "! grep -q '^[@\"]' '$XDG_CONFIG_DIRS/carvix-com/classes-root.hive'"
[ $fail -eq 0 ] && echo "staged installation: all checks passed"
exit $fail

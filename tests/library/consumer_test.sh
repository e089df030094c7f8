#!/bin/bash
# consumer_test.sh BUILD_DIR CONFIG LIBDIR WORK_DIR C_COMPILER CMAKE [EXTRA_C_FLAGS]
# Installs the built library into a fresh prefix under WORK_DIR, then builds the C program in
# consumer/ against the installed files four ways (pkg-config shared and static, CMake's
# toneshift::toneshift and toneshift::toneshift_static), runs each and compares its output.
# EXTRA_C_FLAGS go to every compile and link (the sanitizers of a sanitized library).
set -euo pipefail
build=$1
config=$2
libdir=$3
work=$4
cc=$5
cmake=$6
extra_flags=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
config_args=()
[[ -n $config ]] && config_args=(--config "$config")
for component in toneshift_runtime toneshift_development; do
    "$cmake" --install "$build" "${config_args[@]}" --prefix "$prefix" --component "$component" \
        >"$work/install.log"
done

lib=$prefix/$libdir
for file in include/toneshift/toneshift.h "$libdir/libtoneshift.a" \
    "$libdir/pkgconfig/toneshift.pc" "$libdir/cmake/toneshift/toneshift-config.cmake" \
    "$libdir/cmake/toneshift/toneshift-config-version.cmake"; do
    [[ -f $prefix/$file ]] || fail "$file is not installed"
done
[[ -f $lib/libtoneshift.so.1.0.0 && ! -L $lib/libtoneshift.so.1.0.0 ]] ||
    fail "libtoneshift.so.1.0.0 is not installed"
[[ $(readlink "$lib/libtoneshift.so.1" || true) == libtoneshift.so.1.0.0 ]] ||
    fail "libtoneshift.so.1 does not link to libtoneshift.so.1.0.0"
[[ $(readlink "$lib/libtoneshift.so" || true) == libtoneshift.so.1 ]] ||
    fail "libtoneshift.so does not link to libtoneshift.so.1"

vni='vni-win -> utf-8, a byte at a time: Xin ch\xc3\xa0o th\xe1\xba\xbf gi\xe1\xbb\x9bi.'
vni+=' \xc4\x90\xc6\xb0\xe1\xbb\x9dng ph\xe1\xbb\x91 H\xc3\xa0 N\xe1\xbb\x99i'
expected=$(printf '%b\n' \
    'header 1.0.0, library 1.0.0' \
    'tcvn3 -> utf-8: Ti\xe1\xba\xbfng Vi\xe1\xbb\x87t c\xc3\xb3 d\xe1\xba\xa5u' \
    "$vni" \
    'utf-8 -> tcvn3: refused, U+2603 at line 1, column 4, 1 problem')
# check NAME PROGRAM LINKAGE: runs PROGRAM, compares its output, and checks whether it loads
# libtoneshift.so.1 (LINKAGE shared) or not (static).
check() {
    local name=$1 program=$2 linkage=$3 output
    if ! output=$("$program" 2>&1); then
        fail "$name: the program failed: $output"
        return
    fi
    [[ $output == "$expected" ]] || fail "$name: the output differs:"$'\n'"$output"
    local loads=no
    readelf -d "$program" | grep -q 'Shared library: \[libtoneshift\.so\.1\]' && loads=yes
    [[ ($linkage == shared && $loads == yes) || ($linkage == static && $loads == no) ]] ||
        fail "$name: linked $linkage, but loading libtoneshift.so.1: $loads"
    echo "$name: ok"
}

# pkg-config, from the installed toneshift.pc only.
export PKG_CONFIG_PATH=$lib/pkgconfig
read -ra extra <<<"$extra_flags"
c_flags=(-std=c99 -Wall -Wextra -Wpedantic -Werror "${extra[@]}")
version=$(pkg-config --modversion toneshift)
[[ $version == 1.0.0 ]] || fail "pkg-config gives version $version"
# shellcheck disable=SC2046
"$cc" "${c_flags[@]}" $(pkg-config --cflags toneshift) "$here/consumer/consumer.c" \
    -o "$work/pkg-config-shared" $(pkg-config --libs toneshift) -Wl,-rpath,"$lib"
check "pkg-config, shared" "$work/pkg-config-shared" shared
# Where both libtoneshift.so and libtoneshift.a are installed, -ltoneshift takes the shared
# one; -l:libtoneshift.a names the archive, with the libraries --static lists after it.
read -ra static_libs <<<"$(pkg-config --static --libs toneshift)"
[[ " ${static_libs[*]} " == *" -ltoneshift "* ]] ||
    fail "pkg-config --static gives ${static_libs[*]}"
for i in "${!static_libs[@]}"; do
    [[ ${static_libs[i]} == -ltoneshift ]] && static_libs[i]=-l:libtoneshift.a
done
# shellcheck disable=SC2046
"$cc" "${c_flags[@]}" $(pkg-config --cflags toneshift) "$here/consumer/consumer.c" \
    -o "$work/pkg-config-static" "${static_libs[@]}"
check "pkg-config --static" "$work/pkg-config-static" static

# CMake's package, found through CMAKE_PREFIX_PATH.
"$cmake" -S "$here/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$extra_flags" \
    >"$work/cmake-configure.log" || fail "the CMake consumer does not configure"
"$cmake" --build "$work/cmake" >"$work/cmake-build.log" || {
    cat "$work/cmake-build.log" >&2
    fail "the CMake consumer does not build"
}
for kind in shared static; do
    target=toneshift::toneshift
    [[ $kind == static ]] && target+=_static
    [[ -x $work/cmake/consumer_$kind ]] && check "CMake $target" "$work/cmake/consumer_$kind" $kind
done
exit $status

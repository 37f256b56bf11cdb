#!/usr/bin/env bash
# Proves the packaging from outside the build tree: installs BUILD_DIR into a
# temporary prefix, builds a separate C program against it once through
# find_package and once through pkg-config, runs both, then makes the Debian
# package and checks that it holds the same files.
set -euo pipefail
build=$(realpath "${1:?usage: check_install.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'libdaduzozi.so.0' -printf '%h\n')
export LD_LIBRARY_PATH=$libdir

echo "installed files:"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^/  /')
for wanted in include/tovik.h include/tovik.hpp bin/daduzozi share/man/man1/daduzozi.1; do
  [ -e "$prefix/$wanted" ] || { echo "missing from the install: $wanted"; exit 1; }
done
[ "$(readlink "$libdir/libdaduzozi.so")" = libdaduzozi.so.0 ] || { echo "libdaduzozi.so does not link to the SONAME"; exit 1; }
"$prefix/bin/daduzozi" --version

echo "find_package consumer:"
cmake -S "$here/find_package" -B "$work/fp" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/fp" >/dev/null
"$work/fp/consumer"

echo "pkg-config consumer:"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046 # the flags are meant to split into words
cc -std=c99 -Wall -Wextra -pedantic -Werror "$here/consumer.c" -o "$work/pc" $(pkg-config --cflags --libs daduzozi)
"$work/pc"

echo "Debian package:"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(find "$work/deb" -maxdepth 1 -name 'daduzozi_*.deb')
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./usr/||; /\/$/d; /^$/d' | sort > "$work/deb.files"
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) > "$work/install.files"
cat "$work/deb.files" | sed 's/^/  /'
diff -u "$work/install.files" "$work/deb.files" || { echo "the Debian package differs from the install"; exit 1; }
echo "packaging checks passed"

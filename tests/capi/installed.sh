#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a C program against it
# the way a board program would: through pkg-config, with the program's own
# flags (the words after the source).
set -euo pipefail
build=$1 cc=$2 source=$3
shift 3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
pc="$prefix/lib/pkgconfig"
[ -d "$pc" ] || pc=$(dirname "$(find "$prefix" -name hvl.pc)")
flags=$(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs hvl)
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror "$@" "$source" $flags -o "$prefix/capi"
LD_LIBRARY_PATH=$(PKG_CONFIG_PATH="$pc" pkg-config --variable=libdir hvl) "$prefix/capi"
# Both programs and their manual pages are installed; the pages render
# without warnings.
for program in hwregs hwboard; do
    test -x "$prefix/bin/$program"
    test -f "$prefix/share/man/man1/$program.1"
    if man --warnings -l "$prefix/share/man/man1/$program.1" 2>&1 >/dev/null | grep .; then
        exit 1
    fi
done

#!/usr/bin/env bash
# Makes the Debian packages of a build directory into a scratch directory and
# checks each one: its files exactly (the simulator, the benches and the tests
# in none), its architecture, its dependencies, and the library's shlibs file.
set -euo pipefail
build=$1 source=$2 version=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
arch=$(dpkg --print-architecture)
failed=0

fail() {
    echo "$*"
    failed=1
}

# The files of a package, one a line, sorted; a symlink as "path -> target".
files() {
    dpkg-deb -c "$1" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' |
        sed -e 's|^\./||' -e 's|hvlTargets-[a-z]*\.cmake|hvlTargets-CONFIG.cmake|' | sort
}

# package deb-name expected-files...
expect_files() {
    local deb=$out/$1_${version}_$arch.deb
    shift
    if [ ! -f "$deb" ]; then
        fail "missing package $(basename "$deb"); made: $(cd "$out" && echo ./*.deb)"
        return
    fi
    if ! diff <(printf '%s\n' "$@" | sort) <(files "$deb"); then
        fail "$(basename "$deb"): files differ from the expected (<) ones"
    fi
}

# package field pattern: the control field matches the extended regex.
expect_field() {
    local value
    value=$(dpkg-deb -f "$out/$1_${version}_$arch.deb" "$2" 2>/dev/null) || value=''
    [[ $value =~ $3 ]] || fail "$1: $2 is '$value', expected /$3/"
}

headers=()
for header in "$source"/include/hvl/*.h; do
    headers+=("usr/include/hvl/$(basename "$header")")
done

expect_files libhvl0 "usr/lib/libhvl.so.$version" "usr/lib/libhvl.so.0 -> libhvl.so.$version"
expect_files libhvl-dev "${headers[@]}" usr/lib/libhvl.a "usr/lib/libhvl.so -> libhvl.so.0" \
    usr/lib/pkgconfig/hvl.pc usr/lib/cmake/hvl/hvlConfig.cmake \
    usr/lib/cmake/hvl/hvlConfigVersion.cmake usr/lib/cmake/hvl/hvlTargets.cmake \
    usr/lib/cmake/hvl/hvlTargets-CONFIG.cmake
expect_files hwregs usr/bin/hwregs usr/share/man/man1/hwregs.1 \
    usr/share/bash-completion/completions/hwregs usr/bin/hwboard usr/share/man/man1/hwboard.1 \
    usr/share/bash-completion/completions/hwboard \
    usr/share/doc/hwregs/hwboard.schema.json

for package in libhvl0 libhvl-dev hwregs; do
    expect_field "$package" Package "^$package\$"
    expect_field "$package" Architecture "^$arch\$"
    expect_field "$package" Version "^$version\$"
    expect_field "$package" Maintainer '.+ <.+@.+>'
    expect_field "$package" Section '^(libs|libdevel|admin)$'
done
exact="libhvl0 \\(= ${version//./\\.}\\)"
expect_field libhvl0 Depends '^libc6 \(>= [0-9.]+\)$'
expect_field libhvl-dev Depends "^$exact\$"
expect_field hwregs Depends "(^|, )$exact(,|\$)"
expect_field hwregs Depends '(^|, )libc6 \(>= [0-9.]+\)(,|$)'

# Everything a plain install installs is in a package: no install rule is
# left outside the packaged components.
cmake --install "$build" --prefix "$out/all" >/dev/null
installed=$(cd "$out/all" && find . ! -type d | sed -e 's|^\./|usr/|' \
    -e 's|hvlTargets-[a-z]*\.cmake|hvlTargets-CONFIG.cmake|' | sort)
packaged=$(for deb in "$out"/*.deb; do files "$deb"; done | sed 's| -> .*||' | sort)
if ! diff <(echo "$installed") <(echo "$packaged"); then
    fail "a plain install differs from the packages (<)"
fi

shlibs=$(dpkg-deb -I "$out/libhvl0_${version}_$arch.deb" shlibs 2>/dev/null) || shlibs=''
[ "$shlibs" = "libhvl 0 libhvl0 (>= $version)" ] || fail "libhvl0: shlibs file is '$shlibs'"

[ "$failed" -eq 0 ] && echo ok

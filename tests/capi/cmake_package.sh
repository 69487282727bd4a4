#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds the consumer project
# beside this script against it through find_package(hvl), then runs its
# programs: one on the shared library, one on the static library alone.
set -euo pipefail
build=$1 cc=$2 source=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S "$here/consumer" -B "$scratch/build" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCAPI_SOURCE="$source" >/dev/null
cmake --build "$scratch/build" >/dev/null
"$scratch/build/capi_shared"
if readelf -d "$scratch/build/capi_static" | grep -q 'libhvl\.so'; then
    echo "capi_static needs the shared library"
    exit 1
fi
"$scratch/build/capi_static"

# Sourced by the scripts. install_packages GROUP installs those packages of
# scripts/packages that are not installed yet: the ones marked GROUP, or with
# "all" every one. Messages and apt's output go to standard error.
install_packages() {
    local group=$1 name mark missing=()
    if ! command -v dpkg-query >/dev/null; then
        echo "not a Debian system: the packages of scripts/packages ($group) must be there already" >&2
        return 0
    fi
    while read -r name mark _; do
        [[ -z $name || $name == \#* ]] && continue
        [[ $group == all || $mark == "$group" ]] || continue
        dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "ok installed" || missing+=("$name")
    done <"$(dirname "${BASH_SOURCE[0]}")/packages"
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "missing packages: ${missing[*]}" >&2
            echo "installing them needs root or sudo, and there is neither: as root, run" >&2
            echo "  apt-get update && apt-get install ${missing[*]}" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "installing: ${missing[*]}" >&2
    if ! { "${sudo[@]}" apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >&2; then
        echo "could not install: ${missing[*]}" >&2
        return 1
    fi
}

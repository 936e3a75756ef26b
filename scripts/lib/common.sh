# Shared by the scripts: the project root, the tools they need, and running gtest binaries.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX="$root/build/wineprefix"

# ensure_packages PACKAGE... : installs what is missing when root, else says what to install.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
        exit 2
    fi
    echo "Installing ${missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null && apt-get install -y -q "${missing[@]}" >/dev/null ||
        { echo "Could not install ${missing[*]}" >&2; exit 2; }
}

native_packages=(cmake ninja-build g++ libgtest-dev libcurl4-openssl-dev zlib1g-dev)
windows_packages=(g++-mingw-w64-x86-64 wine64 libz-mingw-w64-dev)

# configure_and_build DIR CMAKE-ARGS... : one build tree below build/.
configure_and_build() {
    local dir="$root/build/$1"
    shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
        { mkdir -p "$dir"; cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" >"$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; return 1; }
}

windows_cmake_args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")

# script_check LOG NAME COMMAND... : one counted check of a scripts/test.d suite; the
# command's output goes to LOG. Returns the command's success.
script_check() {
    local log=$1 name=$2
    shift 2
    echo "-- $name" >>"$log"
    if "$@" >>"$log" 2>&1; then
        echo "  ok    $name"
        passed=$((passed + 1))
        return 0
    fi
    echo "  FAIL  $name (see $log)"
    failed=$((failed + 1))
    return 1
}

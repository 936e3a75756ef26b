# Packaging: installs the library (native, and the Windows DLL), then builds a small C and a
# small C++ application against each installed tree, through the CMake package and through
# pkg-config, and runs them (the Windows ones under Wine); the installed OpenTelemetry agent
# home binds.
# Sourced by scripts/test after its main runs: uses $root, $wine, configure_and_build and
# windows_cmake_args, and adds one to $passed or $failed per check.

packaging_log="$root/build/packaging.log"
: >"$packaging_log"

packaging_check() { script_check "$packaging_log" "$@"; }

# packaging_files_exist DIR FILE... : the installed tree holds every file.
packaging_files_exist() {
    local dir=$1 file
    shift
    for file in "$@"; do
        [ -f "$dir/$file" ] || { echo "missing: $dir/$file"; return 1; }
    done
}

packaging_install() {
    local name=$1
    shift
    configure_and_build "$name" -DCMAKE_BUILD_TYPE=Release -DQUORIN_BUILD_TESTS=OFF \
        "-DCMAKE_INSTALL_PREFIX=$root/build/$name/install" "$@" &&
        rm -rf "$root/build/$name/install" &&
        cmake --install "$root/build/$name"
}

packaging_native() {
    local install="$root/build/packaging/install" consumers="$root/build/packaging/consumers"
    local libdir
    packaging_check "native: build and install" packaging_install packaging || return
    libdir=$(cd "$install" && dirname "$(find . -name libquorin.so | head -1)")
    packaging_check "native: installed files" packaging_files_exist "$install" include/quorin.h \
        "$libdir/libquorin.so" "$libdir/cmake/quorin/quorin-config.cmake" \
        "$libdir/cmake/quorin/quorin-config-version.cmake" "$libdir/pkgconfig/quorin.pc"
    # The installed agent home selects the OpenTelemetry agent (its collector is away here).
    packaging_check "native: the installed OpenTelemetry agent binds" "$install/bin/quorin-doctor" \
        "--cv_home=$install/otel-agent-home" --cv_otel_endpoint=http://127.0.0.1:1
    if packaging_check "native: consumers built with find_package(quorin)" \
        eval "cmake -S '$root/tests/packaging' -B '$consumers' -G Ninja -DCMAKE_PREFIX_PATH='$install' && cmake --build '$consumers'"; then
        packaging_check "native: C consumer runs" "$consumers/consumer_c"
        packaging_check "native: C++ consumer runs" "$consumers/consumer_cpp"
    fi
    if packaging_check "native: C consumer built with pkg-config" \
        eval "cc -std=c11 '$root/tests/packaging/consumer.c' \$(PKG_CONFIG_PATH='$install/$libdir/pkgconfig' pkg-config --cflags --libs quorin) -o '$consumers/consumer_pc'"; then
        packaging_check "native: pkg-config consumer runs" \
            env "LD_LIBRARY_PATH=$install/$libdir" "$consumers/consumer_pc"
    fi
}

packaging_windows() {
    local install="$root/build/packaging-windows/install"
    local consumers="$root/build/packaging-windows/consumers"
    packaging_check "windows: build and install" \
        packaging_install packaging-windows "${windows_cmake_args[@]}" || return
    packaging_check "windows: installed files" packaging_files_exist "$install" include/quorin.h \
        bin/quorin.dll lib/libquorin.dll.a lib/cmake/quorin/quorin-config.cmake lib/pkgconfig/quorin.pc
    local home="Z:$install/otel-agent-home"
    packaging_check "windows: the installed OpenTelemetry agent binds under Wine" "$wine" \
        "$install/bin/quorin-doctor.exe" "--cv_home=${home//\//\\}" \
        --cv_otel_endpoint=http://127.0.0.1:1
    # quorin_DIR, because the toolchain confines package searches to the cross compiler's root.
    if packaging_check "windows: consumers built with find_package(quorin)" \
        eval "cmake -S '$root/tests/packaging' -B '$consumers' -G Ninja ${windows_cmake_args[*]} -Dquorin_DIR='$install/lib/cmake/quorin' -DCMAKE_EXE_LINKER_FLAGS=-static && cmake --build '$consumers' && cp '$install/bin/quorin.dll' '$consumers/'"; then
        packaging_check "windows: C consumer runs under Wine" "$wine" "$consumers/consumer_c.exe"
        packaging_check "windows: C++ consumer runs under Wine" "$wine" "$consumers/consumer_cpp.exe"
    fi
    if packaging_check "windows: C consumer built with pkg-config" \
        eval "x86_64-w64-mingw32-gcc-posix -std=c11 -static-libgcc '$root/tests/packaging/consumer.c' \$(PKG_CONFIG_LIBDIR='$install/lib/pkgconfig' pkg-config --cflags --libs quorin) -o '$consumers/consumer_pc.exe'"; then
        packaging_check "windows: pkg-config consumer runs under Wine" "$wine" "$consumers/consumer_pc.exe"
    fi
}

echo "== packaging"
# The installed trees are built here too: the agent links zlib.
ensure_packages pkg-config zlib1g-dev libz-mingw-w64-dev
packaging_native
packaging_windows

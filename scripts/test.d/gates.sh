# Sourced by scripts/test. Instruction-level gates on the forwarders of the native x86-64
# Linux build: their machine code in libquorin.so (objdump) and the cost of a call in a loop
# (callgrind); and on the OpenTelemetry agent's request (callgrind). The figures are
# instruction counts, so a busy machine does not change them.
if [ "$(uname -s)/$(uname -m)" = Linux/x86_64 ]; then
    echo "== gates (x86-64 forwarders, OpenTelemetry request)"
    ensure_packages libbenchmark-dev valgrind binutils
    if configure_and_build bench -DCMAKE_BUILD_TYPE=Release -DQUORIN_BENCH=ON \
        -DQUORIN_BUILD_TESTS=OFF; then
        run_binary forwarder_gates "$root/build/bench.forwarder_gates.log" \
            "$root/build/bench/bin/forwarder_gates" --gtest_shuffle
        run_binary otel_gates "$root/build/bench.otel_gates.log" "$root/build/bench/bin/otel_gates"
    else
        echo "  build failed"
        failed=$((failed + 1))
    fi
fi

# Sourced by scripts/test after its main runs: the OpenTelemetry agent's exporter tests
# (otel_tests) and the agent's tests through the real library (otel_agent_tests) of every
# build tree the main runs made, natively and under Wine, against the OTLP receiver, which
# decodes every request with the official OpenTelemetry decoder, the agent's memory at full
# load with no collector (otel_queue_memory), and quorin-doctor --otel's verdicts. A skipped
# test (no receiver) or an undecodable request counts as a failure.
source "$root/scripts/lib/otel_receiver.sh"
echo "== otel (exporter and agent against the OTLP receiver)"
otel_log_dir="$root/build/otel-logs"
mkdir -p "$otel_log_dir"

# otel_run NAME LOG COMMAND... : one otel_tests run, counted; skips are failures.
otel_run() {
    local name=$1 log=$2
    shift 2
    run_binary "$name" "$log" "$@"
    if grep -aq '^\[  SKIPPED \]' "$log"; then
        echo "  skipped tests in $log"
        failed=$((failed + 1))
    fi
}

# otel_memory NAME LOG COMMAND... : one run of the memory program, counted; shows its figures.
otel_memory() {
    local name=$1 log=$2
    shift 2
    if "$@" >"$log" 2>&1; then
        passed=$((passed + 1))
        echo "  ok    $name: $(head -1 "$log")"
    else
        failed=$((failed + 1))
        echo "  FAIL  $name: $(head -1 "$log") (see $log)"
    fi
}

# otel_doctor NAME STATUS LINE COMMAND... : one quorin-doctor --otel run, counted: it exits with
# STATUS, prints LINE, and never the header value S3CRET the runs pass.
otel_doctor() {
    local name=$1 expected=$2 line=$3 log="$otel_log_dir/doctor.${1//[^A-Za-z0-9]/_}.log"
    shift 3
    "$@" >"$log" 2>&1
    local status=$?
    if [ "$status" -eq "$expected" ] && grep -aqF -- "$line" "$log" && ! grep -aq S3CRET "$log"; then
        passed=$((passed + 1))
        echo "  ok    doctor --otel: $name"
    else
        failed=$((failed + 1))
        echo "  FAIL  doctor --otel: $name (exit $status, wanted $expected and '$line'; see $log)"
    fi
}

# otel_doctor_runs LABEL DOCTOR... : the doctor's verdicts against the receiver: both arrive;
# a 401 points at the headers; nothing listening; a name that does not resolve; https to the
# plain port; a CA it does not trust, a CA file that does not fit, then the right one.
otel_doctor_runs() {
    local label=$1
    shift
    local plain=$QUORIN_OTEL_RECEIVER tls=$QUORIN_OTEL_RECEIVER_TLS
    local headers=--cv_otel_headers=api-key=S3CRET
    otel_doctor "arrives ($label)" 0 "Both arrived" "$@" --otel "--cv_otel_endpoint=$plain" "$headers"
    # A signal's timeout of 0 is no limit, for the doctor's test as for the agent's exports.
    otel_receiver_control script "delay=300 200 always" >/dev/null
    otel_doctor "no limit ($label)" 0 "Both arrived" "$@" --otel "--cv_otel_endpoint=$plain" \
        --cv_otel_timeout=100 --cv_otel_traces_timeout=0 --cv_otel_metrics_timeout=0
    otel_receiver_control reset >/dev/null
    otel_receiver_control script "always 401" >/dev/null
    otel_doctor "401 ($label)" 1 "check the header it expects" "$@" --otel \
        "--cv_otel_endpoint=$plain" "$headers"
    otel_receiver_control reset >/dev/null
    otel_receiver_control down >/dev/null
    otel_doctor "nothing listening ($label)" 1 "nothing listens on port" "$@" --otel \
        "--cv_otel_endpoint=$plain"
    otel_receiver_control up >/dev/null
    otel_doctor "unknown name ($label)" 1 "host name does not resolve" "$@" --otel \
        --cv_otel_endpoint=http://collector.invalid:4318
    otel_doctor "https to the plain port ($label)" 1 "answers without TLS" "$@" --otel \
        "--cv_otel_endpoint=${plain/http:/https:}"
    otel_doctor "untrusted CA ($label)" 1 "not trusted by the system's CAs" "$@" --otel \
        "--cv_otel_endpoint=$tls"
    otel_doctor "wrong CA file ($label)" 1 "not trusted by the CA file" "$@" --otel \
        "--cv_otel_endpoint=$tls" "--cv_otel_certificate=$QUORIN_OTEL_RECEIVER_TLS_DIR/client-ca.crt"
    otel_doctor "CA file ($label)" 0 "trusted by the CA file" "$@" --otel \
        "--cv_otel_endpoint=$tls" "--cv_otel_certificate=$QUORIN_OTEL_RECEIVER_TLS_DIR/ca.crt"
}

if ! otel_receiver_install >"$otel_log_dir/install.log" 2>&1; then
    echo "  the receiver's npm packages could not be installed (see $otel_log_dir/install.log)"
    failed=$((failed + 1))
elif ! otel_receiver_start "$otel_log_dir/receiver.log"; then
    echo "  the receiver did not start"
    failed=$((failed + 1))
else
    for config in release asan tsan; do
        # A fork child that starts a thread gets the stack, and so the thread id, of a parent
        # thread it does not have, which TSan reports as a duplicate thread: the fork tests
        # run in the other builds only.
        filter='*'
        [ "$config" = tsan ] && filter='-*Fork*'
        for program in otel_tests otel_agent_tests; do
            binary="$root/build/$config/bin/$program"
            [ -x "$binary" ] || { echo "  no $binary"; failed=$((failed + 1)); continue; }
            ASAN_OPTIONS=detect_leaks=1 otel_run "$program ($config)" \
                "$otel_log_dir/$config.$program.log" "$binary" --gtest_shuffle \
                "--gtest_filter=$filter"
        done
    done
    # The agent's resident memory at full load with the collector unreachable, one process per
    # bound so that nothing else moves the peak; the figure is shown next to the bound.
    for mode in spans bytes; do
        otel_memory "otel_queue_memory $mode (release)" "$otel_log_dir/release.memory.$mode.log" \
            "$root/build/release/bin/otel_queue_memory" "$mode" 3000000
        otel_memory "otel_queue_memory.exe $mode (Wine)" "$otel_log_dir/windows.memory.$mode.log" \
            "$wine" "$root/build/windows/bin/otel_queue_memory.exe" "$mode" 3000000
    done
    for program in otel_tests otel_agent_tests; do
        binary="$root/build/windows/bin/$program.exe"
        if [ -f "$binary" ]; then
            otel_run "$program.exe (Wine)" "$otel_log_dir/windows.$program.log" "$wine" "$binary" \
                --gtest_shuffle
        else
            echo "  no $binary"
            failed=$((failed + 1))
        fi
    done
    otel_doctor_runs native "$root/build/release/bin/quorin-doctor"
    otel_doctor_runs Wine "$wine" "$root/build/windows/bin/quorin-doctor.exe"
    if otel_receiver_stop; then
        passed=$((passed + 1))
        echo "  ok    every request decoded"
    else
        failed=$((failed + 1))
        echo "  FAIL  the receiver could not decode a request (see $otel_log_dir/receiver.log)"
    fi
fi

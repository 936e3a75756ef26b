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
    otel_forged_chain_runs "$label" "$@"
}

# otel_forged_chain_runs LABEL DOCTOR... : chains forged to pass for the CA file's (a root, an
# intermediate: the same name and serial number, another key) are not trusted, and no export
# request reaches the server that serves them.
otel_forged_chain_runs() {
    local label=$1 forged ca
    shift
    for forged in forged-root:ca forged-intermediate:intermediate; do
        ca=${forged#*:}
        forged=${forged%:*}
        otel_receiver_control reset >/dev/null
        otel_receiver_control tls-certificate "$forged" >/dev/null
        otel_doctor "$forged ($label)" 1 "not trusted by the CA file" "$@" --otel \
            "--cv_otel_endpoint=$QUORIN_OTEL_RECEIVER_TLS" --cv_otel_headers=api-key=S3CRET \
            "--cv_otel_certificate=$QUORIN_OTEL_RECEIVER_TLS_DIR/$ca.crt"
        if [ -n "$(otel_receiver_control requests)" ]; then
            failed=$((failed + 1))
            echo "  FAIL  doctor --otel: $forged ($label): an export request reached the server"
        fi
    done
    otel_receiver_control reset >/dev/null
}

# otel_killed_key_run : a Windows process killed while it holds a client key leaves no key
# container of the agent in the Wine prefix.
otel_killed_key_run() {
    local dir=$QUORIN_OTEL_RECEIVER_TLS_DIR pid tries=0
    otel_receiver_control script "always hang" >/dev/null
    "$wine" "$root/build/windows/bin/quorin-doctor.exe" --otel \
        "--cv_otel_endpoint=$QUORIN_OTEL_RECEIVER_MTLS" "--cv_otel_certificate=$dir/ca.crt" \
        "--cv_otel_client_certificate=$dir/client.crt" "--cv_otel_client_key=$dir/client.key" \
        >"$otel_log_dir/killed-key.log" 2>&1 &
    pid=$!
    # Until its request has arrived: the key is in use then.
    while [ -z "$(otel_receiver_control requests)" ] && [ "$tries" -lt 300 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    otel_receiver_control reset >/dev/null
    if [ "$tries" -lt 300 ] &&
        ! "$wine" reg query 'HKCU\Software\Wine\Crypto\RSA' /s 2>/dev/null | grep -qi quorin; then
        passed=$((passed + 1))
        echo "  ok    a killed process leaves no key container (Wine)"
    else
        failed=$((failed + 1))
        echo "  FAIL  a killed process leaves a key container, or its request never came (Wine)"
    fi
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
    otel_killed_key_run
    if otel_receiver_stop; then
        passed=$((passed + 1))
        echo "  ok    every request decoded"
    else
        failed=$((failed + 1))
        echo "  FAIL  the receiver could not decode a request (see $otel_log_dir/receiver.log)"
    fi
fi

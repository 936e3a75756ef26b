# Sourced by scripts/test after its main runs: the OpenTelemetry agent's file of OTLP JSON lines
# against the real format. The demo runs with the agent sending to the OTLP receiver and writing
# the file, natively and under Wine; each line must parse with protobuf's own JSON parser
# (Debian's python3-protobuf) against the official .proto files, unknown fields refused, and
# equal the request the receiver decoded. Then quorin-trace-view turns the demo's files into pages
# that headless Chromium (Debian's) loads: every span drawn under its parent with its name, a
# screenshot; hostile names and values stay text and the page's markup its own; thirty thousand
# spans are read and drawn lazily.
source "$root/scripts/lib/otel_receiver.sh"
source "$root/scripts/lib/otel_proto.sh"
echo "== otel file (strict OTLP JSON, quorin-trace-view in Chromium)"
otel_file_dir="$root/build/otel-file"
otel_file_log="$otel_file_dir/checks.log"
rm -rf "$otel_file_dir" && mkdir -p "$otel_file_dir"

# otel_file_demo NAME FILE PATH DEMO... : the demo sends to the receiver and writes FILE (PATH as
# the demo names it); every line is strict and equals the request that arrived.
otel_file_demo() {
    local name=$1 file=$2 path=$3
    shift 3
    otel_receiver_control reset >/dev/null &&
        "$@" "--cv_otel_endpoint=$QUORIN_OTEL_RECEIVER" "--cv_otel_file=$path" &&
        otel_receiver_control bodies >"$otel_file_dir/$name.bodies" &&
        /usr/bin/python3 "$root/tests/otel/file/check_otlp_json.py" "$otel_proto_python" "$file" \
            "$otel_file_dir/$name.bodies"
}

if script_check "$otel_file_log" "official .proto files compiled" otel_proto_install &&
    script_check "$otel_file_log" "receiver installed" otel_receiver_install &&
    script_check "$otel_file_log" "receiver started" otel_receiver_start \
        "$otel_file_dir/receiver.log"; then
    script_check "$otel_file_log" "demo's file strict and equal to the wire (native)" \
        otel_file_demo native "$otel_file_dir/native.jsonl" "$otel_file_dir/native.jsonl" \
        "$root/build/release/bin/quorin_demo" "--cv_home=$root/build/release/otel-agent-home"
    windows_dir="Z:$otel_file_dir"
    windows_home="Z:$root/build/windows/otel-agent-home"
    script_check "$otel_file_log" "demo's file strict and equal to the wire (Wine)" \
        otel_file_demo wine "$otel_file_dir/wine.jsonl" "${windows_dir//\//\\}\\wine.jsonl" \
        "$wine" "$root/build/windows/bin/quorin_demo.exe" "--cv_home=${windows_home//\//\\}"
    script_check "$otel_file_log" "every request decoded" otel_receiver_stop
fi

# trace_view_dom PAGE DOM [ADDRESS-SUFFIX] : the page as headless Chromium drew it, with a fresh
# profile, nothing fetched, no sandbox (the tests run as root).
trace_view_browser() {
    local profile
    profile=$(mktemp -d) || return 1
    timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        "--user-data-dir=$profile" --window-size=1280,720 "$@" 2>>"$otel_file_dir/chromium.log"
    local status=$?
    rm -rf "$profile"
    return $status
}
trace_view_dom() {
    trace_view_browser --dump-dom "file://$1${3:-}" >"$2" && [ -s "$2" ]
}
trace_view_check() {
    /usr/bin/python3 "$root/tests/otel/file/check_trace_page.py" "$@"
}
# trace_view_tree NAME FILE VIEW... : the page VIEW makes of FILE draws every span under its parent.
trace_view_tree() {
    local name=$1 file=$2
    shift 2
    "$@" "$file" -o "$otel_file_dir/$name.html" &&
        trace_view_dom "$otel_file_dir/$name.html" "$otel_file_dir/$name.dom" &&
        trace_view_check tree "$file" "$otel_file_dir/$name.dom"
}
trace_view_screenshot() {
    trace_view_browser "--screenshot=$otel_file_dir/trace-view.png" \
        "file://$otel_file_dir/native.html#span=$(trace_view_error_span)" &&
        [ "$(head -c 8 "$otel_file_dir/trace-view.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
}
# The demo's failed payment, whose details the screenshot shows.
trace_view_error_span() {
    grep -o '"spanId":"[0-9a-f]*","parentSpanId":"[0-9a-f]*","name":"PaymentService.charge"' \
        "$otel_file_dir/native.jsonl" | head -1 | cut -d'"' -f4
}
trace_view_hostile() {
    local page="$otel_file_dir/hostile.html"
    trace_view_check write-hostile "$otel_file_dir/hostile.jsonl" &&
        "$root/build/release/bin/quorin-trace-view" "$otel_file_dir/hostile.jsonl" -o "$page" &&
        trace_view_dom "$page" "$otel_file_dir/hostile.dom" "#span=0000000000000001" &&
        trace_view_check hostile "$page" "$otel_file_dir/hostile.dom"
}
trace_view_large() {
    trace_view_check write-large "$otel_file_dir/large.jsonl" 30000 &&
        "$root/build/release/bin/quorin-trace-view" "$otel_file_dir/large.jsonl" \
            -o "$otel_file_dir/large.html" &&
        trace_view_dom "$otel_file_dir/large.html" "$otel_file_dir/large.dom" &&
        trace_view_check large "$otel_file_dir/large.dom" 30000
}

if script_check "$otel_file_log" "Chromium installed" ensure_packages chromium chromium-driver; then
    script_check "$otel_file_log" "trace view: the demo's spans under their parents (native)" \
        trace_view_tree native "$otel_file_dir/native.jsonl" "$root/build/release/bin/quorin-trace-view" &&
        script_check "$otel_file_log" "trace view: screenshot" trace_view_screenshot
    script_check "$otel_file_log" "trace view: the demo's spans under their parents (Wine)" \
        trace_view_tree wine "$otel_file_dir/wine.jsonl" "$wine" \
        "$root/build/windows/bin/quorin-trace-view.exe"
    script_check "$otel_file_log" "trace view: hostile texts stay text" trace_view_hostile
    script_check "$otel_file_log" "trace view: thirty thousand spans drawn lazily" trace_view_large
fi

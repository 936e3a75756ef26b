# Sourced by scripts/test after its main runs: the OpenTelemetry agent's file of OTLP JSON lines
# against the real format. The demo runs with the agent sending to the OTLP receiver and writing
# the file, natively and under Wine; each line must parse with protobuf's own JSON parser
# (Debian's python3-protobuf) against the official .proto files, unknown fields refused, and
# equal the request the receiver decoded.
source "$root/scripts/lib/otel_receiver.sh"
source "$root/scripts/lib/otel_proto.sh"
echo "== otel file (strict OTLP JSON)"
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

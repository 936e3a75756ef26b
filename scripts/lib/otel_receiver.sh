# The OTLP receiver of the OpenTelemetry agent's tests (tests/otel/receiver), installed into
# build/otel-receiver with its locked npm packages and run on 127.0.0.1 on a free port.
# Sourced after common.sh.

otel_receiver_dir="$root/build/otel-receiver"
otel_receiver_pid=

# otel_receiver_install : node_modules from the lock file, again only when the lock changed.
otel_receiver_install() {
    ensure_packages nodejs
    command -v npm >/dev/null || ensure_packages npm
    local source="$root/tests/otel/receiver"
    mkdir -p "$otel_receiver_dir"
    cp "$source/package.json" "$source/package-lock.json" "$source/receiver.js" "$source/tree.js" \
        "$otel_receiver_dir/"
    if ! cmp -s "$source/package-lock.json" "$otel_receiver_dir/node_modules/.installed-lock"; then
        (cd "$otel_receiver_dir" && npm ci --no-audit --no-fund --loglevel=error) || return 1
        cp "$source/package-lock.json" "$otel_receiver_dir/node_modules/.installed-lock"
    fi
}

# otel_receiver_start LOG : starts it and exports QUORIN_OTEL_RECEIVER=http://127.0.0.1:PORT and
# QUORIN_OTEL_RECEIVER_CONTROL, the address of its control port (up while the OTLP port is down).
otel_receiver_start() {
    local log=$1 port_file="$otel_receiver_dir/port" control_file="$otel_receiver_dir/control-port"
    local tries=0
    rm -f "$port_file" "$control_file"
    node "$otel_receiver_dir/receiver.js" --port-file "$port_file" \
        --control-port-file "$control_file" >"$log" 2>&1 &
    otel_receiver_pid=$!
    # The port file is written last.
    while [ ! -s "$port_file" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$otel_receiver_pid" 2>/dev/null; then
            cat "$log" >&2
            return 1
        fi
        sleep 0.1
    done
    export QUORIN_OTEL_RECEIVER="http://127.0.0.1:$(cat "$port_file")"
    export QUORIN_OTEL_RECEIVER_CONTROL="http://127.0.0.1:$(cat "$control_file")"
}

# otel_receiver_control WHAT : prints the answer of the receiver's /control/WHAT (tree, ...).
otel_receiver_control() {
    node -e 'fetch(process.argv[1], { method: "POST" }).then((r) => r.text())
        .then((t) => process.stdout.write(t), (e) => { console.error(String(e)); process.exit(1); })' \
        "$QUORIN_OTEL_RECEIVER_CONTROL/control/$1"
}

# otel_receiver_stop : stops it; fails when it received a request it could not decode.
otel_receiver_stop() {
    [ -n "$otel_receiver_pid" ] || return 0
    kill -TERM "$otel_receiver_pid" 2>/dev/null
    wait "$otel_receiver_pid"
    local status=$?
    otel_receiver_pid=
    unset QUORIN_OTEL_RECEIVER QUORIN_OTEL_RECEIVER_CONTROL
    [ "$status" -eq 0 ]
}

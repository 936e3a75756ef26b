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

# otel_receiver_certificates DIR : a CA with server certificates signed by it: server for
# 127.0.0.1 and localhost, other for another host, expired for localhost but expired in 2020;
# and a second CA with a client certificate (its key both as PKCS#8, client.key, and as PKCS#1,
# client-rsa.key), and an EC key, client-ec.key, that is not its; made afresh, valid for two
# days.
otel_receiver_certificates() {
    local dir=$1 days=2
    command -v openssl >/dev/null || ensure_packages openssl
    rm -rf "$dir" && mkdir -p "$dir" || return 1
    (
        cd "$dir" || exit 1
        for ca in ca client-ca; do
            openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca.key" -out "$ca.crt" \
                -days "$days" -subj "/CN=quorin test $ca" \
                -addext "basicConstraints=critical,CA:TRUE" \
                -addext "keyUsage=critical,keyCertSign,cRLSign" || exit 1
        done
        # sign NAME CA EXTENSIONS [DATES] : NAME.key and NAME.crt issued by CA; DATES, as
        # "-startdate X -enddate Y", through openssl ca, which alone takes dates in the past.
        sign() {
            openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" \
                -subj "/CN=quorin test $1" && printf '%s\n' "$3" >"$1.ext" || return 1
            if [ -z "${4:-}" ]; then
                openssl x509 -req -in "$1.csr" -CA "$2.crt" -CAkey "$2.key" -CAcreateserial \
                    -days "$days" -out "$1.crt" -extfile "$1.ext"
                return
            fi
            cat >ca.cnf <<'END'
[ca]
default_ca = dated
[dated]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
[any]
commonName = supplied
END
            : >index.txt && echo 01 >serial &&
                openssl ca -batch -config ca.cnf -cert "$2.crt" -keyfile "$2.key" -in "$1.csr" \
                    -out "$1.crt" -extfile "$1.ext" -notext $4
        }
        local server_ext="extendedKeyUsage=serverAuth"
        sign server ca "subjectAltName=IP:127.0.0.1,DNS:localhost
$server_ext" || exit 1
        sign other ca "subjectAltName=DNS:elsewhere.invalid
$server_ext" || exit 1
        sign expired ca "subjectAltName=IP:127.0.0.1,DNS:localhost
$server_ext" "-startdate 20200101000000Z -enddate 20200102000000Z" || exit 1
        sign client client-ca "extendedKeyUsage=clientAuth" || exit 1
        openssl rsa -in client.key -out client-rsa.key -traditional || exit 1
        openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out client-ec.key || exit 1
        otel_receiver_linux_tls_files || exit 1
    ) >"$dir.log" 2>&1 || { cat "$dir.log" >&2; return 1; }
}

# otel_receiver_linux_tls_files : in the certificates' folder, a third CA, system-ca, that the
# tests plant among the system's CAs (otel_receiver_planted_system_ca), with system, a server
# certificate for localhost it issued; and the client key encrypted, as PKCS#8
# (client-encrypted.key) and in the traditional form (client-legacy-encrypted.key).
otel_receiver_linux_tls_files() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout system-ca.key -out system-ca.crt \
        -days "$days" -subj "/CN=quorin test system-ca" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" || return 1
    sign system system-ca "subjectAltName=IP:127.0.0.1,DNS:localhost
$server_ext" || return 1
    openssl pkcs8 -topk8 -in client.key -out client-encrypted.key -passout pass:quorin-test ||
        return 1
    openssl rsa -in client.key -out client-legacy-encrypted.key -traditional -aes128 \
        -passout pass:quorin-test
}

# otel_receiver_planted_system_ca DIR : DIR made a folder of system CAs as libcurl and OpenSSL
# read them (a bundle and hashed names) that holds system-ca alone; a test mounts it over
# /etc/ssl/certs in a mount namespace of its own.
otel_receiver_planted_system_ca() {
    local dir=$1 ca="$QUORIN_OTEL_RECEIVER_TLS_DIR/system-ca.crt"
    rm -rf "$dir" && mkdir -p "$dir" || return 1
    cp "$ca" "$dir/ca-certificates.crt" &&
        cp "$ca" "$dir/$(openssl x509 -noout -subject_hash -in "$ca").0"
}

# otel_receiver_forged_certificates DIR : chains for the trust checks, beside the certificates
# of otel_receiver_certificates in DIR: chained, a server certificate for localhost issued by
# intermediate, a CA issued by ca; forged-root, one issued by a root with the subject and serial
# number of ca but a key of its own; forged-intermediate, one issued by a CA with the subject
# and serial number of intermediate but a key of its own. Each NAME.crt holds the chain the
# server sends (without ca itself); NAME.key the server certificate's key.
otel_receiver_forged_certificates() {
    local dir=$1 days=2
    (
        cd "$dir" || exit 1
        # issue NAME SUBJECT CA SERIAL EXTENSIONS : NAME.key and NAME.crt, issued by CA.key in
        # the name of CA.crt, with that serial number (random when empty).
        issue() {
            local serial=(-CAcreateserial)
            [ -z "$4" ] || serial=(-set_serial "0x$4")
            openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" &&
                printf '%s\n' "$5" >"$1.ext" &&
                openssl x509 -req -in "$1.csr" -CA "$3.crt" -CAkey "$3.key" "${serial[@]}" \
                    -days "$days" -out "$1.crt" -extfile "$1.ext"
        }
        serial_of() { openssl x509 -in "$1" -noout -serial | cut -d= -f2; }
        # Key identifiers, so that a chain's builder finds each issuer by its key.
        local ca_ext="basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid" server_ext="subjectAltName=IP:127.0.0.1,DNS:localhost
extendedKeyUsage=serverAuth
authorityKeyIdentifier=keyid"
        issue intermediate "/CN=quorin test intermediate" ca "" "$ca_ext" || exit 1
        issue chained-leaf "/CN=quorin test chained" intermediate "" "$server_ext" || exit 1
        # The forged root: ca's subject and serial number, another key.
        openssl req -x509 -newkey rsa:2048 -nodes -keyout forged-ca.key -out forged-ca.crt \
            -days "$days" -subj "/CN=quorin test ca" -set_serial "0x$(serial_of ca.crt)" \
            -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" || exit 1
        issue forged-root-leaf "/CN=quorin test forged root" forged-ca "" "$server_ext" || exit 1
        # The forged intermediate: intermediate's subject, serial number and issuer name, signed
        # by the forged root's key.
        issue forged-int "/CN=quorin test intermediate" forged-ca "$(serial_of intermediate.crt)" \
            "$ca_ext" || exit 1
        issue forged-int-leaf "/CN=quorin test forged intermediate" forged-int "" \
            "$server_ext" || exit 1
        cat chained-leaf.crt intermediate.crt >chained.crt && cp chained-leaf.key chained.key &&
            cat forged-root-leaf.crt forged-ca.crt >forged-root.crt &&
            cp forged-root-leaf.key forged-root.key &&
            cat forged-int-leaf.crt forged-int.crt >forged-intermediate.crt &&
            cp forged-int-leaf.key forged-intermediate.key
    ) >"$dir.forged.log" 2>&1 || { cat "$dir.forged.log" >&2; return 1; }
}

# otel_receiver_start LOG : starts it and exports QUORIN_OTEL_RECEIVER=http://127.0.0.1:PORT,
# QUORIN_OTEL_RECEIVER_CONTROL, the address of its control port (up while the OTLP port is down),
# QUORIN_OTEL_RECEIVER_TLS and QUORIN_OTEL_RECEIVER_MTLS, its HTTPS ports without and with
# client certificates (https://localhost:PORT), and QUORIN_OTEL_RECEIVER_TLS_DIR, the folder of
# the certificates (otel_receiver_certificates), and QUORIN_OTEL_SINK and QUORIN_OTEL_SINK_TLS,
# its sink that only counts what it receives, over HTTP and HTTPS (for the benchmarks).
otel_receiver_start() {
    local log=$1 port_file="$otel_receiver_dir/port" control_file="$otel_receiver_dir/control-port"
    local tls_dir="$otel_receiver_dir/tls" tls_file="$otel_receiver_dir/tls-port"
    local sink_file="$otel_receiver_dir/sink-port"
    local tries=0
    rm -f "$port_file" "$control_file" "$tls_file" "$sink_file"
    otel_receiver_certificates "$tls_dir" || return 1
    otel_receiver_forged_certificates "$tls_dir" || return 1
    node "$otel_receiver_dir/receiver.js" --port-file "$port_file" \
        --control-port-file "$control_file" --tls-dir "$tls_dir" --tls-port-file "$tls_file" \
        --sink-port-file "$sink_file" >"$log" 2>&1 &
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
    local tls_ports
    read -r -a tls_ports <"$tls_file"
    # By name: Wine's certificate checks match DNS names only, not IP addresses.
    export QUORIN_OTEL_RECEIVER_TLS="https://localhost:${tls_ports[0]}"
    export QUORIN_OTEL_RECEIVER_MTLS="https://localhost:${tls_ports[1]}"
    export QUORIN_OTEL_RECEIVER_TLS_DIR="$tls_dir"
    local sink_ports
    read -r -a sink_ports <"$sink_file"
    export QUORIN_OTEL_SINK="http://127.0.0.1:${sink_ports[0]}"
    export QUORIN_OTEL_SINK_TLS="https://localhost:${sink_ports[1]}"
}

# otel_receiver_control WHAT [BODY] : prints the answer of the receiver's /control/WHAT (tree,
# script with its lines as BODY, ...).
otel_receiver_control() {
    node -e 'fetch(process.argv[1], { method: "POST", body: process.argv[2] }).then((r) => r.text())
        .then((t) => process.stdout.write(t), (e) => { console.error(String(e)); process.exit(1); })' \
        "$QUORIN_OTEL_RECEIVER_CONTROL/control/$1" "${2:-}"
}

# otel_receiver_stop : stops it; fails when it received a request it could not decode.
otel_receiver_stop() {
    [ -n "$otel_receiver_pid" ] || return 0
    kill -TERM "$otel_receiver_pid" 2>/dev/null
    wait "$otel_receiver_pid"
    local status=$?
    otel_receiver_pid=
    unset QUORIN_OTEL_RECEIVER QUORIN_OTEL_RECEIVER_CONTROL QUORIN_OTEL_RECEIVER_TLS \
        QUORIN_OTEL_RECEIVER_MTLS QUORIN_OTEL_RECEIVER_TLS_DIR QUORIN_OTEL_SINK QUORIN_OTEL_SINK_TLS
    [ "$status" -eq 0 ]
}

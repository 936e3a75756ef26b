# The official OpenTelemetry .proto files, from Debian's opentelemetry-proto package, compiled
# for Python with Debian's protoc into build/otel-proto/python, for the strict check of the OTLP
# JSON file with Debian's python3-protobuf. Where this Debian release has no such package, the
# package of its backports suite is downloaded (not installed) through the system's own Debian
# archive, with apt lists of its own under build/otel-proto. Sourced after common.sh.

otel_proto_dir="$root/build/otel-proto"
otel_proto_python="$otel_proto_dir/python"

# otel_proto_install : compiles the .proto files once; prints what went wrong otherwise.
otel_proto_install() {
    ensure_packages python3-protobuf protobuf-compiler
    [ -f "$otel_proto_python/.compiled" ] && return 0
    local include=/usr/include
    if [ ! -f "$include/opentelemetry/proto/trace/v1/trace.proto" ]; then
        if apt-cache policy opentelemetry-proto 2>/dev/null | grep -q 'Candidate: [0-9]'; then
            ensure_packages opentelemetry-proto
        else
            otel_proto_from_backports || return 1
            include="$otel_proto_dir/root/usr/include"
        fi
    fi
    rm -rf "$otel_proto_python" && mkdir -p "$otel_proto_python" || return 1
    local protos=()
    for proto in common/v1/common resource/v1/resource trace/v1/trace metrics/v1/metrics \
        collector/trace/v1/trace_service collector/metrics/v1/metrics_service; do
        protos+=("$include/opentelemetry/proto/$proto.proto")
    done
    protoc "-I$include" "--python_out=$otel_proto_python" "${protos[@]}" || return 1
    touch "$otel_proto_python/.compiled"
}

otel_proto_from_backports() {
    local apt="$otel_proto_dir/apt" codename archive
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    # The first Debian archive the system uses, without naming a host here.
    archive=$(apt-get indextargets --format '$(REPO_URI)' 2>/dev/null | grep -v security | head -1)
    [ -n "$codename" ] && [ -n "$archive" ] || { echo "no Debian archive configured"; return 1; }
    rm -rf "$apt" "$otel_proto_dir/root" && mkdir -p "$apt/lists/partial" "$apt/deb" || return 1
    echo "deb $archive $codename-backports main" >"$apt/sources.list"
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
        -o APT::Sandbox::User=root)
    apt-get "${options[@]}" -qq update || return 1
    (cd "$apt/deb" && apt-get "${options[@]}" -qq download opentelemetry-proto) || return 1
    dpkg-deb -x "$apt"/deb/opentelemetry-proto_*.deb "$otel_proto_dir/root"
}

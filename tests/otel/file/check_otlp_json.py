#!/usr/bin/env python3
"""Checks a file of OTLP JSON lines against the official .proto files, strictly.

    check_otlp_json.py PROTO_PYTHON FILE [BODIES]

PROTO_PYTHON holds the modules protoc made of the official .proto files. Each line of FILE must
be a whole line of strict JSON (no NaN literals, valid UTF-8) that protobuf's JSON parser reads
as an export request with unknown fields refused, with ids as lower-case hex of their size,
64-bit integers as strings and enums as numbers. With BODIES, the receiver's bodies ("<signal>
<base64>" a line, in the order received), the lines of each signal must equal, in order, the
messages the receiver decoded."""
import base64
import json
import re
import sys

sys.path.insert(0, sys.argv[1])
from google.protobuf import json_format  # noqa: E402
from opentelemetry.proto.collector.metrics.v1 import metrics_service_pb2  # noqa: E402
from opentelemetry.proto.collector.trace.v1 import trace_service_pb2  # noqa: E402

REQUESTS = {
    "resourceSpans": ("traces", trace_service_pb2.ExportTraceServiceRequest),
    "resourceMetrics": ("metrics", metrics_service_pb2.ExportMetricsServiceRequest),
}
ID_BYTES = {"traceId": 16, "spanId": 8, "parentSpanId": 8}
QUOTED = {"startTimeUnixNano", "endTimeUnixNano", "timeUnixNano", "intValue", "asInt", "count"}
ENUMS = {"kind", "code", "aggregationTemporality"}


def refuse_constant(name):
    raise ValueError(f"{name} is not JSON")


def protobuf_form(value, where):
    """The value with its hex ids as the base64 that protobuf's JSON mapping has for bytes,
    after checking the OTLP JSON forms."""
    if isinstance(value, list):
        return [protobuf_form(item, f"{where}[{i}]") for i, item in enumerate(value)]
    if not isinstance(value, dict):
        return value
    out = {}
    for key, item in value.items():
        at = f"{where}.{key}"
        if key in ID_BYTES:
            if not isinstance(item, str) or not re.fullmatch(f"[0-9a-f]{{{2 * ID_BYTES[key]}}}", item):
                raise ValueError(f"{at} is not {ID_BYTES[key]} bytes of lower-case hex: {item!r}")
            item = base64.b64encode(bytes.fromhex(item)).decode()
        elif key in QUOTED or key == "bucketCounts":
            for number in item if key == "bucketCounts" else [item]:
                if not isinstance(number, str) or not re.fullmatch(r"-?[0-9]+", number):
                    raise ValueError(f"{at} is not a 64-bit integer as a string: {number!r}")
        elif key in ENUMS and (isinstance(item, bool) or not isinstance(item, int)):
            raise ValueError(f"{at} is not an enum as a number: {item!r}")
        out[key] = protobuf_form(item, at)
    return out


def parse_line(line, number):
    if not line.endswith(b"\n"):
        raise ValueError(f"line {number} is not whole")
    value = json.loads(line.decode("utf-8"), parse_constant=refuse_constant)
    if not isinstance(value, dict) or len(value) != 1 or next(iter(value)) not in REQUESTS:
        raise ValueError(f"line {number} is no export request: {list(value)[:3]}")
    signal, request_type = REQUESTS[next(iter(value))]
    message = request_type()
    json_format.ParseDict(protobuf_form(value, f"line {number}"), message,
                          ignore_unknown_fields=False)
    return signal, message


def main():
    with open(sys.argv[2], "rb") as f:
        lines = f.read().splitlines(keepends=True)
    if not lines:
        raise SystemExit("the file has no line")
    parsed = {"traces": [], "metrics": []}
    for number, line in enumerate(lines, 1):
        signal, message = parse_line(line, number)
        parsed[signal].append(message)
    print(f"{len(lines)} lines parse strictly: {len(parsed['traces'])} span batches "
          f"({sum(len(s.spans) for m in parsed['traces'] for r in m.resource_spans for s in r.scope_spans)}"
          f" spans), {len(parsed['metrics'])} metric batches")
    if len(sys.argv) < 4:
        return
    received = {"traces": [], "metrics": []}
    with open(sys.argv[3]) as f:
        for entry in f.read().split("\n"):
            if not entry:
                continue
            signal, body = entry.split(" ", 1)
            types = {v[0]: v[1] for v in REQUESTS.values()}
            received[signal].append(types[signal].FromString(base64.b64decode(body)))
    for signal in ("traces", "metrics"):
        if len(received[signal]) != len(parsed[signal]):
            raise SystemExit(f"{len(parsed[signal])} {signal} lines but {len(received[signal])} "
                             "requests received")
        for i, (line, body) in enumerate(zip(parsed[signal], received[signal]), 1):
            if line.SerializeToString(deterministic=True) != body.SerializeToString(deterministic=True):
                raise SystemExit(f"{signal} line {i} differs from the request received:\n"
                                 f"{line}\n---\n{body}")
    print("each line equals the request the receiver decoded")


if __name__ == "__main__":
    try:
        main()
    except (ValueError, json_format.ParseError, UnicodeDecodeError) as e:
        raise SystemExit(f"not strict OTLP JSON: {e}")

// The spans and metrics that the receiver decoded, as an indented text: one tree per trace
// (children under their parent span, in start order), then the metrics with their points.
'use strict';

const kinds = ['UNSPECIFIED', 'INTERNAL', 'SERVER', 'CLIENT', 'PRODUCER', 'CONSUMER'];
const statuses = ['', 'OK', 'ERROR'];

const hex = (base64) => Buffer.from(base64 || '', 'base64').toString('hex');

function valueText(value) {
    if (!value) return '';
    if ('stringValue' in value) return /[\s"]/.test(value.stringValue) || value.stringValue === ''
        ? JSON.stringify(value.stringValue) : value.stringValue;
    if ('intValue' in value) return String(value.intValue);
    if ('doubleValue' in value) return String(value.doubleValue);
    if ('boolValue' in value) return String(value.boolValue);
    return JSON.stringify(value);
}

const attributesText = (attributes) =>
    (attributes || []).map((a) => `${a.key}=${valueText(a.value)}`).join('  ');

function durationText(span) {
    const nanos = BigInt(span.endTimeUnixNano || 0) - BigInt(span.startTimeUnixNano || 0);
    return `${(Number(nanos) / 1e6).toFixed(3)} ms`;
}

function spanLines(span, depth, lines) {
    const pad = '  '.repeat(depth);
    let line = `${pad}${span.name}  ${kinds[span.kind || 0]}  ${durationText(span)}`;
    if (span.status && span.status.code) {
        line += `  status=${statuses[span.status.code]}`;
        if (span.status.message) line += `(${span.status.message})`;
    }
    line += `  span=${hex(span.spanId)}`;
    lines.push(line);
    const attributes = attributesText(span.attributes);
    if (attributes) lines.push(`${pad}    ${attributes}`);
    for (const event of span.events || []) {
        lines.push(`${pad}    event ${event.name}  ${attributesText(event.attributes)}`);
    }
}

function spanTree(requests) {
    const spans = [];
    const services = new Set();
    for (const request of requests) {
        for (const resourceSpans of request.resourceSpans || []) {
            const service = (resourceSpans.resource?.attributes || [])
                .find((a) => a.key === 'service.name');
            if (service) services.add(valueText(service.value));
            for (const scopeSpans of resourceSpans.scopeSpans || []) spans.push(...(scopeSpans.spans || []));
        }
    }
    const byId = new Map(spans.map((s) => [hex(s.spanId), s]));
    const children = new Map();
    const roots = [];
    for (const span of spans) {
        const parent = hex(span.parentSpanId);
        if (parent && byId.has(parent)) {
            if (!children.has(parent)) children.set(parent, []);
            children.get(parent).push(span);
        } else {
            roots.push(span);
        }
    }
    const byStart = (a, b) => (BigInt(a.startTimeUnixNano) < BigInt(b.startTimeUnixNano) ? -1 : 1);
    roots.sort(byStart);
    const lines = [`spans of service ${[...services].join(', ') || '(none)'}: ${spans.length}`];
    const walk = (span, depth) => {
        spanLines(span, depth, lines);
        for (const child of (children.get(hex(span.spanId)) || []).sort(byStart)) walk(child, depth + 1);
    };
    for (const root of roots) {
        const parent = hex(root.parentSpanId);
        lines.push(`trace ${hex(root.traceId)}${parent ? `  parent=${parent} (not received)` : ''}`);
        walk(root, 1);
    }
    return lines;
}

function pointLines(point, pad) {
    const attributes = attributesText(point.attributes);
    let value;
    if ('asInt' in point) value = point.asInt;
    else if ('asDouble' in point) value = point.asDouble;
    else value = `count=${point.count} sum=${point.sum} min=${point.min} max=${point.max}`;
    return `${pad}${attributes || '(no attributes)'}  ${value}`;
}

function metricTree(requests) {
    const lines = [];
    for (const request of requests) {
        for (const resourceMetrics of request.resourceMetrics || []) {
            for (const scopeMetrics of resourceMetrics.scopeMetrics || []) {
                for (const metric of scopeMetrics.metrics || []) {
                    let type = 'gauge';
                    let points = metric.gauge?.dataPoints;
                    if (metric.sum) {
                        type = `sum${metric.sum.isMonotonic ? ', monotonic' : ''}`;
                        points = metric.sum.dataPoints;
                    } else if (metric.histogram) {
                        type = 'histogram';
                        points = metric.histogram.dataPoints;
                    }
                    lines.push(`  ${metric.name}  ${type}  unit=${metric.unit || '(none)'}`);
                    for (const point of points || []) lines.push(pointLines(point, '    '));
                }
            }
        }
    }
    return [`metrics: ${lines.filter((l) => !l.startsWith('    ')).length}`, ...lines];
}

// requests: the decoded requests as { signal, object } in arrival order.
function tree(requests) {
    const traces = requests.filter((r) => r.signal === 'traces').map((r) => r.object);
    const metrics = requests.filter((r) => r.signal === 'metrics').map((r) => r.object);
    return [...spanTree(traces), ...metricTree(metrics)].join('\n') + '\n';
}

module.exports = { tree };

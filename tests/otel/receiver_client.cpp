#include "receiver_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "http_transport.h"
#include "otel_platform.h"
#include "settings.h"

namespace otel_test {

std::string received_request::field(const std::string& name) const {
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
}

size_t received_request::count(const std::string& prefix) const {
    size_t n = 0;
    while (true) {
        const std::string entry = prefix + "." + std::to_string(n);
        const auto next = fields.lower_bound(entry);
        if (next == fields.end() || next->first.compare(0, entry.size(), entry) != 0) return n;
        const char after = next->first.size() > entry.size() ? next->first[entry.size()] : '.';
        if (after != '.' && after != '=') return n;
        ++n;
    }
}

std::optional<receiver> receiver::from_environment() {
    const auto base = otel::read_process_environment("QUORIN_OTEL_RECEIVER");
    if (!base || base->empty()) return std::nullopt;
    receiver r;
    r.base_ = *base;
    const auto control = otel::read_process_environment("QUORIN_OTEL_RECEIVER_CONTROL");
    r.control_base_ = control && !control->empty() ? *control : *base;
    return r;
}

otel::url receiver::endpoint(const std::string& path) const {
    return *otel::parse_url(base_ + path);
}

std::string receiver::control(const std::string& what, const std::string& body) {
    otel::http_transport transport;
    const otel::url target = *otel::parse_url(control_base_ + "/control/" + what);
    otel::http_request request;
    request.target = &target;
    request.content_type = "text/plain";
    request.body = body;
    request.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    request.response_limit = size_t{1} << 30;
    const otel::http_response response = transport.post(request);
    EXPECT_EQ(response.status, 200) << "receiver control " << what << ": " << response.error;
    return response.body;
}

std::string receiver::tls_base(bool client_certificate_required) const {
    const char* name =
        client_certificate_required ? "QUORIN_OTEL_RECEIVER_MTLS" : "QUORIN_OTEL_RECEIVER_TLS";
    const auto base = otel::read_process_environment(name);
    EXPECT_TRUE(base && !base->empty()) << name << " is not set (scripts/test sets it)";
    return base.value_or("");
}

std::string receiver::tls_file(const std::string& name) const {
    const auto dir = otel::read_process_environment("QUORIN_OTEL_RECEIVER_TLS_DIR");
    EXPECT_TRUE(dir && !dir->empty()) << "QUORIN_OTEL_RECEIVER_TLS_DIR is not set";
    // Wine shows the build machine's root as drive Z:.
    const std::string drive = std::string(otel::os_type()) == "windows" ? "Z:" : "";
    return drive + dir.value_or("") + "/" + name;
}

void receiver::reset() { control("reset"); }
void receiver::tls_certificate(const std::string& name) { control("tls-certificate", name); }

void receiver::mtls_max_version(const std::string& version) {
    control("mtls-max-version", version);
}
void receiver::script(const std::string& lines) { control("script", lines); }
std::string receiver::errors() { return control("errors"); }
void receiver::down() { control("down"); }
void receiver::up() { control("up"); }
int receiver::redirected() { return std::stoi(control("redirected")); }

namespace {

// A value as the receiver writes it on one line: "\\" and newlines escaped as \\ and \n.
std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::vector<received_request> receiver::requests() {
    std::vector<received_request> list;
    std::istringstream text(control("requests"));
    std::string line;
    while (std::getline(text, line)) {
        if (line.rfind("request ", 0) == 0) {
            received_request r;
            std::istringstream words(line.substr(8));
            std::string number, status, bytes, decoded;
            words >> number >> r.path >> status >> bytes >> decoded;
            const auto number_after_equals = [](const std::string& word) {
                return std::stoul(word.substr(word.find('=') + 1));
            };
            r.status = static_cast<int>(number_after_equals(status));
            r.bytes = number_after_equals(bytes);
            r.decoded = number_after_equals(decoded);
            list.push_back(std::move(r));
        } else if (line == "end" || list.empty()) {
            continue;
        } else if (line.rfind("header ", 0) == 0) {
            const size_t equals = line.find('=');
            list.back().headers[line.substr(7, equals - 7)] = unescaped(line.substr(equals + 1));
        } else {
            const size_t equals = line.find('=');
            list.back().fields[line.substr(0, equals)] = unescaped(line.substr(equals + 1));
        }
    }
    return list;
}

}  // namespace otel_test

#include "summary_table.h"

#include <cmath>
#include <cstdarg>
#include <limits>

namespace {

// "function/args/threads:n", without the fields that are empty.
std::string key_of(const benchmark::BenchmarkReporter::Run& run) {
    std::string key = run.run_name.function_name;
    for (const std::string* part : {&run.run_name.args, &run.run_name.threads}) {
        if (part->empty()) continue;
        key += '/';
        key += *part;
    }
    return key;
}

double nanoseconds_of(const benchmark::BenchmarkReporter::Run& run) {
    const auto items = run.counters.find("items_per_second");
    if (items != run.counters.end() && items->second.value > 0) return 1e9 / items->second.value;
    return run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

std::string printf_text(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string format_ns(double ns) {
    if (std::isnan(ns)) return "n/a";
    if (ns < 10) return printf_text("%.2f", ns);
    if (ns < 1000) return printf_text("%.1f", ns);
    return printf_text("%.0f", ns);
}

std::string format_ratio(double ratio) {
    return std::isnan(ratio) ? "n/a" : printf_text("%.2fx", ratio);
}

struct table_line {
    std::string measurement, ns, compared_with, ratio, target, met;
};

class table {
  public:
    explicit table(const median_collector& results) : results_(results) {}

    // A measurement on its own.
    void add(const std::string& label, const std::string& key) {
        lines_.push_back({label, format_ns(ns(key)), "", "", "", ""});
    }

    // A measurement against another, with an optional upper bound for the ratio.
    void add(const std::string& label, const std::string& key, const std::string& against,
             const std::string& against_key, double max_ratio = 0, const char* target = "") {
        const double ratio = ns(key) / ns(against_key);
        lines_.push_back({label, format_ns(ns(key)), against, format_ratio(ratio),
                          max_ratio > 0 ? printf_text("<= %gx", max_ratio) + target : "",
                          max_ratio > 0 ? verdict(ratio, max_ratio) : ""});
    }

    // A measurement with an upper bound in nanoseconds, optionally shown against another.
    void add_bounded(const std::string& label, const std::string& key, double max_ns,
                     const std::string& against = "", const std::string& against_key = "") {
        const std::string ratio = against.empty() ? "" : format_ratio(ns(key) / ns(against_key));
        lines_.push_back({label, format_ns(ns(key)), against, ratio,
                          printf_text("< %.0f ns", max_ns), verdict(ns(key), max_ns)});
    }

    // A measurement that may exceed the cost of `work_key` by less than max_ns.
    void add_over_work(const std::string& label, const std::string& key,
                       const std::string& work_label, const std::string& work_key, double max_ns) {
        const double extra = ns(key) - ns(work_key);
        lines_.push_back(
            {label, format_ns(ns(key)), work_label + " (" + format_ns(ns(work_key)) + " ns)",
             printf_text("+%s ns", format_ns(extra).c_str()),
             printf_text("< %.0f ns + ", max_ns) + work_label, verdict(extra, max_ns)});
    }

    void print(std::FILE* out) const {
        const table_line header{"Measurement", "ns", "Compared with", "Ratio", "Target", "Met"};
        size_t w[6] = {};
        for (const table_line& line : lines_) widen(w, line);
        widen(w, header);
        print_line(out, header, w);
        // Numbers align right.
        std::fprintf(out, "|%s|%s:|%s|%s:|%s|%s|\n", dashes(w[0] + 2).c_str(),
                     dashes(w[1] + 1).c_str(), dashes(w[2] + 2).c_str(), dashes(w[3] + 1).c_str(),
                     dashes(w[4] + 2).c_str(), dashes(w[5] + 2).c_str());
        for (const table_line& line : lines_) print_line(out, line, w);
    }

  private:
    double ns(const std::string& key) const { return results_.nanoseconds(key); }

    // Whether value stays within its bound; nothing for a measurement that did not run.
    static std::string verdict(double value, double bound) {
        if (std::isnan(value)) return "";
        return value <= bound ? "yes" : "NO";
    }
    static std::string dashes(size_t n) { return std::string(n, '-'); }

    static void widen(size_t* w, const table_line& line) {
        const std::string* cells[] = {&line.measurement, &line.ns,     &line.compared_with,
                                      &line.ratio,       &line.target, &line.met};
        for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], cells[i]->size());
    }

    static void print_line(std::FILE* out, const table_line& line, const size_t* w) {
        std::fprintf(out, "| %-*s | %*s | %-*s | %*s | %-*s | %-*s |\n", int(w[0]),
                     line.measurement.c_str(), int(w[1]), line.ns.c_str(), int(w[2]),
                     line.compared_with.c_str(), int(w[3]), line.ratio.c_str(), int(w[4]),
                     line.target.c_str(), int(w[5]), line.met.c_str());
    }

    const median_collector& results_;
    std::vector<table_line> lines_;
};

}  // namespace

bool median_collector::ReportContext(const Context& context) {
    cpus_ = context.cpu_info.num_cpus;
    megahertz_ = context.cpu_info.cycles_per_second / 1e6;
    load_average_ = context.cpu_info.load_avg;
    return true;
}

void median_collector::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        const std::string key = key_of(run);
        if (run.error_occurred) {
            errors_.push_back(key + ": " + run.error_message);
            nanoseconds_[key] = std::numeric_limits<double>::quiet_NaN();
        } else if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
            nanoseconds_[key] = nanoseconds_of(run);
        } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
            nanoseconds_[key] = nanoseconds_of(run);
            repetitions_ = static_cast<int>(run.repetitions);
        }
    }
}

double median_collector::nanoseconds(const std::string& key) const {
    const auto found = nanoseconds_.find(key);
    return found == nanoseconds_.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
}

std::string median_collector::describe_machine() const {
    std::string text = printf_text("%d CPUs at %.0f MHz", cpus_, megahertz_);
    if (load_average_.size() == 3) {
        text += printf_text(", load average %.2f %.2f %.2f at the start", load_average_[0],
                            load_average_[1], load_average_[2]);
    }
    return text + (repetitions_ > 1 ? printf_text("; medians of %d runs", repetitions_) : "");
}

void print_summary_table(const median_collector& results, std::FILE* out) {
    const std::string pointer = "function-pointer call";
    const std::string direct = "direct shared-library call";
    table t(results);
    t.add("Call through a function pointer", "call_through_function_pointer");
    t.add("Direct call into a shared library", "direct_call_into_shared_library");
    t.add("Bound core forwarder", "bound_core_forwarder", pointer, "call_through_function_pointer",
          1.2);
    t.add("Bound core forwarder", "bound_core_forwarder", direct,
          "direct_call_into_shared_library");
    t.add("Bound core forwarder, another thread nesting init/shutdown",
          "bound_core_forwarder_beside_lifecycle_calls", "idle", "bound_core_forwarder", 1.11,
          " (speed >= 0.9x)");
    t.add("Unbound core forwarder", "unbound_core_forwarder", direct,
          "direct_call_into_shared_library", 1.1);
    t.add("Unbound extension forwarder", "unbound_extension_forwarder", direct,
          "direct_call_into_shared_library", 1.1);
    t.add("Bound extension forwarder", "bound_extension_forwarder", pointer,
          "call_through_function_pointer");
    t.add("5 direct calls into a shared library", "request_direct_calls");
    t.add_bounded("Request (5 calls), unbound", "request_unbound", 5, "5 direct calls",
                  "request_direct_calls");
    t.add("Agent's own work: its 5 slots called directly", "request_agent_work");
    t.add_over_work("Request (5 calls), bound", "request_bound", "agent's work",
                    "request_agent_work", 10);
    t.add_bounded("Nested quorin_initialize + quorin_shutdown", "nested_initialize_shutdown", 300);
    t.add("quorin_stub_set_variable, 10 variables", "set_variable/10");
    t.add("quorin_stub_set_variable, 1000 variables", "set_variable/1000", "10 variables",
          "set_variable/10");
    t.add("Option resolution, 10 variables", "resolve_options/10");
    t.add("Option resolution, 1000 variables", "resolve_options/1000", "10 variables",
          "resolve_options/10", 100, " (linear)");
    for (int threads : {1, 2, 4}) {
        const char* noun = threads == 1 ? "thread" : "threads";
        t.add(printf_text("Spin lock, %d %s", threads, noun),
              printf_text("spin_lock/threads:%d", threads),
              printf_text("std::mutex, %d %s", threads, noun),
              printf_text("std_mutex/threads:%d", threads));
    }
    std::fprintf(out, "quorin benchmarks: %s.\n\n", results.describe_machine().c_str());
    t.print(out);
    for (const std::string& error : results.errors())
        std::fprintf(out, "\nnot run: %s\n", error.c_str());
}

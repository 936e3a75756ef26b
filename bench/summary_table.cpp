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

std::string format_ns(double ns) {
    if (std::isnan(ns)) return "n/a";
    if (ns < 10) return printf_text("%.2f", ns);
    if (ns < 1000) return printf_text("%.1f", ns);
    return printf_text("%.0f", ns);
}

std::string format_ratio(double ratio) {
    return std::isnan(ratio) ? "n/a" : printf_text("%.2fx", ratio);
}

// Whether value stays within its bound; nothing for a measurement that did not run.
std::string verdict(double value, double bound) {
    if (std::isnan(value)) return "";
    return value <= bound ? "yes" : "NO";
}

std::string dashes(size_t n) { return std::string(n, '-'); }

}  // namespace

std::string printf_text(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void summary_table::add(const std::string& label, const std::string& key) {
    lines_.push_back({label, format_ns(ns(key)), "", "", "", ""});
}

void summary_table::add(const std::string& label, const std::string& key,
                        const std::string& against, const std::string& against_key,
                        double max_ratio, const char* target) {
    const double ratio = ns(key) / ns(against_key);
    lines_.push_back({label, format_ns(ns(key)), against, format_ratio(ratio),
                      max_ratio > 0 ? printf_text("<= %gx", max_ratio) + target : "",
                      max_ratio > 0 ? verdict(ratio, max_ratio) : ""});
}

void summary_table::add_bounded(const std::string& label, const std::string& key, double max_ns,
                                const std::string& against, const std::string& against_key) {
    const std::string ratio = against.empty() ? "" : format_ratio(ns(key) / ns(against_key));
    lines_.push_back({label, format_ns(ns(key)), against, ratio, printf_text("< %.0f ns", max_ns),
                      verdict(ns(key), max_ns)});
}

void summary_table::add_over_work(const std::string& label, const std::string& key,
                                  const std::string& work_label, const std::string& work_key,
                                  double max_ns) {
    const double extra = ns(key) - ns(work_key);
    lines_.push_back({label, format_ns(ns(key)),
                      work_label + " (" + format_ns(ns(work_key)) + " ns)",
                      printf_text("+%s ns", format_ns(extra).c_str()),
                      printf_text("< %.0f ns + ", max_ns) + work_label, verdict(extra, max_ns)});
}

void summary_table::add_speedup(const std::string& label, const std::string& key,
                                const std::string& against, const std::string& against_key,
                                double min_speedup) {
    const double speedup = ns(against_key) / ns(key);
    lines_.push_back({label, format_ns(ns(key)), against, format_ratio(speedup),
                      printf_text(">= %gx throughput", min_speedup),
                      std::isnan(speedup)      ? ""
                      : speedup >= min_speedup ? "yes"
                                               : "NO"});
}

void summary_table::add_count(const std::string& label, const std::string& key,
                              const std::string& name, const std::string& unit, double min,
                              double max, const std::string& target) {
    add_value(label, results_.counter(key, name), unit, min, max, target);
}

void summary_table::add_value(const std::string& label, double value, const std::string& unit,
                              double min, double max, const std::string& target) {
    const bool met = value >= min && value <= max;
    lines_.push_back({label,
                      std::isnan(value) ? "n/a" : printf_text("%.2f %s", value, unit.c_str()), "",
                      "", target,
                      std::isnan(value) || target.empty() ? ""
                      : met                               ? "yes"
                                                          : "NO"});
}

void summary_table::print(std::FILE* out, const char* title) const {
    std::fprintf(out, "%s: %s.\n\n", title, results_.describe_machine().c_str());
    const line header{"Measurement", "ns", "Compared with", "Ratio", "Target", "Met"};
    size_t w[6] = {};
    const auto widen = [&w](const line& l) {
        const std::string* cells[] = {&l.measurement, &l.ns,     &l.compared_with,
                                      &l.ratio,       &l.target, &l.met};
        for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], cells[i]->size());
    };
    widen(header);
    for (const line& l : lines_) widen(l);
    const auto print_line = [&](const line& l) {
        std::fprintf(out, "| %-*s | %*s | %-*s | %*s | %-*s | %-*s |\n", int(w[0]),
                     l.measurement.c_str(), int(w[1]), l.ns.c_str(), int(w[2]),
                     l.compared_with.c_str(), int(w[3]), l.ratio.c_str(), int(w[4]),
                     l.target.c_str(), int(w[5]), l.met.c_str());
    };
    print_line(header);
    // Numbers align right.
    std::fprintf(out, "|%s|%s:|%s|%s:|%s|%s|\n", dashes(w[0] + 2).c_str(), dashes(w[1] + 1).c_str(),
                 dashes(w[2] + 2).c_str(), dashes(w[3] + 1).c_str(), dashes(w[4] + 2).c_str(),
                 dashes(w[5] + 2).c_str());
    for (const line& l : lines_) print_line(l);
    for (const std::string& note : notes_) std::fprintf(out, "\n%s\n", note.c_str());
    for (const std::string& error : results_.errors())
        std::fprintf(out, "\nnot run: %s\n", error.c_str());
}

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
            counters_[key] = run.counters;
        } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
            nanoseconds_[key] = nanoseconds_of(run);
            counters_[key] = run.counters;
            repetitions_ = static_cast<int>(run.repetitions);
        }
    }
}

double median_collector::nanoseconds(const std::string& key) const {
    const auto found = nanoseconds_.find(key);
    return found == nanoseconds_.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
}

double median_collector::counter(const std::string& key, const std::string& name) const {
    const auto found = counters_.find(key);
    if (found == counters_.end()) return std::numeric_limits<double>::quiet_NaN();
    const auto value = found->second.find(name);
    return value == found->second.end() ? std::numeric_limits<double>::quiet_NaN()
                                        : value->second.value;
}

std::string median_collector::describe_machine() const {
    std::string text = printf_text("%d CPUs at %.0f MHz", cpus_, megahertz_);
    if (load_average_.size() == 3) {
        text += printf_text(", load average %.2f %.2f %.2f at the start", load_average_[0],
                            load_average_[1], load_average_[2]);
    }
    return text + (repetitions_ > 1 ? printf_text("; medians of %d runs", repetitions_) : "");
}

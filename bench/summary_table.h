// The one table of a benchmark run: each result next to what it is compared with and its
// target.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Keeps the median of each benchmark instead of printing it.
class median_collector : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;

    // Nanoseconds per iteration in processor time, or, for a benchmark that counts items, per
    // item in real time over all its threads; NaN when it did not run.
    double nanoseconds(const std::string& key) const;
    // The median of one of the benchmark's counters; NaN when it did not run or has none.
    double counter(const std::string& key, const std::string& name) const;
    std::string describe_machine() const;
    const std::vector<std::string>& errors() const { return errors_; }

  private:
    std::map<std::string, double> nanoseconds_;
    std::map<std::string, benchmark::UserCounters> counters_;
    std::vector<std::string> errors_;
    int cpus_ = 0;
    double megahertz_ = 0;
    std::vector<double> load_average_;
    int repetitions_ = 1;
};

// Rows of measurements, printed as one Markdown table: Measurement | ns | Compared with |
// Ratio | Target | Met.
class summary_table {
  public:
    explicit summary_table(const median_collector& results) : results_(results) {}

    // A measurement on its own.
    void add(const std::string& label, const std::string& key);
    // A measurement against another, with an optional upper bound for the ratio.
    void add(const std::string& label, const std::string& key, const std::string& against,
             const std::string& against_key, double max_ratio = 0, const char* target = "");
    // A measurement with an upper bound in nanoseconds, optionally shown against another.
    void add_bounded(const std::string& label, const std::string& key, double max_ns,
                     const std::string& against = "", const std::string& against_key = "");
    // A measurement that may exceed the cost of `work_key` by less than max_ns.
    void add_over_work(const std::string& label, const std::string& key,
                       const std::string& work_label, const std::string& work_key, double max_ns);
    // How many times the throughput of `against_key` the measurement reaches, at least
    // min_speedup.
    void add_speedup(const std::string& label, const std::string& key, const std::string& against,
                     const std::string& against_key, double min_speedup);
    // A counter of the benchmark shown in `unit` ("allocs") instead of nanoseconds, within
    // [min, max].
    void add_count(const std::string& label, const std::string& key, const std::string& name,
                   const std::string& unit, double min, double max, const std::string& target);
    // A value worked out of the results, shown and bounded as add_count's; without a target,
    // only shown.
    void add_value(const std::string& label, double value, const std::string& unit, double min,
                   double max, const std::string& target);
    // A line of text below the table.
    void add_note(const std::string& text) { notes_.push_back(text); }

    // Under "<title>: <the machine>.", with the notes and the benchmarks that did not run.
    void print(std::FILE* out, const char* title) const;

  private:
    struct line {
        std::string measurement, ns, compared_with, ratio, target, met;
    };
    double ns(const std::string& key) const { return results_.nanoseconds(key); }

    const median_collector& results_;
    std::vector<line> lines_;
    std::vector<std::string> notes_;
};

// printf into a std::string of at most 127 characters.
std::string printf_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

void print_summary_table(const median_collector& results, std::FILE* out);

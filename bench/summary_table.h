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
    std::string describe_machine() const;
    const std::vector<std::string>& errors() const { return errors_; }

  private:
    std::map<std::string, double> nanoseconds_;
    std::vector<std::string> errors_;
    int cpus_ = 0;
    double megahertz_ = 0;
    std::vector<double> load_average_;
    int repetitions_ = 1;
};

void print_summary_table(const median_collector& results, std::FILE* out);

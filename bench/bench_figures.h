#pragma once
// What the host benchmarks share in what they print: a series' median and range, and the
// load average printed beside every figure.
#include <string>
#include <vector>

struct series_summary {
  double median = 0, min = 0, max = 0;
  size_t count = 0;
};

series_summary summarize(std::vector<double> values);
double median(const std::vector<double> &values);
// "median M ms, min A, max B (N runs)", or "no runs".
std::string summary_text(const std::vector<double> &values);
// The first three fields of /proc/loadavg.
std::string load_average();

#include "bench_figures.h"

#include <stdio.h>

#include <algorithm>

series_summary summarize(std::vector<double> values) {
  series_summary s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  s.min = values.front();
  s.max = values.back();
  s.count = n;
  return s;
}

double median(const std::vector<double> &values) { return summarize(values).median; }

std::string summary_text(const std::vector<double> &values) {
  series_summary s = summarize(values);
  if (!s.count) return "no runs";
  char text[128];
  snprintf(text, sizeof text, "median %.1f ms, min %.1f, max %.1f (%zu runs)", s.median, s.min, s.max, s.count);
  return text;
}

std::string load_average() {
  char text[128] = "";
  FILE *f = fopen("/proc/loadavg", "r");
  if (f) {
    if (!fgets(text, sizeof text, f)) text[0] = 0;
    fclose(f);
  }
  float one = 0, five = 0, fifteen = 0;
  if (sscanf(text, "%f %f %f", &one, &five, &fifteen) != 3) return "?";
  snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

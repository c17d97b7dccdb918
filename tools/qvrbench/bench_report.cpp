#include "tools/qvrbench/bench_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace qvrbench {
namespace {

std::string Number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

double MedianSeconds(int repetitions, const std::function<void()>& prepare, const std::function<void()>& run) {
  std::vector<double> seconds;
  for (int i = 0; i < repetitions; ++i) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    run();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

std::string FormatTable(const std::vector<Figure>& figures) {
  std::string table = "| figure | ours (ms) | baseline (ms) | ratio | target |\n|---|---:|---:|---:|---:|\n";
  for (const Figure& figure : figures)
    table += "| " + figure.name + " | " + Number("%.1f", figure.ours * 1000) + " | " +
             Number("%.1f", figure.baseline * 1000) + " | " + Number("%.2f", figure.Ratio()) + " | " +
             Number("%.2f", figure.target) + (figure.Ratio() <= figure.target ? "" : " (missed)") + " |\n";
  return table;
}

std::string FormatJson(const std::vector<Figure>& figures) {
  std::string json = "{\n  \"figures\": [\n";
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const Figure& figure = figures[i];
    json += "    {\"figure\": \"" + figure.name + "\", \"ours_s\": " + Number("%.6f", figure.ours) +
            ", \"baseline_s\": " + Number("%.6f", figure.baseline) + ", \"ratio\": " + Number("%.4f", figure.Ratio()) +
            ", \"target\": " + Number("%.2f", figure.target) + "}" + (i + 1 < figures.size() ? ",\n" : "\n");
  }
  return json + "  ]\n}\n";
}

}  // namespace qvrbench

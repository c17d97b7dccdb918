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

// A figure's name in a Markdown cell.
std::string Cell(const std::string& text) {
  std::string cell;
  for (const char c : text) cell += c == '|' ? std::string("\\|") : std::string(1, c);
  return cell;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

double MedianSeconds(int repetitions, const std::function<void()>& prepare, const std::function<void()>& run) {
  std::vector<double> seconds;
  for (int i = 0; i < repetitions; ++i) {
    prepare();
    seconds.push_back(Seconds(run));
  }
  return Median(seconds);
}

void MeasureInTurns(Figure& figure, int repetitions, const std::function<void()>& prepare,
                    const std::function<void()>& ours, const std::function<void()>& baseline) {
  std::vector<double> oursSeconds, baselineSeconds, ratios;
  for (int i = 0; i < repetitions; ++i) {
    prepare();
    oursSeconds.push_back(Seconds(ours));
    baselineSeconds.push_back(Seconds(baseline));
    ratios.push_back(oursSeconds.back() / baselineSeconds.back());
  }
  figure.ours = Median(oursSeconds);
  figure.baseline = Median(baselineSeconds);
  figure.ratio = Median(ratios);
}

std::string FormatTable(const std::vector<Figure>& figures) {
  std::string table = "| figure | ours (ms) | baseline (ms) | ratio | target |\n|---|---:|---:|---:|---:|\n";
  for (const Figure& figure : figures)
    table += "| " + Cell(figure.name) + " | " + Number("%.1f", figure.ours * 1000) + " | " +
             Number("%.1f", figure.baseline * 1000) + " | " + Number("%.2f", figure.ratio) + " | " +
             Number("%.2f", figure.target) + (figure.ratio <= figure.target ? "" : " (missed)") + " |\n";
  return table;
}

std::string FormatJson(const std::vector<Figure>& figures) {
  std::string json = "{\n  \"figures\": [\n";
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const Figure& figure = figures[i];
    json += "    {\"figure\": \"" + figure.name + "\", \"ours_s\": " + Number("%.6f", figure.ours) +
            ", \"baseline_s\": " + Number("%.6f", figure.baseline) + ", \"ratio\": " + Number("%.4f", figure.ratio) +
            ", \"target\": " + Number("%.2f", figure.target) + "}" + (i + 1 < figures.size() ? ",\n" : "\n");
  }
  return json + "  ]\n}\n";
}

}  // namespace qvrbench

// The figures of qvrbench: each the median of several timed runs of ours and
// of its baseline, printed as a table and written as JSON.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qvrbench {

struct Figure {
  std::string name;
  double ours = 0;      // seconds
  double baseline = 0;  // seconds
  double target = 0;    // the highest ratio ours / baseline that is met
  double Ratio() const { return baseline > 0 ? ours / baseline : 0; }
};

// The median in seconds of `repetitions` runs of `run`; `prepare` (untimed)
// goes before each run.
double MedianSeconds(int repetitions, const std::function<void()>& prepare, const std::function<void()>& run);

// "| figure | ours | baseline | ratio | target |" in Markdown, times in ms.
std::string FormatTable(const std::vector<Figure>& figures);
std::string FormatJson(const std::vector<Figure>& figures);

}  // namespace qvrbench

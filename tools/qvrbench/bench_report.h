// The figures of qvrbench: each the median of several timed runs of ours and
// of its baseline, printed as a table and written as JSON.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qvrbench {

struct Figure {
  std::string name;
  double target = 0;    // the highest ratio ours / baseline that is met
  double ours = 0;      // seconds, the median
  double baseline = 0;  // seconds, the median
  double ratio = 0;     // the median of the runs' ratios
};

// The median in seconds of `repetitions` runs of `run`; `prepare` (untimed)
// goes before each run.
double MedianSeconds(int repetitions, const std::function<void()>& prepare, const std::function<void()>& run);

// Ours and the baseline in turns, so that the load of a busy machine falls on
// both alike; `prepare` (untimed) goes before each run of ours.
void MeasureInTurns(Figure& figure, int repetitions, const std::function<void()>& prepare,
                    const std::function<void()>& ours, const std::function<void()>& baseline);

// "| figure | ours | baseline | ratio | target |" in Markdown, times in ms.
std::string FormatTable(const std::vector<Figure>& figures);
std::string FormatJson(const std::vector<Figure>& figures);

}  // namespace qvrbench

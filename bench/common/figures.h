// Timing and the table of figures a benchmark prints: wall times of single runs, the median
// of the rounds, and rows of a label followed by numbers (times, ratios) or text, in columns.
#pragma once

#include <chrono>
#include <string>
#include <variant>
#include <vector>

namespace carvix::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

/// The wall time of one call of `f`, in seconds.
template <class F>
double Time(F&& f) {
    const auto t0 = Clock::now();
    f();
    return Seconds(Clock::now() - t0);
}

/// The median of `values` (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

/// A column of numbers: its title, printed width and digits after the point.
struct Column {
    std::string title;
    int width = 10;
    int precision = 3;
};

/// A number, or a text printed as it is (an empty text leaves the cell blank).
using Cell = std::variant<double, std::string>;

class Table {
  public:
    Table(int labelWidth, std::vector<Column> columns)
        : labelWidth_(labelWidth), columns_(std::move(columns)) {}

    /// Prints the column titles after `label`.
    void PrintHeader(const std::string& label) const;
    /// Prints one row; cells beyond the columns are dropped, missing ones left blank.
    void PrintRow(const std::string& label, const std::vector<Cell>& cells) const;

  private:
    int labelWidth_;
    std::vector<Column> columns_;
};

}  // namespace carvix::bench

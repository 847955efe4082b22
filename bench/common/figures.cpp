#include "figures.h"

#include <algorithm>
#include <cstdio>

namespace carvix::bench {

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Table::PrintHeader(const std::string& label) const {
    std::printf("%-*s", labelWidth_, label.c_str());
    for (const Column& c : columns_) {
        std::printf(" %*s", c.width, c.title.c_str());
    }
    std::printf("\n");
}

void Table::PrintRow(const std::string& label, const std::vector<Cell>& cells) const {
    std::printf("%-*s", labelWidth_, label.c_str());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        if (i < cells.size() && std::holds_alternative<double>(cells[i])) {
            std::printf(" %*.*f", c.width, c.precision, std::get<double>(cells[i]));
        } else {
            const std::string text = i < cells.size() ? std::get<std::string>(cells[i]) : "";
            std::printf(" %*s", c.width, text.c_str());
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace carvix::bench

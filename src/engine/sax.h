#pragma once

#include <cstddef>
#include <vector>

#include "core/types.h"

// Gaussian breakpoints indexed by alphabet size (0 to 10): row a holds the a - 1
// cut points, ascending, that split the standard normal into a equally likely
// regions. Rows 0 and 1 are empty.
extern const std::vector<std::vector<double>> breakpoints;

// The symbol for one value: 'a' plus the number of breakpoints of the row that
// lie strictly below the value. A value equal to a breakpoint takes the lower
// symbol; NaN gives 'a'. Throws std::invalid_argument for a size outside 0..10.
char get_discrete_value(int alphabet, double value);

// Z-normalises every series in place (population standard deviation, no
// threshold for flat series). An empty series stays empty.
void znorm(SeriesSet& ts);
// The same for one series.
void znorm_series(std::vector<double>& series);
// How znorm_series() scales a series of `size` values: each value x becomes
// (x - mean) / sd, the population standard deviation. An empty series, which
// has nothing to scale, gets mean 0 and sd 1.
struct Scale {
    double mean;
    double sd;
    double of(double x) const { return (x - mean) / sd; }
};
Scale scale_of(const double* values, std::size_t size);
// The scales of four series of `size` values each, with the same bits as
// scale_of() on each: the running sums of the four are independent, and the
// processor advances them side by side where it would wait for each addition of one.
void scales_of_four(const double* const values[4], std::size_t size, Scale scales[4]);
// out[i] = (values[i] - mean) / sd for i < size; `out` may be `values`.
void write_scaled(const double* values, std::size_t size, Scale scale, double* out);

// One word of ceil(size / seglen) symbols: each segment of seglen points is
// averaged and named. Throws std::length_error when no word length exists
// (seglen 0, or negative with a non-empty series).
Pattern get_row(std::vector<double> series, int seglen, int alphabet);

// The breakpoints of an alphabet of that size (a row of `breakpoints`); throws
// std::invalid_argument for a size outside 0..10.
const std::vector<double>& breakpoint_row(int alphabet);

// The word of one series of `size` values, cut by the breakpoints `row`: what
// get_row() gives, without copying the series.
Pattern word_of(const double* values, std::size_t size, int seglen, const std::vector<double>& row);

// The word of every series, in series order; the series are not normalised.
WordSet sax(const SeriesSet& ts, int seglen, int alphabet);

// The same as sax() for series that are viewed rather than owned.
WordSet sax_views(const SeriesViews& ts, int seglen, int alphabet);

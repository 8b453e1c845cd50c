#pragma once

#include <cstddef>
#include <vector>

// Removes a slow trend from one series: each point minus the mean of the
// `window` points centred on it (fewer where the window meets an end of the
// series). A window of 0 or 1 returns the values unchanged.
std::vector<double> detrend(const double* values, std::size_t size, std::size_t window);

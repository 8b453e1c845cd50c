#include "discovery/screening.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <set>

std::vector<std::size_t> merge_places(const std::vector<SeedPlace>& places, long long apart) {
    std::map<std::size_t, std::set<long long>> taken;  // kept starts, per series
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < places.size(); ++i) {
        std::set<long long>& starts = taken[places[i].series];
        const long long start = places[i].start;
        const auto next = starts.lower_bound(start);
        if (next != starts.end() && *next - start < apart) continue;
        if (next != starts.begin() && start - *std::prev(next) < apart) continue;
        starts.insert(start);
        kept.push_back(i);
    }
    return kept;
}

long long merge_distance(double share, std::size_t m) {
    return std::max(1LL, std::llround(share * static_cast<double>(m)));
}

std::vector<std::size_t> screening_sample(const std::vector<std::size_t>& lengths, std::size_t points,
                                          std::size_t fewest) {
    const std::size_t usable = lengths.size();
    std::vector<std::size_t> all(usable);
    for (std::size_t i = 0; i < usable; ++i) all[i] = i;
    if (points == 0 || usable == 0) return all;
    double total = 0.0;
    for (std::size_t length : lengths) total += static_cast<double>(length);
    const double mean = total / static_cast<double>(usable);
    const auto wanted = static_cast<std::size_t>(std::ceil(static_cast<double>(points) / std::max(mean, 1.0)));
    const std::size_t count = std::max(fewest, wanted);
    if (count >= usable) return all;
    // Series i * usable / count for i < count: evenly spread, first included.
    std::vector<std::size_t> sample(count);
    for (std::size_t i = 0; i < count; ++i) sample[i] = i * usable / count;
    return sample;
}

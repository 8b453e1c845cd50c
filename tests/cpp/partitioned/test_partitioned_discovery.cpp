#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "partitioned/partitioned_discovery.h"

namespace {

// Series of different lengths and phases, one of them constant (no usable window).
SeriesSet collection() {
    SeriesSet rows;
    for (std::size_t s = 0; s < 7; ++s) {
        std::vector<double> x(120 + 9 * s);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = std::sin(0.21 * static_cast<double>(i + 5 * s)) + 0.003 * static_cast<double>(i * (s + 1) % 17);
        rows.push_back(std::move(x));
    }
    rows[4].assign(130, 2.5);
    return rows;
}

SeriesViews views(const SeriesSet& rows, std::size_t first, std::size_t last) {
    SeriesViews out;
    for (std::size_t s = first; s < last; ++s) out.push_back({rows[s].data(), rows[s].size()});
    return out;
}

}  // namespace

// A collection cut into partitions gives, partition by partition, the values
// of the whole: the flat windows, the best matches and the exact sums that
// make a refined shape.
TEST(PartitionedDiscovery, PartitionsGiveTheValuesOfTheWholeCollection) {
    DiscoverySettings settings;
    settings.length = 40;
    settings.detrend_window = 25;
    const SeriesSet rows = collection();
    const partitioned::PreparedPart whole = partitioned::prepare_part(views(rows, 0, rows.size()), settings);
    const partitioned::PreparedPart first = partitioned::prepare_part(views(rows, 0, 3), settings);
    const partitioned::PreparedPart second = partitioned::prepare_part(views(rows, 3, rows.size()), settings);
    EXPECT_EQ(whole.usable, (std::vector<unsigned char>{1, 1, 1, 1, 0, 1, 1}));

    const Refiner all = partitioned::part_refiner(views(whole.prepared, 0, rows.size()), whole.flat, settings);
    const Refiner a = partitioned::part_refiner(views(first.prepared, 0, 3), first.flat, settings);
    const Refiner b = partitioned::part_refiner(views(second.prepared, 0, 4), second.flat, settings);
    const std::vector<double> shape = znormalised_window(whole.prepared[1].data(), 30, 40, all.window_stats_of(1));
    // The whitened views of the same partitions.
    DiscoverySettings shorter = settings;
    shorter.length = 39;
    const double phi = 0.6;
    const auto white_of = [&](const partitioned::PreparedPart& part, std::size_t count) {
        return partitioned::whiten_part(views(part.prepared, 0, count), part.flat, phi, settings);
    };
    const partitioned::WhitenedPart whole_w = white_of(whole, rows.size()), first_w = white_of(first, 3),
                                    second_w = white_of(second, 4);
    const Refiner all_w = partitioned::part_refiner(views(whole_w.whitened, 0, rows.size()), whole_w.flat, shorter);
    const Refiner a_w = partitioned::part_refiner(views(first_w.whitened, 0, 3), first_w.flat, shorter);
    const Refiner b_w = partitioned::part_refiner(views(second_w.whitened, 0, 4), second_w.flat, shorter);
    const BothViews both_all{all, all_w, phi}, both_a{a, a_w, phi}, both_b{b, b_w, phi};
    // Every series, then the series 1 and 5 alone (local 1 of the first part, local 2 of the second).
    const std::vector<long long> only_all{1, 5}, only_a{1}, only_b{2};
    for (bool subset : {false, true}) {
        const SeriesSet shapes{shape};
        const Candidate together =
            partitioned::part_evaluate(both_all, shapes, subset ? &only_all : nullptr, settings)[0];
        const Candidate left = partitioned::part_evaluate(both_a, shapes, subset ? &only_a : nullptr, settings)[0];
        const Candidate right = partitioned::part_evaluate(both_b, shapes, subset ? &only_b : nullptr, settings)[0];
        std::vector<long long> best = left.best;
        best.insert(best.end(), right.best.begin(), right.best.end());
        std::vector<double> distance = left.distance;
        distance.insert(distance.end(), right.distance.begin(), right.distance.end());
        EXPECT_EQ(best, together.best);
        EXPECT_EQ(distance, together.distance);
        EXPECT_EQ(best[4], -1);
        if (subset) {
            EXPECT_EQ(std::count(best.begin(), best.end(), -1), 5);
        }
    }
    EXPECT_EQ(both_all.evaluate(shape, 4).best,
              partitioned::part_evaluate(both_all, {shape}, nullptr, settings)[0].best);

    const Candidate c = all.evaluate(shape, 4);
    const std::vector<std::size_t> closest = closest_series(c.distance, c.best, 5);
    std::vector<std::vector<long long>> in_a(1), in_b(1), starts_a(1), starts_b(1), in_all(1), starts_all(1);
    for (std::size_t s : closest) {
        (s < 3 ? in_a : in_b)[0].push_back(static_cast<long long>(s < 3 ? s : s - 3));
        (s < 3 ? starts_a : starts_b)[0].push_back(c.best[s]);
        in_all[0].push_back(static_cast<long long>(s));
        starts_all[0].push_back(c.best[s]);
    }
    std::vector<ExactSum> sums = partitioned::part_sums(b, in_b, starts_b)[0];
    const std::vector<ExactSum> left = partitioned::part_sums(a, in_a, starts_a)[0];
    for (std::size_t j = 0; j < sums.size(); ++j) sums[j].add(left[j]);
    EXPECT_EQ(shape_from_sums(sums, closest.size()),
              shape_from_sums(partitioned::part_sums(all, in_all, starts_all)[0], closest.size()));
}

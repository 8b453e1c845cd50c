#pragma once

#include <cstddef>
#include <vector>

// How discovery narrows its candidate shapes down to the pool it refines.
// Candidates cut from one place are one candidate; the rest are compared at
// point resolution with a sample of the series first, and only the best of
// them with every series. Nothing here averages a shape's detail away.

// Where a candidate shape was cut from: the window of m points at `start` of
// series `series`.
struct SeedPlace {
    std::size_t series = 0;
    long long start = 0;
};

// The positions of the candidates kept when those from one place are merged:
// walking them in order, a candidate is kept unless a kept one comes from the
// same series and starts less than `apart` points from it.
std::vector<std::size_t> merge_places(const std::vector<SeedPlace>& places, long long apart);
// `apart` for candidates of m points merged within share * m points: at least 1.
long long merge_distance(double share, std::size_t m);

// The series the first screening compares every candidate with: given the
// lengths of the usable series, as many as hold about `points` points (at
// least `fewest`), spread evenly over them by position. All of them when
// that is every one or `points` is 0.
std::vector<std::size_t> screening_sample(const std::vector<std::size_t>& lengths, std::size_t points,
                                          std::size_t fewest);

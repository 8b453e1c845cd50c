#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "discovery/screening.h"
#include "discovery/whitened.h"

// Candidates that no resolution can miss: the closest pairs of windows of two
// series, found exactly. A shape that two series share, however fine its
// detail, is where a window of one lies closest to a window of the other.

// Every window of series a compared with every window of series b by the
// distance of both views (BothViews); the `count` windows of a closest to
// their nearest window of b (no two overlapping by more than half of m, equal
// distances by start), each followed by that nearest window, closest pair
// first. Nothing for a series that is not usable. The dot products of one row
// of windows come from the previous row's in O(1) each, and afresh every few
// rows so that rounding cannot build up: O(na * nb) for na and nb windows.
std::vector<SeedPlace> joined_places(const BothViews& views, std::size_t a, std::size_t b, std::size_t count);

// The pairs of series joined: given the number of windows of each series of
// the screening sample (in its order), its first with its second, its third
// with its fourth, and so on, while at most `pairs` pairs and at most `cells`
// window pairs compared in all. Positions into the sample.
std::vector<std::pair<std::size_t, std::size_t>> join_pairs(const std::vector<std::size_t>& windows, std::size_t pairs,
                                                            std::size_t cells);

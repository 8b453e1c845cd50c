#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "discovery/discovery.h"

// Discovery over a range of lengths, settings.length to settings.max_length
// points: each motif at its own length. The work that does not depend on the
// length is done once (detrending, the whitening coefficient, the engine's
// runs, the screening sample); each candidate starts at a length of its own
// (its engine pattern's span, or one of a few lengths of the joins), is
// screened and refined there, and then steps in length while that improves
// its rank. Ranks compare a motif's score with the score that shapes of no
// recurring form reach at its length (chance.h), so that neither short
// windows, which always match better, nor long ones are favoured. One motif
// per place holds across lengths: of two motifs whose best matches overlap
// (by more than settings.place_overlap times the shorter) in a share of at
// least settings.same_place of the series, the better ranked stays.
Discovery discover_lengths(const SeriesViews& series, const DiscoverySettings& settings, const Runner& runner);

// The lengths the search works at: from lo to hi, about 12 % apart (a sixth
// of an octave), rounded, both ends included.
std::vector<std::size_t> length_grid(std::size_t lo, std::size_t hi);

// The grid length nearest to m (by ratio), within the grid's ends.
std::size_t snap_length(const std::vector<std::size_t>& grid, double m);

// The lengths the joins of the sample run at: three across the grid, each
// once.
std::vector<std::size_t> joined_lengths(const std::vector<std::size_t>& grid);

// The lengths chance is measured at: every third of the grid, and its end.
std::vector<std::size_t> chance_lengths(const std::vector<std::size_t>& grid);

// The (length, anchor) tries of one step of a candidate at grid length m: the
// grid lengths one and two steps shorter and longer, each kept at its start,
// middle or end (resized_start).
std::vector<std::pair<std::size_t, int>> length_tries(const std::vector<std::size_t>& grid, std::size_t m);

// Where a window of `from` points at `start` lies once grown or shrunk to m
// points, keeping its start (anchor 0), its middle (1) or its end (2), and
// within its series of `size` points; -1 when the series is shorter than m.
long long resized_start(long long start, std::size_t from, std::size_t m, int anchor, std::size_t size);

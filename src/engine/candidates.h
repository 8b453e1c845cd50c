#pragma once

// The candidates of the next level: a level of frequent patterns joined with
// itself.

#include <cstddef>
#include <vector>

#include "core/types.h"
#include "engine/pacer.h"

// Every a of `previous` joined with every b of `previous` where a without its
// first symbol is b without its last, as a followed by b's last symbol; in
// the order of a, then of b. When every pattern has `length` symbols and the
// level is in key order (as mining leaves it) the candidates come in key
// order and are found by binary search; otherwise every pair is compared.
std::vector<Pattern> join_candidates(const std::vector<Pattern>& previous, std::size_t length, Pacer& pacer);

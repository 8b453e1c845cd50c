#pragma once

#include <cstddef>

// Sliding dot products: out[i] = sum over j < m of shape[j] * values[i + j],
// for every window i of m points (size - m + 1 of them). Short shapes are
// multiplied out directly, O(size * m); long ones through the fast Fourier
// transform, O(size log size), whichever costs fewer operations. Both agree to
// rounding (about 1e-12 relative to the norms of the shape and the window).
void sliding_dot(const double* shape, std::size_t m, const double* values, std::size_t size, double* out);

// The two ways, for tests and for the choice between them.
void sliding_dot_direct(const double* shape, std::size_t m, const double* values, std::size_t size, double* out);
void sliding_dot_fft(const double* shape, std::size_t m, const double* values, std::size_t size, double* out);
bool sliding_dot_prefers_fft(std::size_t m, std::size_t size);

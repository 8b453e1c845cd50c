#include "discovery/sliding_dot.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

using Complex = std::complex<double>;

// In-place iterative radix-2 transform of a power-of-two length; `inverse`
// conjugates the twiddles (the 1/n is left to the caller). Twiddles come from
// cos and sin of each angle, not from repeated products, so that rounding
// does not grow along a stage.
void fft(std::vector<Complex>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    const double pi = std::acos(-1.0);
    std::vector<Complex> twiddle(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        const double angle = 2.0 * pi * static_cast<double>(k) / static_cast<double>(n);
        twiddle[k] = Complex(std::cos(angle), inverse ? std::sin(angle) : -std::sin(angle));
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t step = n / len, half = len / 2;
        for (std::size_t i = 0; i < n; i += len) {
            for (std::size_t j = 0; j < half; ++j) {
                const Complex u = a[i + j], v = a[i + j + half] * twiddle[j * step];
                a[i + j] = u + v;
                a[i + j + half] = u - v;
            }
        }
    }
}

std::size_t transform_size(std::size_t size) {
    std::size_t n = 1;
    while (n < size) n <<= 1;
    return n;
}

}  // namespace

void sliding_dot_direct(const double* shape, std::size_t m, const double* values, std::size_t size, double* out) {
    if (m == 0 || size < m) return;
    const std::size_t count = size - m + 1;
    // Four points of the shape at a time, so that the inner loop runs over
    // windows (vectorised) and reads and writes out[] once per four points.
    std::fill(out, out + count, 0.0);
    std::size_t j = 0;
    for (; j + 4 <= m; j += 4) {
        const double q0 = shape[j], q1 = shape[j + 1], q2 = shape[j + 2], q3 = shape[j + 3];
        const double* x = values + j;
        for (std::size_t i = 0; i < count; ++i) out[i] += (q0 * x[i] + q1 * x[i + 1]) + (q2 * x[i + 2] + q3 * x[i + 3]);
    }
    for (; j < m; ++j) {
        const double q = shape[j];
        const double* x = values + j;
        for (std::size_t i = 0; i < count; ++i) out[i] += q * x[i];
    }
}

void sliding_dot_fft(const double* shape, std::size_t m, const double* values, std::size_t size, double* out) {
    if (m == 0 || size < m) return;
    const std::size_t count = size - m + 1;
    // The series in the real part and the shape, reversed, in the imaginary
    // part: one forward transform gives both spectra, and their product is
    // the convolution whose entries m - 1 .. size - 1 are the dot products.
    // The series is centred and scaled to deviation 1 first: the two parts of
    // one transform then share its rounding in proportion, and rounding goes
    // with the series' variation rather than its level. The level times the
    // shape's sum is added back.
    double level = 0.0, shape_sum = 0.0, squares = 0.0;
    for (std::size_t i = 0; i < size; ++i) level += values[i];
    level /= static_cast<double>(size);
    for (std::size_t i = 0; i < size; ++i) squares += (values[i] - level) * (values[i] - level);
    for (std::size_t j = 0; j < m; ++j) shape_sum += shape[j];
    const double spread = std::sqrt(squares / static_cast<double>(size));
    if (!(spread > 0.0) || !std::isfinite(spread)) {
        for (std::size_t i = 0; i < count; ++i) out[i] = level * shape_sum;
        if (!(spread == 0.0)) sliding_dot_direct(shape, m, values, size, out);
        return;
    }
    const std::size_t n = transform_size(size);
    std::vector<Complex> a(n);
    for (std::size_t i = 0; i < size; ++i) a[i].real((values[i] - level) / spread);
    for (std::size_t j = 0; j < m; ++j) a[j].imag(shape[m - 1 - j]);
    fft(a, false);
    std::vector<Complex> product(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Complex z = a[k], w = std::conj(a[(n - k) % n]);
        const Complex x = (z + w) * 0.5, q = (z - w) * Complex(0.0, -0.5);
        product[k] = x * q;
    }
    fft(product, true);
    // Wrapped entries (those below m - 1) are not read: size <= n.
    const double scale = spread / static_cast<double>(n);
    for (std::size_t i = 0; i < count; ++i) out[i] = product[i + m - 1].real() * scale + level * shape_sum;
}

bool sliding_dot_prefers_fft(std::size_t m, std::size_t size) {
    if (size < m) return false;
    const double direct = static_cast<double>(size - m + 1) * static_cast<double>(m);
    const double n = static_cast<double>(transform_size(size));
    // Two transforms of n points and a product, against one multiply-add per point pair.
    return 12.0 * n * std::log2(n) < direct;
}

void sliding_dot(const double* shape, std::size_t m, const double* values, std::size_t size, double* out) {
    if (sliding_dot_prefers_fft(m, size))
        sliding_dot_fft(shape, m, values, size, out);
    else
        sliding_dot_direct(shape, m, values, size, out);
}

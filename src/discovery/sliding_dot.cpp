#include "discovery/sliding_dot.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Twiddles and bit reversal of one transform size, made once per thread and
// size: cos and sin of each angle, not repeated products, so that rounding
// does not grow along a stage.
struct Plan {
    std::size_t n = 0;
    std::vector<double> cos, sin;
    std::vector<std::size_t> reversed;
};

const Plan& plan_of(std::size_t n) {
    thread_local Plan plan;
    if (plan.n == n) return plan;
    plan.n = n;
    const double pi = std::acos(-1.0);
    plan.cos.resize(n / 2);
    plan.sin.resize(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        const double angle = 2.0 * pi * static_cast<double>(k) / static_cast<double>(n);
        plan.cos[k] = std::cos(angle);
        plan.sin[k] = std::sin(angle);
    }
    plan.reversed.assign(n, 0);
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        plan.reversed[i] = j;
    }
    return plan;
}

// In-place iterative radix-2 transform of a power-of-two length, on the real
// and imaginary parts apart; `inverse` conjugates the twiddles (the 1/n is
// left to the caller).
void fft(std::vector<double>& re, std::vector<double>& im, bool inverse) {
    const std::size_t n = re.size();
    const Plan& plan = plan_of(n);
    for (std::size_t i = 1; i < n; ++i) {
        const std::size_t j = plan.reversed[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t step = n / len, half = len / 2;
        for (std::size_t i = 0; i < n; i += len) {
            double* ur = re.data() + i;
            double* ui = im.data() + i;
            double* vr = ur + half;
            double* vi = ui + half;
            for (std::size_t j = 0; j < half; ++j) {
                const double wr = plan.cos[j * step], wi = sign * plan.sin[j * step];
                const double tr = vr[j] * wr - vi[j] * wi, ti = vr[j] * wi + vi[j] * wr;
                vr[j] = ur[j] - tr;
                vi[j] = ui[j] - ti;
                ur[j] += tr;
                ui[j] += ti;
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

// Built twice, for AVX2 and for any x86-64, and chosen when loaded: each
// product is the same sequence of operations either way (no fused
// multiply-add), so both give the same bits, the wider one about twice as fast.
// Not under the sanitizers: the choice runs before their runtimes start.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
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
    std::vector<double> re(n, 0.0), im(n, 0.0);
    for (std::size_t i = 0; i < size; ++i) re[i] = (values[i] - level) / spread;
    for (std::size_t j = 0; j < m; ++j) im[j] = shape[m - 1 - j];
    fft(re, im, false);
    // The two spectra apart, X = (Z_k + conj Z_-k) / 2 and Q = (Z_k - conj
    // Z_-k) / 2i, and their product X Q, whose inverse is the convolution.
    std::vector<double> pr(n), pi(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t c = (n - k) % n;
        const double xr = 0.5 * (re[k] + re[c]), xi = 0.5 * (im[k] - im[c]);
        const double qr = 0.5 * (im[k] + im[c]), qi = -0.5 * (re[k] - re[c]);
        pr[k] = xr * qr - xi * qi;
        pi[k] = xr * qi + xi * qr;
    }
    fft(pr, pi, true);
    // Wrapped entries (those below m - 1) are not read: size <= n.
    const double scale = spread / static_cast<double>(n);
    for (std::size_t i = 0; i < count; ++i) out[i] = pr[i + m - 1] * scale + level * shape_sum;
}

bool sliding_dot_prefers_fft(std::size_t m, std::size_t size) {
    if (size < m) return false;
    const double direct = static_cast<double>(size - m + 1) * static_cast<double>(m);
    const double n = static_cast<double>(transform_size(size));
    // Measured: a multiply-add of the direct products (vectorised) costs
    // about a 25th of one butterfly step of the two transforms.
    return 25.0 * n * std::log2(n) < direct;
}

void sliding_dot(const double* shape, std::size_t m, const double* values, std::size_t size, double* out) {
    if (sliding_dot_prefers_fft(m, size))
        sliding_dot_fft(shape, m, values, size, out);
    else
        sliding_dot_direct(shape, m, values, size, out);
}

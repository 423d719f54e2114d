#include "engine/kernels/Gf16Field.h"

#include <algorithm>
#include <utility>

namespace tessera::gf16 {

namespace {

// exp[i] = 2^i, twice over so that a sum of two logarithms needs no
// reduction; log[2^i] = i.
struct Tables {
    std::vector<std::uint16_t> exp = std::vector<std::uint16_t>(2 * 65535);
    std::vector<std::uint32_t> log = std::vector<std::uint32_t>(65536);
    Tables()
    {
        std::uint32_t x = 1;
        for (std::uint32_t i = 0; i < 65535; ++i) {
            exp[i] = exp[i + 65535] = static_cast<std::uint16_t>(x);
            log[x] = i;
            x <<= 1;
            if (x & 0x10000)
                x ^= 0x1100B;
        }
    }
};

const Tables& T()
{
    static const Tables tables;
    return tables;
}

// The logarithms of the input constants in turn: the powers coprime to 65535.
std::uint32_t NextConstantLog(std::uint32_t n)
{
    do
        ++n;
    while (n % 3 == 0 || n % 5 == 0 || n % 17 == 0 || n % 257 == 0);
    return n;
}

}  // namespace

void Powers(std::uint16_t constant, std::size_t count, std::uint16_t* powers)
{
    if (count == 0)
        return;
    powers[0] = 1;
    if (constant == 0) {
        std::fill(powers + 1, powers + count, std::uint16_t{0});
        return;
    }
    const Tables& t = T();
    const std::uint32_t step = t.log[constant];
    for (std::uint32_t j = 1, at = step; j < count; ++j) {
        powers[j] = t.exp[at];
        at += step;
        if (at >= 65535)
            at -= 65535;
    }
}

std::uint16_t Mul(std::uint16_t a, std::uint16_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return T().exp[T().log[a] + T().log[b]];
}

std::uint16_t Pow(std::uint16_t a, std::uint32_t n)
{
    if (n == 0)
        return 1;
    if (a == 0)
        return 0;
    return T().exp[static_cast<std::uint64_t>(T().log[a]) * n % 65535];
}

std::uint16_t Inverse(std::uint16_t a)
{
    if (a == 0)
        return 0;
    return T().exp[(65535 - T().log[a]) % 65535];
}

std::uint16_t InputConstant(std::uint32_t index)
{
    std::uint32_t n = NextConstantLog(0);
    for (std::uint32_t found = 0; found < index; ++found)
        n = NextConstantLog(n);
    return T().exp[n];
}

std::vector<std::uint16_t> InputConstants(std::uint64_t count)
{
    std::vector<std::uint16_t> constants(count);
    std::uint32_t n = 0;
    for (std::uint16_t& constant : constants) {
        n = NextConstantLog(n);
        constant = T().exp[n];
    }
    return constants;
}

std::vector<std::uint16_t> SliceFactors(std::uint64_t slices, const std::vector<std::uint32_t>& exponents)
{
    std::vector<std::uint16_t> factors(slices * exponents.size());
    std::uint32_t n = 0;
    for (std::uint64_t i = 0; i < slices; ++i) {
        n = NextConstantLog(n);
        for (std::size_t j = 0; j < exponents.size(); ++j)
            factors[i * exponents.size() + j] = Pow(T().exp[n], exponents[j]);
    }
    return factors;
}

// Gauss-Jordan elimination beside the identity.
bool Invert(std::vector<std::uint16_t>& a, std::size_t n)
{
    std::vector<std::uint16_t> inverse(n * n, 0);
    for (std::size_t i = 0; i < n; ++i)
        inverse[i * n + i] = 1;
    for (std::size_t column = 0; column < n; ++column) {
        std::size_t pivot = column;
        while (pivot < n && a[pivot * n + column] == 0)
            ++pivot;
        if (pivot == n)
            return false;
        if (pivot != column)
            for (std::size_t k = 0; k < n; ++k) {
                std::swap(a[pivot * n + k], a[column * n + k]);
                std::swap(inverse[pivot * n + k], inverse[column * n + k]);
            }
        const std::uint16_t scale = Inverse(a[column * n + column]);
        for (std::size_t k = 0; k < n; ++k) {
            a[column * n + k] = Mul(a[column * n + k], scale);
            inverse[column * n + k] = Mul(inverse[column * n + k], scale);
        }
        for (std::size_t row = 0; row < n; ++row) {
            const std::uint16_t factor = a[row * n + column];
            if (row == column || factor == 0)
                continue;
            for (std::size_t k = 0; k < n; ++k) {
                a[row * n + k] ^= Mul(factor, a[column * n + k]);
                inverse[row * n + k] ^= Mul(factor, inverse[column * n + k]);
            }
        }
    }
    a = std::move(inverse);
    return true;
}

}  // namespace tessera::gf16

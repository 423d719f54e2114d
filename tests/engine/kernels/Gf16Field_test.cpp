#include "engine/kernels/Gf16Field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/kernels/Gf16.h"

namespace tessera {
namespace {

using namespace gf16;

// Multiplication by shifts and the polynomial, apart from the tables.
std::uint16_t SlowMul(std::uint16_t a, std::uint16_t b)
{
    std::uint32_t product = 0, x = a;
    for (int bit = 0; bit < 16; ++bit) {
        if (b & (1u << bit))
            product ^= x;
        x <<= 1;
        if (x & 0x10000)
            x ^= 0x1100B;
    }
    return static_cast<std::uint16_t>(product);
}

TEST(Gf16Field, ArithmeticAgreesWithShiftsAndThePolynomial)
{
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        const auto a = static_cast<std::uint16_t>(random()), b = static_cast<std::uint16_t>(random());
        ASSERT_EQ(Mul(a, b), SlowMul(a, b)) << a << " " << b;
        if (a != 0)
            ASSERT_EQ(Mul(a, Inverse(a)), 1) << a;
    }
    std::uint16_t power = 1;
    for (std::uint32_t n = 0; n < 40; ++n, power = SlowMul(power, 7))
        EXPECT_EQ(Pow(7, n), power) << n;
    // Powers in a row, past the logarithms' wrap at 65535, and of 0 and 1.
    std::vector<std::uint16_t> powers(70000);
    for (const std::uint16_t constant : {0, 1, 2, 7, 0x8000, 0xFFFF}) {
        Powers(constant, powers.size(), powers.data());
        std::uint16_t expected = 1;
        for (std::size_t n = 0; n < powers.size(); ++n, expected = SlowMul(expected, constant))
            ASSERT_EQ(powers[n], expected) << constant << "^" << n;
    }
    // The input constants: 2 to the powers 1, 2, 4, 7, 8, 11 (none a multiple
    // of 3, 5, 17 or 257).
    EXPECT_EQ(InputConstant(0), 2);
    EXPECT_EQ(InputConstant(1), 4);
    EXPECT_EQ(InputConstant(2), 16);
    EXPECT_EQ(InputConstant(3), 128);
    EXPECT_EQ(InputConstant(4), 256);
    EXPECT_EQ(InputConstant(5), 2048);
}

// A table of matrices, inverted and multiplied back; a singular one refused.
TEST(Gf16Field, InvertsMatricesAndRefusesSingularOnes)
{
    std::mt19937 random(11);
    for (std::size_t n : {1u, 2u, 3u, 5u, 8u}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint16_t> a(n * n);
            for (auto& v : a)
                v = static_cast<std::uint16_t>(random() % (round < 10 ? 4 : 65536));
            std::vector<std::uint16_t> inverse = a;
            if (!Invert(inverse, n)) {
                // Singular: some nonzero combination of the rows is zero, which
                // for n <= 2 is checked by brute force over every pair.
                if (n == 1)
                    EXPECT_EQ(a[0], 0);
                if (n == 2)
                    EXPECT_EQ(SlowMul(a[0], a[3]) ^ SlowMul(a[1], a[2]), 0);
                continue;
            }
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = 0; j < n; ++j) {
                    std::uint16_t sum = 0;
                    for (std::size_t k = 0; k < n; ++k)
                        sum ^= SlowMul(a[i * n + k], inverse[k * n + j]);
                    ASSERT_EQ(sum, i == j ? 1 : 0) << n << " " << i << " " << j;
                }
        }
    }
    std::vector<std::uint16_t> twice = {3, 9, 3, 9};
    EXPECT_FALSE(Invert(twice, 2));
}

// Recovery slices made by their definition, sum of c_i^e * D_i word by word;
// any m lost slices rebuilt from m of them.
TEST(Gf16Field, RebuildsLostSlicesFromRecoverySlices)
{
    std::mt19937 random(3);
    const std::size_t slices = 6, words = 8;
    std::vector<std::vector<std::uint8_t>> data(slices, std::vector<std::uint8_t>(2 * words));
    for (auto& d : data)
        for (auto& b : d)
            b = static_cast<std::uint8_t>(random());
    const std::vector<std::uint32_t> exponents = {0, 1, 5};
    std::vector<std::vector<std::uint8_t>> recovery(exponents.size(), std::vector<std::uint8_t>(2 * words, 0));
    for (std::size_t e = 0; e < exponents.size(); ++e)
        for (std::size_t i = 0; i < slices; ++i)
            for (std::size_t w = 0; w < words; ++w) {
                const std::uint16_t value = SlowMul(Pow(InputConstant(i), exponents[e]),
                                                    static_cast<std::uint16_t>(data[i][2 * w] | data[i][2 * w + 1] << 8));
                recovery[e][2 * w] ^= static_cast<std::uint8_t>(value);
                recovery[e][2 * w + 1] ^= static_cast<std::uint8_t>(value >> 8);
            }
    const std::vector<std::size_t> lost = {1, 2, 5};
    std::vector<std::uint16_t> matrix(9);
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t k = 0; k < 3; ++k)
            matrix[j * 3 + k] = Pow(InputConstant(lost[k]), exponents[j]);
    ASSERT_TRUE(Invert(matrix, 3));
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t i = 0; i < slices; ++i)
            if (std::find(lost.begin(), lost.end(), i) == lost.end())
                MulAddWords(Pow(InputConstant(i), exponents[j]), data[i].data(), recovery[j].data(), 2 * words);
    for (std::size_t k = 0; k < 3; ++k) {
        std::vector<std::uint8_t> rebuilt(2 * words, 0);
        for (std::size_t j = 0; j < 3; ++j)
            MulAddWords(matrix[k * 3 + j], recovery[j].data(), rebuilt.data(), 2 * words);
        EXPECT_EQ(rebuilt, data[lost[k]]) << lost[k];
    }
}

}  // namespace
}  // namespace tessera

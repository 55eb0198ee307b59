#include "signature/key_limits.h"

namespace {

// Number of significant bits of a big-endian magnitude.
unsigned bit_length(std::span<const uint8_t> number)
{
    size_t i = 0;
    while (i < number.size() && number[i] == 0)
        ++i;
    if (i == number.size())
        return 0;
    unsigned bits = unsigned(number.size() - i - 1) * 8;
    for (uint8_t top = number[i]; top != 0; top >>= 1)
        ++bits;
    return bits;
}

} // namespace

const char *signing_key_limit_violation(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent)
{
    unsigned bits = bit_length(modulus);
    if (bits < SIGNING_KEY_MIN_BITS || bits > SIGNING_KEY_MAX_BITS)
        return "the RSA modulus must have 2048 to 4096 bits";
    if ((modulus.back() & 1) == 0)
        return "the RSA modulus must be odd";
    unsigned exponent_bits = bit_length(exponent);
    if (exponent_bits == 0 || exponent_bits > SIGNING_KEY_MAX_EXPONENT_BITS)
        return "the RSA public exponent must have 1 to 32 bits";
    return nullptr;
}

#include "crypto/random/aes.h"

#include "crypto/common/bytes.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t xtime(uint8_t x)
{
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

// S-box of FIPS 197 section 5.1.1: multiplicative inverse in GF(2^8) followed by the affine
// transformation, computed at compile time. Inverses come from powers of the generator 3:
// if x = 3^k then x^-1 = 3^(255 - k).
constexpr std::array<uint8_t, 256> make_sbox()
{
    std::array<uint8_t, 256> exp{}, log{};
    uint8_t p = 1;
    for (int k = 0; k < 255; ++k) {
        exp[k] = p;
        log[p] = static_cast<uint8_t>(k);
        p = static_cast<uint8_t>(p ^ xtime(p)); // p * 3
    }
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; ++x) {
        uint8_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
        uint8_t r = 0x63;
        for (int i = 0; i < 5; ++i)
            r ^= static_cast<uint8_t>((inv << i) | (inv >> (8 - i)));
        s[x] = r;
    }
    return s;
}

constexpr std::array<uint8_t, 256> SBOX = make_sbox();
static_assert(SBOX[0x00] == 0x63 && SBOX[0x53] == 0xed && SBOX[0xff] == 0x16);

void sub_shift(uint8_t st[16])
{
    // State byte i sits at row i % 4, column i / 4; row r rotates left by r columns.
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * c + r] = SBOX[st[4 * ((c + r) % 4) + r]];
    std::memcpy(st, t, 16);
}

void mix_columns(uint8_t st[16])
{
    for (int c = 0; c < 4; ++c) {
        uint8_t *col = st + 4 * c;
        uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        col[0] = static_cast<uint8_t>(a0 ^ all ^ xtime(a0 ^ a1));
        col[1] = static_cast<uint8_t>(a1 ^ all ^ xtime(a1 ^ a2));
        col[2] = static_cast<uint8_t>(a2 ^ all ^ xtime(a2 ^ a3));
        col[3] = static_cast<uint8_t>(a3 ^ all ^ xtime(a3 ^ a0));
    }
}

void add_round_key(uint8_t st[16], const uint8_t *rk)
{
    for (int i = 0; i < 16; ++i)
        st[i] ^= rk[i];
}

} // namespace

MSTATUS AES_expandKey(AesKey *key, const uint8_t *keyBytes, uint32_t keyLength)
{
    if (!key || !keyBytes)
        return ERR_NULL_POINTER;
    secure_wipe(key, sizeof *key);
    if (keyLength != 16 && keyLength != 24 && keyLength != 32)
        return ERR_BAD_LENGTH;
    const uint32_t nk = keyLength / 4;
    key->rounds = nk + 6;
    const uint32_t words = 4 * (key->rounds + 1);
    uint8_t *w = key->roundKeys;
    std::memcpy(w, keyBytes, keyLength);
    uint8_t rcon = 1;
    for (uint32_t i = nk; i < words; ++i) {
        uint8_t t[4];
        std::memcpy(t, w + 4 * (i - 1), 4);
        if (i % nk == 0) {
            // RotWord, SubWord, Rcon
            uint8_t t0 = t[0];
            t[0] = static_cast<uint8_t>(SBOX[t[1]] ^ rcon);
            t[1] = SBOX[t[2]];
            t[2] = SBOX[t[3]];
            t[3] = SBOX[t0];
            rcon = xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            for (uint8_t &b : t)
                b = SBOX[b];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = static_cast<uint8_t>(w[4 * (i - nk) + j] ^ t[j]);
    }
    return OK;
}

MSTATUS AES_encryptBlock(const AesKey *key, const uint8_t *in, uint8_t *out)
{
    if (!key || !in || !out)
        return ERR_NULL_POINTER;
    if (key->rounds != 10 && key->rounds != 12 && key->rounds != 14)
        return ERR_BAD_LENGTH; // not an expanded key
    uint8_t st[16];
    std::memcpy(st, in, 16);
    add_round_key(st, key->roundKeys);
    for (uint32_t round = 1; round < key->rounds; ++round) {
        sub_shift(st);
        mix_columns(st);
        add_round_key(st, key->roundKeys + 16 * round);
    }
    sub_shift(st);
    add_round_key(st, key->roundKeys + 16 * key->rounds);
    std::memcpy(out, st, 16);
    secure_wipe(st, sizeof st);
    return OK;
}

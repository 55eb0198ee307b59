// The NIST CAVP RSASSA-PKCS1-v1_5 vectors through RSA_verifyDigestInfo: a record passes when
// the check returns 0 and the digest and hash id it finds are those of the message. SigVer15
// verdicts must match the expected P/F; every SigGen15 signature must pass. Skips cleanly
// when the shared vector folder is absent. Runs on the host and on the target.
#include "crypto/digest/hash.h"
#include "crypto/rsa/rsa.h"
#include "tests/unit/crypto/vector_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

struct HashName {
    const char *name;
    uint32_t id;
} constexpr HASHES[] = {{"SHA1", HASH_ID_SHA1},     {"SHA224", HASH_ID_SHA224}, {"SHA256", HASH_ID_SHA256},
                        {"SHA384", HASH_ID_SHA384}, {"SHA512", HASH_ID_SHA512}};

// Verifies one record; true when the signature is accepted for this message and hash.
bool verifies(const std::vector<uint8_t> &n, const std::string &eHex, const std::string &alg,
              const std::vector<uint8_t> &msg, const std::vector<uint8_t> &sig)
{
    uint32_t hashId = 0;
    for (const HashName &h : HASHES)
        if (alg == h.name)
            hashId = h.id;
    EXPECT_NE(0u, hashId) << alg;

    std::vector<uint8_t> e = hexBytes(eHex);
    while (!e.empty() && e[0] == 0)
        e.erase(e.begin());
    RSAKey *key = nullptr;
    EXPECT_EQ(OK, RSA_createKey(&key));
    uint32_t exponent = 0;
    for (size_t i = 0; i < e.size() && i < 4; ++i)
        exponent = (exponent << 8) | e[i];
    EXPECT_EQ(OK, RSA_setPublicKey(key, exponent < 2 ? 3 : exponent, n.data(), uint32_t(n.size()), nullptr));
    if (e.size() > 4 || exponent < 2) {
        // An exponent this check cannot take: install it as it is, the check must refuse it.
        VLONG_freeVlong(&key->e, nullptr);
        EXPECT_EQ(OK, VLONG_vlongFromByteString(e.data(), int32_t(e.size()), &key->e, nullptr));
    }

    uint8_t found[64], wanted[64];
    uint32_t foundLength = 0, wantedLength = 0;
    int32_t foundId = 0;
    MSTATUS st = RSA_verifyDigestInfo(key, sig.data(), uint32_t(sig.size()), found, &foundLength, &foundId);
    RSA_freeKey(&key, nullptr);
    EXPECT_EQ(OK, HASH_computeDigest(msg.data(), uint32_t(msg.size()), wanted, &wantedLength, hashId));
    return st == OK && foundId == int32_t(hashId) && foundLength == wantedLength &&
           std::memcmp(found, wanted, wantedLength) == 0;
}

struct Tally {
    int pass = 0, fail = 0;
};

// Runs every signature record of a file; expectAllPass when records carry no Result.
Tally runFile(const std::string &relative, bool expectAllPass)
{
    Tally tally;
    auto records = read_vector_file(shared_vector_path(relative));
    if (!records) {
        ADD_FAILURE() << "cannot read " << relative;
        return tally;
    }
    std::vector<uint8_t> n;
    std::string blockE;
    for (const VectorRecord &r : *records) {
        if (const std::string *nv = r.get("n"))
            n = hexBytes(*nv);
        if (const std::string *ev = r.get("e"))
            blockE = *ev; // SigGen15 gives e only with the first record of a block
        const std::string *alg = r.get("SHAAlg"), *msg = r.get("Msg"), *sig = r.get("S");
        if (!alg || !msg || !sig)
            continue;
        bool accepted = verifies(n, blockE, *alg, hexBytes(*msg), hexBytes(*sig));
        const std::string *result = r.get("Result");
        bool expected = expectAllPass || (result && !result->empty() && (*result)[0] == 'P');
        EXPECT_EQ(expected, accepted) << relative << ": " << *alg << " modulus of " << n.size() << " bytes, "
                                      << (result ? *result : std::string("(SigGen)")) << "\nS = " << *sig;
        (accepted ? tally.pass : tally.fail)++;
    }
    return tally;
}

// SigVer15 verdicts must match (pass/fail counts as published); every SigGen15 signature passes.
TEST(RsaCavp, SigVer15AndSigGen15Files)
{
    if (!std::filesystem::exists(shared_vector_path("rsa-cavp")))
        GTEST_SKIP() << "no rsa-cavp vectors beside the project";
    const struct {
        const char *file;
        bool allPass;
        int pass, fail;
    } files[] = {
        {"rsa-cavp/186-3rsatestvectors/SigVer15_186-3.rsp", false, 45, 225},
        {"rsa-cavp/186-2rsatestvectors/SigVer15_186-3.rsp", false, 75, 375},
        {"rsa-cavp/186-3rsatestvectors/SigGen15_186-3.rsp", true, 150, 0},
    };
    for (const auto &f : files) {
        Tally t = runFile(f.file, f.allPass);
        EXPECT_EQ(f.pass, t.pass) << f.file;
        EXPECT_EQ(f.fail, t.fail) << f.file;
    }
}

} // namespace

// The cryptographic provider (see crypto.h) and the secure random source.
#include "platform/windows/crypto.h"

#include "platform/platform.h"

namespace mox::platform {

namespace windows {

HCRYPTPROV crypto_provider() {
    static HCRYPTPROV provider = 0;
    // A verify context needs no key container; the AES provider also
    // offers the SHA-2 digests and HMAC.
    if (!provider &&
        !CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        provider = 0;
    }
    return provider;
}

} // namespace windows

bool secure_random(void* buffer, size_t count) {
    HCRYPTPROV provider = windows::crypto_provider();
    if (!provider) return false;
    auto p = static_cast<BYTE*>(buffer);
    while (count) {
        DWORD chunk = count > 0x10000000 ? 0x10000000 : static_cast<DWORD>(count);
        if (!CryptGenRandom(provider, chunk, p)) return false;
        p += chunk;
        count -= chunk;
    }
    return true;
}

bool digest(DigestAlgorithm algorithm, const ByteSpan* spans, int count, uint8_t* out) {
    static const struct {
        ALG_ID id;
        DWORD size;
    } algorithms[] = {
        {CALG_MD5, 16}, {CALG_SHA1, 20}, {CALG_SHA_256, 32}, {CALG_SHA_384, 48}, {CALG_SHA_512, 64},
    };
    const auto& alg = algorithms[algorithm - DIGEST_MD5];
    HCRYPTPROV provider = windows::crypto_provider();
    HCRYPTHASH hash = 0;
    if (!provider || !CryptCreateHash(provider, alg.id, 0, 0, &hash)) return false;
    bool ok = true;
    for (int i = 0; ok && i < count; i++) {
        auto p = static_cast<const BYTE*>(spans[i].data);
        size_t left = spans[i].count;
        while (ok && left) {
            DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
            ok = CryptHashData(hash, p, chunk, 0) != 0;
            p += chunk;
            left -= chunk;
        }
    }
    // The size written must be the digest's own: anything else leaves out
    // partly unset.
    DWORD size = alg.size;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == alg.size;
    CryptDestroyHash(hash);
    return ok;
}

} // namespace mox::platform

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

} // namespace mox::platform

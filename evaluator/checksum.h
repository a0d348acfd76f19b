// Checksums and digests behind the checksum native and the compression
// framings: CRC-32, Adler-32, the 16-bit Internet checksum, the MD5 and SHA
// digests (through the platform's cryptographic service) and their HMACs.
// The method words are interned once by init and compared by symbol.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::checksum {

// Method ids of the digests; tcp and crc32 have ids too, adler32 and hash
// have none.
enum MethodId : int32_t {
    ID_TCP = 0,
    ID_CRC32 = 1,
    ID_MD5 = 2,
    ID_SHA1 = 3,
    ID_SHA256 = 4,
    ID_SHA384 = 5,
    ID_SHA512 = 6,
    ID_NONE = -1,
};

// The largest digest, and so the size of every digest buffer.
constexpr size_t DIGEST_BUFFER = 64;

// Symbols of the nine method words, set by init.
extern uint32_t sym_tcp, sym_md5, sym_sha1, sym_crc32, sym_adler32, sym_sha256, sym_sha384,
    sym_sha512, sym_hash;

// Interns the method words.
void init();

// True for a symbol (any alias) of one of the nine method words.
bool method_q(uint32_t symbol);
// The id of a method symbol; ID_NONE for adler32, hash and non-methods.
int32_t method_id(uint32_t symbol);
// Bytes of the digest of an id; 0 for ids that are not digests.
size_t digest_size(int32_t id);

uint32_t crc32(const uint8_t* bytes, size_t length);
// Continues a CRC-32 over more bytes: crc32_update(crc32(a), b) is the CRC
// of a followed by b.
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);
uint32_t adler32(const uint8_t* bytes, size_t length);
uint16_t tcp(const uint8_t* bytes, size_t length);

// The digest of id (2..6) into out (DIGEST_BUFFER bytes); the first
// digest_size(id) bytes are the result. Another id raises invalid-arg; a
// failure of the platform's service raises an error rather than leaving out
// unset.
void digest(const uint8_t* bytes, size_t length, int32_t id, uint8_t* out);

// The HMAC (RFC 2104) of data under key with digest id (2..6) into out.
void hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t id,
          uint8_t* out);

// The /hash refinement's placeholder: prints its notice and gives 0.
int32_t hash();

} // namespace mox::checksum

// Deflate (RFC 1951) with its zlib (RFC 1950) and gzip (RFC 1952)
// framings, on caller-owned memory, behind the compress and decompress
// natives.
//
// Every operation takes an output pointer, an in/out size (on entry the
// output's capacity, on return the bytes produced or needed) and the input.
// None allocates output: when the output is too small an operation still runs
// to the end, writes nothing past the capacity and answers TOO_SMALL with the
// exact size needed, so a caller can allocate once and call again. A null
// output with capacity 0 measures.
//
// The decoders trust nothing in their input: sizes claimed by a stream are
// checked against what it decodes to, malformed code tables are rejected,
// and no byte outside the two buffers is read or written.
#pragma once

#include <cstdint>

namespace mox::deflate {

enum Result : int32_t {
    OK = 0,
    TOO_SMALL = 1,      // *size holds the bytes needed
    BAD_DATA = 2,       // framing, checksum, size or code-table failure
    STORED_OVERRUN = 3, // a stored block claims more bytes than remain
    BAD_BLOCK_TYPE = 4, // block type 3
    BAD_DISTANCE = 5,   // a match reaches before the first output byte
};

// Method symbols of compress and decompress, set by init.
extern uint32_t sym_zlib, sym_deflate, sym_gzip;

// Interns the method words zlib, deflate and gzip.
void init();

// Raw deflate. Results OK or TOO_SMALL.
int32_t compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);
// Raw inflate. Input that ends before a final block has been closed is not
// an error: the bytes decoded so far are the result.
int32_t decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);

// zlib framing: the header 78 01, raw deflate, the big-endian Adler-32. A
// capacity below the 6 framing bytes answers BAD_DATA with the size needed.
int32_t zlib_compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);
// Checks the header (method 8, window at most 32 KiB, check bits, no preset
// dictionary) and the Adler-32 of the output.
int32_t zlib_decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);

// gzip framing: a 10-byte header without a name or time, raw deflate, the
// little-endian CRC-32 and length. A capacity below the 18 framing bytes
// answers BAD_DATA with the size needed.
int32_t gzip_compress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);
// Reads one member: skips the optional header fields (checking the header
// CRC when present), inflates, and checks the trailer's length and CRC-32.
// When the trailer's length exceeds the capacity the stream is decoded
// without output first, and only a length that matches what it decodes to is
// reported as the size needed.
int32_t gzip_decompress(uint8_t* out, int32_t* size, const uint8_t* in, int32_t len);

} // namespace mox::deflate

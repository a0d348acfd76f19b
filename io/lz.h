// The LZ bit coder: an LZ77 compressor and decompressor for whole in-memory
// buffers, with fixed prefix codes, a 256 KiB window and blocks of at most
// 1 MiB. Moxbin documents with a compressed body are read through it.
//
// Compressed buffer (32-bit little-endian words): payload length, then the
// uncompressed length, then the blocks; each block is its uncompressed
// length word followed by a bit stream padded to a byte boundary.
//
// The decoder trusts nothing: every read stays inside the given length, a
// block's bit stream may not run past the payload, the blocks must add up
// to the uncompressed length exactly, and an uncompressed length the payload
// could never expand to is refused before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::lz {

constexpr uint32_t BLOCK_MAX = 1048576;
constexpr uint32_t MATCH_MAX = 566;
constexpr uint32_t WINDOW = 262144;
constexpr int32_t INPUT_MIN = 128;

// Decodes length bytes of compressed data. Returns a tracked buffer of the
// uncompressed bytes (capacity uncompressed length + 8) and stores their
// count in *size_out when given; null on corrupt or truncated data. Free the
// result with free_buffer.
uint8_t* decompress(const uint8_t* data, size_t length, uint32_t* size_out);
void free_buffer(uint8_t* buffer);

// Compresses length bytes into destination, which holds at least length
// bytes. Returns the compressed size with its 8-byte header, or -1 when the
// input is shorter than 128 bytes or the result would not be smaller than
// the input. Not reentrant.
int32_t compress(const uint8_t* source, int32_t length, uint8_t* destination);

} // namespace mox::lz

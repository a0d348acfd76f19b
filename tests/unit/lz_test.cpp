// Tests of the LZ bit coder: the format's fixed points (refused short input,
// a run of one byte, block boundaries, the longest match, the far 3-byte
// match rule), round trips over text and binary data, a reader written in
// Python from the format's code tables decoding our output, and corrupt or
// truncated buffers giving null without reading past them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "io/lz.h"

namespace mox {
namespace {

using Bytes = std::vector<uint8_t>;

// Compressed form, or empty when refused.
Bytes pack(const Bytes& in) {
    Bytes out(in.size());
    int32_t n = lz::compress(in.data(), int32_t(in.size()), out.data());
    if (n < 0) return {};
    out.resize(size_t(n));
    return out;
}

// Decompresses from a buffer of exactly the given bytes, so that the
// sanitizer sees any read past them; false on null.
bool unpack(const Bytes& in, Bytes* out) {
    auto* copy = new uint8_t[in.size() ? in.size() : 1];
    std::copy(in.begin(), in.end(), copy);
    uint32_t size = 0;
    uint8_t* r = lz::decompress(copy, in.size(), &size);
    delete[] copy;
    if (!r) return false;
    out->assign(r, r + size);
    lz::free_buffer(r);
    return true;
}

uint32_t word(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

Bytes text_corpus(size_t n) {
    static const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ",      "[block] ",
                                  "word: ", "1234 ", "#issue ", "\"string\" ", "func [x] "};
    std::mt19937 rng(7);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % 10];
        b.insert(b.end(), w, w + strlen(w));
    }
    b.resize(n);
    return b;
}

Bytes random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = uint8_t(rng() % alphabet);
    return b;
}

// The symbols of a one-block buffer as (length, distance) pairs, a literal
// being (1, 0): a second reading of the code table, to see which choices the
// compressor made.
std::vector<std::pair<uint32_t, uint32_t>> symbols(const Bytes& p) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    size_t at = 12;
    uint64_t acc = 0;
    int n = 0;
    auto take = [&](int w) {
        while (n < w) acc |= uint64_t(p.at(at++)) << n, n += 8;
        uint32_t v = uint32_t(acc & ((1u << w) - 1));
        acc >>= w, n -= w;
        return v;
    };
    uint32_t produced = 0, block = word(p, 8);
    while (produced < block) {
        if (take(1) == 0) {
            take(8);
            out.push_back({1, 0});
            produced++;
            continue;
        }
        static const int widths[] = {2, 2, 2, 3, 5}, bases[] = {0, 4, 8, 12, 20};
        uint32_t length = 0;
        int code = 0;
        while (code < 5 && take(1) == 0) code++;
        length = code < 5 ? 3 + bases[code] + take(widths[code]) : 55 + take(9);
        uint32_t j = take(4) + 2;
        uint32_t d = j == 2 ? take(3) : (1u << j) + take(j);
        out.push_back({length, d + 1});
        produced += length;
    }
    return out;
}

TEST(Lz, ShortInputIsRefused) {
    EXPECT_TRUE(pack(Bytes(127, 'a')).empty());
    EXPECT_FALSE(pack(Bytes(128, 'a')).empty());
}

TEST(Lz, RunOfOneByteIsALiteralAndOneMatch) {
    Bytes p = pack(Bytes(128, 'a'));
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(word(p, 0), 8u);   // payload: length word and 4 bytes of bits
    EXPECT_EQ(word(p, 4), 128u); // uncompressed
    EXPECT_EQ(word(p, 8), 128u); // one block
    // Literal 'a' (0, then 0x61 LSB first), match 1, length 124 = 52 + 72 as
    // 00000 and 9 bits, distance 1 as k = 0 and 3 bits of 0: 31 bits.
    uint64_t bits = 0;
    int n = 0;
    auto put = [&](uint64_t v, int w) { bits |= v << n, n += w; };
    put(0, 1), put('a', 8), put(1, 1), put(0, 5), put(72, 9), put(0, 4), put(0, 3);
    EXPECT_EQ(n, 31);
    EXPECT_EQ(word(p, 12), uint32_t(bits));
}

TEST(Lz, BlockBoundaries) {
    for (size_t n : {size_t(1048576), size_t(1048577)}) {
        Bytes in = text_corpus(n);
        Bytes p = pack(in);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(word(p, 8), 1048576u);
        // Walk the blocks: the decoder's own boundaries must agree.
        Bytes out;
        ASSERT_TRUE(unpack(p, &out));
        EXPECT_EQ(out, in);
        if (n == 1048577) {
            // The second block is one byte: its length word, then the
            // literal's 9 bits in two bytes.
            EXPECT_EQ(word(p, p.size() - 6), 1u);
        }
    }
}

TEST(Lz, LongRunUsesMatchesOfAtMost566) {
    Bytes in(1001, 'z');
    Bytes p = pack(in);
    ASSERT_FALSE(p.empty());
    auto syms = symbols(p);
    ASSERT_EQ(syms.size(), 3u);
    EXPECT_EQ(syms[0], std::make_pair(1u, 0u));
    EXPECT_EQ(syms[1], std::make_pair(566u, 1u));
    EXPECT_EQ(syms[2], std::make_pair(434u, 1u));
    Bytes out;
    ASSERT_TRUE(unpack(p, &out));
    EXPECT_EQ(out, in);
}

// "XYZ" at 0 and again at the given distance, zeros between and after: the
// only candidate for the second "XYZ" is exactly 3 bytes long.
Bytes far_triple(uint32_t distance) {
    Bytes in(distance + 300, 0);
    in[0] = 'X', in[1] = 'Y', in[2] = 'Z';
    in[distance] = 'X', in[distance + 1] = 'Y', in[distance + 2] = 'Z', in[distance + 3] = 'Q';
    return in;
}

TEST(Lz, FarThreeByteMatchIsDropped) {
    for (uint32_t distance : {65536u, 65537u}) {
        Bytes in = far_triple(distance);
        Bytes p = pack(in);
        ASSERT_FALSE(p.empty());
        auto syms = symbols(p);
        bool used = false;
        for (auto& s : syms) used |= s.first == 3 && s.second == distance;
        EXPECT_EQ(used, distance == 65536) << distance;
        Bytes out;
        ASSERT_TRUE(unpack(p, &out));
        EXPECT_EQ(out, in);
    }
}

TEST(Lz, RoundTripsTextAndBinary) {
    std::vector<Bytes> inputs = {text_corpus(128), text_corpus(5000), text_corpus(300000),
                                 random_bytes(4000, 3, 4), random_bytes(200000, 5, 16)};
    Bytes mixed = text_corpus(70000);
    Bytes noise = random_bytes(70000, 11);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), mixed.begin(), mixed.begin() + 60000);
    inputs.push_back(mixed);
    for (const auto& in : inputs) {
        Bytes p = pack(in);
        ASSERT_FALSE(p.empty()) << in.size();
        EXPECT_LT(p.size(), in.size());
        Bytes out;
        ASSERT_TRUE(unpack(p, &out));
        EXPECT_EQ(out, in);
        EXPECT_EQ(pack(in), p) << "compression must be reproducible";
    }
    // Incompressible input is refused rather than expanded.
    EXPECT_TRUE(pack(random_bytes(10000, 13)).empty());
}

TEST(Lz, EmptyPayloadDecodesToNothing) {
    Bytes in(8, 0), out{1};
    ASSERT_TRUE(unpack(in, &out));
    EXPECT_TRUE(out.empty());
}

TEST(Lz, CorruptBuffersGiveNull) {
    Bytes good = pack(text_corpus(3000));
    auto with_word = [&](size_t at, uint32_t v) {
        Bytes b = good;
        b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8), b[at + 2] = uint8_t(v >> 16),
        b[at + 3] = uint8_t(v >> 24);
        return b;
    };
    Bytes out;
    struct Case {
        const char* what;
        Bytes data;
    } cases[] = {
        {"block length 0", with_word(8, 0)},
        {"block length above 1 MiB", with_word(8, 1048577)},
        {"blocks short of the total", with_word(4, 3001)},
        {"total short of the blocks", with_word(4, 2999)},
        {"payload longer than the buffer", with_word(0, word(good, 0) + 1)},
        {"payload shorter than the stream", with_word(0, word(good, 0) - 1)},
        {"total beyond what the payload can give", with_word(4, 0x7FFFFFFF)},
        {"truncated", Bytes(good.begin(), good.end() - 1)},
        {"header only", Bytes(good.begin(), good.begin() + 7)},
        {"empty", Bytes()},
    };
    for (auto& c : cases) EXPECT_FALSE(unpack(c.data, &out)) << c.what;
    // A match reaching before the block's start: a match as the first symbol.
    Bytes early = {6, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0x03, 0x00};
    EXPECT_FALSE(unpack(early, &out));
    // Every single-byte truncation and bit flip: null or some output, never
    // a read past the buffer (the sanitizer build checks that).
    for (size_t i = 0; i < good.size(); i += 7) {
        Bytes b = good;
        b[i] ^= 0x5A;
        unpack(b, &out);
        unpack(Bytes(good.begin(), good.begin() + i), &out);
    }
}

#ifndef _WIN32
TEST(Lz, PythonReaderDecodesOurOutput) {
    if (std::system("python3 -c 'import struct' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    std::vector<Bytes> inputs = {Bytes(128, 'a'), Bytes(1001, 'z'), text_corpus(40000),
                                 random_bytes(60000, 17, 8), text_corpus(1048577)};
    for (const auto& in : inputs) {
        Bytes p = pack(in);
        ASSERT_FALSE(p.empty());
        std::string path = testing::TempDir() + "mox-lz-" + std::to_string(getpid()) + ".bin";
        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(p.data()), std::streamsize(p.size()));
        }
        std::string cmd =
            std::string("python3 ") + MOX_SOURCE_DIR + "/tests/unit/lz_reader.py < " + path;
        FILE* pipe = popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        Bytes got;
        uint8_t buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) got.insert(got.end(), buf, buf + n);
        EXPECT_EQ(pclose(pipe), 0);
        std::remove(path.c_str());
        EXPECT_EQ(got, in) << in.size();
    }
}
#endif

} // namespace
} // namespace mox

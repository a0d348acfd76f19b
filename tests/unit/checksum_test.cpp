// Tests of the checksums, digests and HMAC against Python's zlib, hashlib and
// hmac (vectors made at build time by checksum_oracle.py, so the Windows
// build under Wine, which digests through CryptoAPI, reads the same files).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/symbol.h"
#include "evaluator/checksum.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing oracle file " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string vectors(const std::string& file) {
    return std::string(MOX_CHECKSUM_VECTORS_DIR) + "/" + file;
}

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; i++) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

const int32_t digest_ids[] = {checksum::ID_MD5, checksum::ID_SHA1, checksum::ID_SHA256,
                              checksum::ID_SHA384, checksum::ID_SHA512};

class Checksum : public test::RuntimeTest {};

TEST(ChecksumPlain, PublishedValues) {
    const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
    const auto* abc = reinterpret_cast<const uint8_t*>("abc");
    EXPECT_EQ(checksum::crc32(digits, 9), 0xCBF43926u);
    EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
    EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
    EXPECT_EQ(checksum::adler32(abc, 3), 0x024D0127u);
    // An odd last byte is the low-order byte of its 16-bit word.
    const uint8_t odd[] = {0x12, 0x34, 0x56};
    EXPECT_EQ(checksum::tcp(odd, 3), static_cast<uint16_t>(~(0x1234 + 0x0056)));
    EXPECT_EQ(checksum::tcp(nullptr, 0), 0xFFFF);
}

TEST(ChecksumPlain, CrcOfEveryShortLengthMatchesTheBitwiseDefinition) {
    // Lengths around the 16- and 64-byte steps of the folding path, at
    // every alignment of the first byte.
    Bytes data = read_file(vectors("random.bin"));
    for (size_t offset = 0; offset < 8; offset++) {
        for (size_t n = 0; n <= 300; n++) {
            uint32_t c = 0xFFFFFFFF;
            for (size_t i = 0; i < n; i++) {
                c ^= data[offset + i];
                for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            }
            ASSERT_EQ(checksum::crc32(data.data() + offset, n), ~c) << offset << " " << n;
        }
    }
}

TEST(ChecksumPlain, CrcContinuesAcrossPieces) {
    Bytes data = read_file(vectors("random.bin"));
    const uint32_t whole = checksum::crc32(data.data(), data.size());
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(4097), data.size()}) {
        uint32_t c = checksum::crc32(data.data(), cut);
        EXPECT_EQ(checksum::crc32_update(c, data.data() + cut, data.size() - cut), whole) << cut;
    }
}

TEST_F(Checksum, MatchesPythonZlibAndHashlib) {
    std::ifstream list(vectors("checksums.txt"));
    ASSERT_TRUE(list.good());
    std::string line;
    int inputs = 0;
    while (std::getline(list, line)) {
        std::istringstream row(line);
        std::string name;
        row >> name;
        if (name == "hmac") continue;
        uint32_t crc, adler, tcp;
        row >> crc >> adler >> tcp;
        Bytes data = read_file(vectors(name + ".bin"));
        EXPECT_EQ(checksum::crc32(data.data(), data.size()), crc) << name;
        EXPECT_EQ(checksum::adler32(data.data(), data.size()), adler) << name;
        EXPECT_EQ(checksum::tcp(data.data(), data.size()), tcp) << name;
        for (int32_t id : digest_ids) {
            std::string expected;
            row >> expected;
            uint8_t out[checksum::DIGEST_BUFFER];
            EXPECT_MOX_OK(checksum::digest(data.data(), data.size(), id, out));
            EXPECT_EQ(hex(out, checksum::digest_size(id)), expected) << name << " id " << id;
        }
        inputs++;
    }
    EXPECT_GT(inputs, 0);
}

TEST_F(Checksum, HmacMatchesPythonHmac) {
    std::ifstream list(vectors("checksums.txt"));
    ASSERT_TRUE(list.good());
    std::string line;
    int rows = 0;
    while (std::getline(list, line)) {
        std::istringstream row(line);
        std::string tag, name, key_name;
        row >> tag;
        if (tag != "hmac") continue;
        row >> name >> key_name;
        Bytes data = read_file(vectors(name + ".bin"));
        Bytes key = read_file(vectors("key-" + key_name + ".bin"));
        for (int32_t id : digest_ids) {
            std::string expected;
            row >> expected;
            uint8_t out[checksum::DIGEST_BUFFER];
            EXPECT_MOX_OK(
                checksum::hmac(data.data(), data.size(), key.data(), key.size(), id, out));
            EXPECT_EQ(hex(out, checksum::digest_size(id)), expected)
                << name << " key " << key_name << " id " << id;
        }
        rows++;
    }
    EXPECT_GT(rows, 0);
}

TEST_F(Checksum, DigestOfANonDigestIdIsAnError) {
    uint8_t out[checksum::DIGEST_BUFFER];
    for (int32_t id :
         {int32_t(checksum::ID_TCP), int32_t(checksum::ID_CRC32), int32_t(7), int32_t(-1)})
        EXPECT_MOX_ERROR(err::invalid_arg, checksum::digest(nullptr, 0, id, out)) << id;
}

TEST_F(Checksum, MethodWords) {
    struct Row {
        const char* word;
        bool method;
        int32_t id;
        size_t size;
    } rows[] = {
        {"tcp", true, checksum::ID_TCP, 0},        {"crc32", true, checksum::ID_CRC32, 0},
        {"md5", true, checksum::ID_MD5, 16},       {"sha1", true, checksum::ID_SHA1, 20},
        {"SHA256", true, checksum::ID_SHA256, 32}, {"sha384", true, checksum::ID_SHA384, 48},
        {"Sha512", true, checksum::ID_SHA512, 64}, {"adler32", true, checksum::ID_NONE, 0},
        {"hash", true, checksum::ID_NONE, 0},      {"sha3", false, checksum::ID_NONE, 0},
    };
    for (const auto& row : rows) {
        uint32_t sym = symbol::make(row.word);
        EXPECT_EQ(checksum::method_q(sym), row.method) << row.word;
        EXPECT_EQ(checksum::method_id(sym), row.id) << row.word;
        EXPECT_EQ(checksum::digest_size(row.id), row.size) << row.word;
    }
}

} // namespace
} // namespace mox

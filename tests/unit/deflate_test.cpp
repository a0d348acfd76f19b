// Tests of deflate and inflate with their zlib and gzip framings: streams made
// by zlib at every level, by Python's gzip and by the gzip command decode to
// their originals (deflate_oracle.py writes them at build time); our output
// decodes with Python's zlib and the gzip command (native build); the
// size protocol; and hand-made malformed streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "evaluator/checksum.h"
#include "io/deflate.h"

namespace mox {
namespace {

using Bytes = std::vector<uint8_t>;
using Op = int32_t (*)(uint8_t*, int32_t*, const uint8_t*, int32_t);

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing oracle file " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string vectors(const std::string& file) {
    return std::string(MOX_DEFLATE_VECTORS_DIR) + "/" + file;
}

struct Framing {
    const char* name;
    Op compress;
    Op decompress;
} framings[] = {
    {"raw", deflate::compress, deflate::decompress},
    {"zlib", deflate::zlib_compress, deflate::zlib_decompress},
    {"gzip", deflate::gzip_compress, deflate::gzip_decompress},
};

const Framing& framing(const std::string& name) {
    for (const auto& f : framings)
        if (name == f.name) return f;
    return framings[0];
}

// Runs a decompressor the way the natives do: measure, then call with the
// size needed. Returns the result; out receives the bytes.
int32_t run(Op op, const Bytes& in, Bytes* out) {
    int32_t size = 0;
    int32_t result = op(nullptr, &size, in.data(), static_cast<int32_t>(in.size()));
    if (result == deflate::TOO_SMALL || result == deflate::OK) {
        out->assign(size + 1, 0xA5);
        result = op(out->data(), &size, in.data(), static_cast<int32_t>(in.size()));
        EXPECT_EQ(out->back(), 0xA5) << "wrote past the size it reported";
        out->resize(result == deflate::OK ? size : 0);
    }
    return result;
}

// Compresses with the capacity the natives give first.
Bytes compress(const Framing& f, const Bytes& in) {
    Bytes out(in.size() + (in.size() >> 11) + 32);
    int32_t size = static_cast<int32_t>(out.size());
    EXPECT_EQ(f.compress(out.data(), &size, in.data(), static_cast<int32_t>(in.size())),
              deflate::OK);
    out.resize(size);
    return out;
}

std::vector<std::string> corpus_names() {
    return {"empty", "one", "text", "random", "zeros", "skewed", "big", "magic"};
}

// ---------------------------------------------------------------------------
// Fixed outputs and round trips
// ---------------------------------------------------------------------------

TEST(Deflate, EmptyInput) {
    const Bytes empty;
    EXPECT_EQ(compress(framings[0], empty), (Bytes{0x03, 0x00}));
    EXPECT_EQ(compress(framings[1], empty), (Bytes{0x78, 0x01, 0x03, 0x00, 0, 0, 0, 1}));
    EXPECT_EQ(compress(framings[2], empty),
              (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Deflate, OracleStreamsInflate) {
    std::ifstream list(vectors("streams.txt"));
    ASSERT_TRUE(list.good());
    std::string line;
    int streams = 0;
    while (std::getline(list, line)) {
        std::istringstream row(line);
        std::string corpus, file, kind;
        row >> corpus >> file >> kind;
        Bytes original = read_file(vectors(corpus + ".bin"));
        Bytes stream = read_file(vectors(file));
        Bytes out;
        EXPECT_EQ(run(framing(kind).decompress, stream, &out), deflate::OK) << file;
        EXPECT_TRUE(out == original) << file;
        streams++;
    }
    EXPECT_GT(streams, 100);
}

TEST(Deflate, RoundTripsEveryFraming) {
    for (const auto& name : corpus_names()) {
        Bytes original = read_file(vectors(name + ".bin"));
        for (const auto& f : framings) {
            Bytes packed = compress(f, original);
            Bytes unpacked;
            EXPECT_EQ(run(f.decompress, packed, &unpacked), deflate::OK) << name << " " << f.name;
            EXPECT_TRUE(unpacked == original) << name << " " << f.name;
        }
    }
}

TEST(Deflate, GzipOfDataThatLooksLikeGzipIsCompressed) {
    Bytes original = read_file(vectors("magic.bin"));
    ASSERT_EQ(original[0], 0x1F);
    Bytes packed = compress(framings[2], original);
    EXPECT_NE(packed, original);
    Bytes unpacked;
    EXPECT_EQ(run(deflate::gzip_decompress, packed, &unpacked), deflate::OK);
    EXPECT_TRUE(unpacked == original);
}

TEST(Deflate, OutputTooSmallReportsTheExactSize) {
    Bytes original = read_file(vectors("text.bin"));
    original.resize(20000);
    for (const auto& f : framings) {
        Bytes packed = compress(f, original);
        // Compressing and inflating into every short capacity: the size is
        // always the full one, nothing is written past the capacity, and
        // what was written is the start of the full result.
        for (const auto& [op, in, full] : {std::tuple{f.compress, original, packed},
                                           std::tuple{f.decompress, packed, original}}) {
            for (int32_t cap : {0, 1, 17, 18, int32_t(full.size() / 2), int32_t(full.size() - 1)}) {
                Bytes out(cap + 16, 0xA5);
                int32_t size = cap;
                int32_t result = op(out.data(), &size, in.data(), static_cast<int32_t>(in.size()));
                bool framed_short = f.compress == op && f.compress != deflate::compress &&
                                    cap < (f.compress == deflate::zlib_compress ? 6 : 18);
                if (framed_short) {
                    EXPECT_EQ(result, deflate::BAD_DATA) << f.name << " cap " << cap;
                    EXPECT_EQ(size,
                              int32_t(in.size()) + (f.compress == deflate::zlib_compress ? 6 : 18));
                    continue;
                }
                EXPECT_EQ(result, deflate::TOO_SMALL) << f.name << " cap " << cap;
                EXPECT_EQ(size, int32_t(full.size())) << f.name << " cap " << cap;
                for (int32_t i = cap; i < cap + 16; i++)
                    ASSERT_EQ(out[i], 0xA5) << f.name << " cap " << cap;
                if (f.decompress == op && f.decompress == deflate::decompress) {
                    EXPECT_TRUE(std::equal(out.begin(), out.begin() + cap, full.begin())) << cap;
                }
            }
        }
    }
}

// The native build can ask real zlib and the gzip command to read our output.
#ifndef _WIN32
void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The command's output for the file at path as its standard input, or none
// when it fails.
bool tool_output(const std::string& command, const std::string& path, std::string& out) {
    FILE* pipe = popen((command + " < " + path).c_str(), "r");
    if (!pipe) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    return pclose(pipe) == 0;
}

TEST(Deflate, RealZlibAndGzipReadOurOutput) {
    if (std::system("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    // Every stream goes to a file first and one Python process reads them
    // all: starting Python costs more than decoding.
    std::string dir = testing::TempDir() + "mox-deflate-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    for (const auto& name : corpus_names()) {
        Bytes original = read_file(vectors(name + ".bin"));
        write_file(dir + "/" + name + ".raw", compress(framings[0], original));
        write_file(dir + "/" + name + ".zlib", compress(framings[1], original));
        write_file(dir + "/" + name + ".gz", compress(framings[2], original));
        std::string gunzipped;
        EXPECT_TRUE(tool_output("gzip -dc", dir + "/" + name + ".gz", gunzipped) &&
                    Bytes(gunzipped.begin(), gunzipped.end()) == original)
            << "gzip -dc: " << name;
    }
    // Prints "NAME FRAMING" for every stream that decodes to its original.
    std::string names;
    for (const auto& name : corpus_names()) names += " " + name;
    std::string script = "python3 -c 'import sys,zlib,gzip\n"
                         "d, v = sys.argv[1], sys.argv[2]\n"
                         "for n in sys.argv[3:]:\n"
                         "  o = open(v + \"/\" + n + \".bin\", \"rb\").read()\n"
                         "  r = lambda s: open(d + \"/\" + n + s, \"rb\").read()\n"
                         "  if zlib.decompress(r(\".raw\"), -15) == o: print(n, \"raw\")\n"
                         "  if zlib.decompress(r(\".zlib\"), 15) == o: print(n, \"zlib\")\n"
                         "  if gzip.decompress(r(\".gz\")) == o: print(n, \"gzip\")\n"
                         "' " +
                         dir + " " + vectors("") + names;
    std::string decoded;
    EXPECT_TRUE(tool_output(script, "/dev/null", decoded));
    for (const auto& name : corpus_names())
        for (const char* framing : {"raw", "zlib", "gzip"})
            EXPECT_NE(decoded.find(name + " " + framing + "\n"), std::string::npos)
                << "Python's zlib or gzip: " << name << " " << framing;
    std::system(("rm -rf " + dir).c_str());
}
#endif

TEST(Deflate, CompressesAsWellAsZlibLevel6) {
    // Within 3% of zlib's level 6 (plus a few bytes for tiny inputs).
    for (const auto& name : corpus_names()) {
        Bytes original = read_file(vectors(name + ".bin"));
        Bytes zlib6 = read_file(vectors(name + ".zlib-6.bin"));
        Bytes ours = compress(framings[1], original);
        EXPECT_LE(ours.size(), zlib6.size() * 103 / 100 + 8) << name;
    }
}

// ---------------------------------------------------------------------------
// Malformed input
// ---------------------------------------------------------------------------

// Builds streams bit by bit, least significant first.
struct Bits {
    Bytes bytes;
    int used = 0;
    Bits& put(uint32_t value, int n) {
        for (int i = 0; i < n; i++) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() |= ((value >> i) & 1) << (used % 8);
            used++;
        }
        return *this;
    }
    // A Huffman code, sent most significant bit first.
    Bits& code(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; i--) put((value >> i) & 1, 1);
        return *this;
    }
};

// A dynamic block header whose code-length code gives the first 13 symbols
// in transmission order 4-bit codes and the last 6 5-bit codes (13/16 + 6/32
// = 1: a complete code).
Bits dynamic_header(int hlit, int hdist) {
    Bits b;
    b.put(1, 1).put(2, 2).put(hlit - 257, 5).put(hdist - 1, 5).put(19 - 4, 4);
    for (int i = 0; i < 19; i++) b.put(i < 13 ? 4 : 5, 3);
    return b;
}

TEST(Deflate, MalformedRawStreams) {
    // Code-length symbols in cl_order positions 0-12 (16 17 18 0 8 7 9 6 10 5
    // 11 4 12) have 4-bit codes, positions 13-18 (3 13 2 14 1 15) 5-bit codes.
    // Canonical codes: 4-bit symbols in symbol order get 0000..1100, then
    // 5-bit symbols 11010 onwards.
    auto cl_code = [](Bits& b, int symbol) {
        const int four[] = {0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17, 18};
        const int five[] = {1, 2, 3, 13, 14, 15};
        for (int i = 0; i < 13; i++)
            if (four[i] == symbol) return void(b.code(i, 4));
        for (int i = 0; i < 6; i++)
            if (five[i] == symbol) return void(b.code(26 + i, 5));
    };
    struct Row {
        const char* what;
        Bytes stream;
        int32_t result;
        int32_t size; // -1: not checked
    };
    std::vector<Row> rows;
    rows.push_back({"block type 3", Bits().put(1, 1).put(3, 2).bytes, deflate::BAD_BLOCK_TYPE, 0});
    {
        Bits b;
        b.put(1, 1).put(0, 2).put(0, 5).put(10, 16).put(~10u & 0xFFFF, 16);
        b.bytes.insert(b.bytes.end(), {'a', 'b', 'c'});
        rows.push_back({"stored block longer than the input", b.bytes, deflate::STORED_OVERRUN, 0});
    }
    {
        Bits b;
        b.put(0, 1).put(0, 2).put(0, 5).put(3, 16).put(~3u & 0xFFFF, 16);
        b.bytes.insert(b.bytes.end(), {'a', 'b', 'c'});
        rows.push_back({"stream cut after a non-final block", b.bytes, deflate::OK, 3});
    }
    // Fixed block: literal 'a' (0x30 + 0x61, 8 bits), then a length-3 match
    // (symbol 257, 7 bits 0000001) at distance 2 (code 1, 5 bits).
    rows.push_back({"distance before the first byte",
                    Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(1, 5).bytes,
                    deflate::BAD_DISTANCE, 1});
    rows.push_back({"length symbol 286", Bits().put(1, 1).put(1, 2).code(0xC6, 8).bytes,
                    deflate::BAD_DATA, -1});
    rows.push_back({"distance symbol 30",
                    Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(30, 5).bytes,
                    deflate::BAD_DATA, -1});
    {
        Bits b = dynamic_header(257, 1);
        cl_code(b, 16);
        b.put(0, 2);
        rows.push_back({"first code length repeats nothing", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        Bits b = dynamic_header(257, 1);
        for (int i = 0; i < 250; i++) cl_code(b, 0);
        cl_code(b, 18);
        b.put(127, 7); // 138 zeros past the 258 lengths
        rows.push_back({"code-length run past the lengths", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        Bits b = dynamic_header(257, 1);
        for (int i = 0; i < 256; i++) cl_code(b, 0);
        cl_code(b, 0); // no code for the end of block
        cl_code(b, 1);
        rows.push_back({"empty literal/length code", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        Bits b = dynamic_header(257, 1);
        cl_code(b, 2); // 'a' and end of block of length 2: incomplete
        for (int i = 1; i < 256; i++) cl_code(b, 0);
        cl_code(b, 2);
        cl_code(b, 1);
        b.code(0, 2).code(0, 2).code(0, 2);
        rows.push_back({"incomplete literal/length code", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        Bits b = dynamic_header(257, 1);
        for (int i = 0; i < 3; i++) cl_code(b, 1); // three codes of one bit
        for (int i = 3; i < 256; i++) cl_code(b, 0);
        cl_code(b, 1);
        cl_code(b, 1);
        rows.push_back({"over-subscribed literal/length code", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        Bits b;
        b.put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4);
        for (int i = 0; i < 4; i++) b.put(0, 3); // no code-length code at all
        rows.push_back({"empty code-length code", b.bytes, deflate::BAD_DATA, -1});
    }
    {
        // 'a' and end of block of length 1; no distance codes: valid as long
        // as no match needs one.
        Bits b = dynamic_header(257, 1);
        cl_code(b, 0);
        for (int i = 0; i < 96; i++) cl_code(b, 0);
        cl_code(b, 1);
        for (int i = 98; i < 256; i++) cl_code(b, 0);
        cl_code(b, 1);
        cl_code(b, 0);
        b.code(0, 1).code(0, 1).code(1, 1);
        rows.push_back({"literals without distance codes", b.bytes, deflate::OK, 2});
    }
    for (const auto& row : rows) {
        uint8_t out[64];
        int32_t size = sizeof out;
        EXPECT_EQ(deflate::decompress(out, &size, row.stream.data(), int32_t(row.stream.size())),
                  row.result)
            << row.what;
        if (row.size >= 0) {
            EXPECT_EQ(size, row.size) << row.what;
        }
    }
}

TEST(Deflate, MalformedFraming) {
    const Bytes text(1000, 'q');
    const Bytes z = compress(framings[1], text);
    const Bytes g = compress(framings[2], text);
    auto with = [](Bytes b, size_t at, uint8_t v) {
        b[at] = v;
        return b;
    };
    auto le32_at_end = [](Bytes b, size_t from_end, uint32_t v) {
        for (int i = 0; i < 4; i++) b[b.size() - from_end + i] = uint8_t(v >> (8 * i));
        return b;
    };
    // A gzip header with the given flags and fields, then g's body and trailer.
    auto gzip_with = [&](uint8_t flags, const Bytes& fields) {
        Bytes b(g.begin(), g.begin() + 10);
        b[3] = flags;
        b.insert(b.end(), fields.begin(), fields.end());
        b.insert(b.end(), g.begin() + 10, g.end());
        return b;
    };
    // A name or comment whose bytes run on into the trailer.
    auto unended = [](uint8_t flags) {
        Bytes b = {0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 3};
        b.insert(b.end(), 10, 'a');
        b.insert(b.end(), 8, 0xFF);
        return b;
    };
    Bytes hcrc_header(g.begin(), g.begin() + 10);
    hcrc_header[3] = 0x02;
    uint32_t hcrc = checksum::crc32(hcrc_header.data(), 10);
    struct Row {
        const char* what;
        Op op;
        Bytes stream;
        int32_t result;
    } rows[] = {
        {"zlib shorter than its framing",
         deflate::zlib_decompress,
         {0x78, 0x01, 0x03, 0x00, 0},
         deflate::BAD_DATA},
        {"zlib check bits", deflate::zlib_decompress, with(z, 1, 0x02), deflate::BAD_DATA},
        {"zlib method 7",
         deflate::zlib_decompress,
         {0x77, 0x1E, 3, 0, 0, 0, 0, 1},
         deflate::BAD_DATA},
        {"zlib window above 32K",
         deflate::zlib_decompress,
         {0x88, 0x1C, 3, 0, 0, 0, 0, 1},
         deflate::BAD_DATA},
        {"zlib preset dictionary",
         deflate::zlib_decompress,
         {0x78, 0x20, 3, 0, 0, 0, 0, 1},
         deflate::BAD_DATA},
        {"zlib checksum", deflate::zlib_decompress, with(z, z.size() - 1, z.back() ^ 1),
         deflate::BAD_DATA},
        {"zlib window 512", deflate::zlib_decompress, {0x18, 0x19, 3, 0, 0, 0, 0, 1}, deflate::OK},
        {"gzip shorter than its framing", deflate::gzip_decompress,
         Bytes(g.begin(), g.begin() + 17), deflate::BAD_DATA},
        {"gzip magic", deflate::gzip_decompress, with(g, 1, 0x8C), deflate::BAD_DATA},
        {"gzip method", deflate::gzip_decompress, with(g, 2, 7), deflate::BAD_DATA},
        {"gzip reserved flag", deflate::gzip_decompress, with(g, 3, 0x20), deflate::BAD_DATA},
        {"gzip crc", deflate::gzip_decompress, le32_at_end(g, 8, 0x12345678), deflate::BAD_DATA},
        {"gzip size smaller than the data", deflate::gzip_decompress, le32_at_end(g, 4, 999),
         deflate::BAD_DATA},
        {"gzip forged huge size", deflate::gzip_decompress, le32_at_end(g, 4, 0x7FFFFFF0),
         deflate::BAD_DATA},
        {"gzip size above 2^31", deflate::gzip_decompress, le32_at_end(g, 4, 0xFFFFFFF0),
         deflate::BAD_DATA},
        {"gzip extra field into the trailer", deflate::gzip_decompress,
         gzip_with(0x04, {0xF0, 0x00}), deflate::BAD_DATA},
        {"gzip name without its end", deflate::gzip_decompress, unended(0x08), deflate::BAD_DATA},
        {"gzip comment without its end", deflate::gzip_decompress, unended(0x10),
         deflate::BAD_DATA},
        {"gzip extra and name", deflate::gzip_decompress, gzip_with(0x0C, {2, 0, 'x', 'y', 'n', 0}),
         deflate::OK},
        {"gzip header crc", deflate::gzip_decompress,
         gzip_with(0x02, {uint8_t(hcrc), uint8_t(hcrc >> 8)}), deflate::OK},
        {"gzip wrong header crc", deflate::gzip_decompress,
         gzip_with(0x02, {uint8_t(hcrc + 1), uint8_t(hcrc >> 8)}), deflate::BAD_DATA},
    };
    for (const auto& row : rows) {
        // Measured first, as the natives do: a bad stream never claims a size.
        Bytes out;
        int32_t result = run(row.op, row.stream, &out);
        EXPECT_EQ(result, row.result) << row.what;
        if (row.result == deflate::OK && row.op == deflate::gzip_decompress) {
            EXPECT_TRUE(out == text) << row.what;
        }
    }
}

TEST(Deflate, GzipSizeBeyondTheCapacityIsReportedBeforeDecoding) {
    Bytes text(5000, 'z');
    Bytes g = compress(framings[2], text);
    uint8_t out[100];
    int32_t size = sizeof out;
    EXPECT_EQ(deflate::gzip_decompress(out, &size, g.data(), int32_t(g.size())),
              deflate::TOO_SMALL);
    EXPECT_EQ(size, 5000);
}

TEST(Deflate, DamagedStreamsEndCleanly) {
    // Flipped bits and cut streams: any result code, but no crash and no
    // write past the capacity (the sanitizer build checks the reads).
    Bytes original = read_file(vectors("text.bin"));
    original.resize(30000);
    std::mt19937 rng(7);
    for (const auto& f : framings) {
        Bytes packed = compress(f, original);
        for (int trial = 0; trial < 300; trial++) {
            Bytes damaged = packed;
            if (trial % 3 == 0) damaged.resize(rng() % damaged.size());
            for (int flips = 1 + rng() % 4; flips > 0 && !damaged.empty(); flips--)
                damaged[rng() % damaged.size()] ^= uint8_t(1u << (rng() % 8));
            Bytes out(original.size() + 64, 0xA5);
            int32_t size = int32_t(original.size());
            int32_t result =
                f.decompress(out.data(), &size, damaged.data(), int32_t(damaged.size()));
            ASSERT_TRUE(result >= 0 && result <= 5) << f.name << " " << trial;
            for (size_t i = original.size(); i < out.size(); i++) ASSERT_EQ(out[i], 0xA5);
        }
    }
}

} // namespace
} // namespace mox

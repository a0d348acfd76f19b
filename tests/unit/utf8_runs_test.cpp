// Loading UTF-8 takes runs of plain ASCII several bytes at a time. These
// tests put every kind of sequence, well formed or not, at every offset of
// texts long enough for those runs, and check the loader against a
// character-at-a-time reference built on the validating decoder: the same
// characters, the same unit, the same bytes left over, the same error.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/error-codes.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/error.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using Chars = std::vector<uint32_t>;

struct Outcome {
    int error = -1; // the error code raised, or -1
    Chars chars;
    uint32_t unit = 0;
    int32_t remaining = 0;

    bool operator==(const Outcome&) const = default;
};

Chars chars_of(node_t node) {
    memory::SeriesBuffer* b = memory::buffer_of(node);
    const uint32_t unit = b->unit();
    Chars out;
    for (const uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += unit) {
        uint32_t c = 0;
        std::memcpy(&c, p, unit);
        out.push_back(c);
    }
    return out;
}

Outcome loaded(const std::vector<uint8_t>& in, bool crlf) {
    Outcome o;
    o.error = test::run_catching([&] {
        node_t node =
            unicode::load_utf8(in.data(), static_cast<uint32_t>(in.size()), 0, &o.remaining, crlf);
        o.chars = chars_of(node);
        o.unit = memory::buffer_of(node)->unit();
    });
    return o;
}

// One character at a time through the validating decoder, with the
// loader's rules: a leading byte-order mark skipped, a cut sequence left
// over, CR LF and a lone CR folded to LF under crlf, the narrowest unit.
Outcome reference(const std::vector<uint8_t>& in, bool crlf) {
    Outcome o;
    o.error = test::run_catching([&] {
        const uint8_t* p = in.data();
        const uint8_t* end = p + in.size();
        if (in.size() > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
        uint32_t max = 0;
        while (p < end) {
            uint32_t n = static_cast<uint32_t>(end - p);
            const int32_t cp = unicode::decode_utf8_char(p, &n);
            if (cp < 0) {
                o.remaining = static_cast<int32_t>(end - p);
                break;
            }
            p += n;
            uint32_t c = static_cast<uint32_t>(cp);
            if (crlf && c == '\r') {
                if (p < end && *p == '\n') continue;
                c = '\n';
            }
            o.chars.push_back(c);
            max = std::max(max, c);
        }
        o.unit = max <= 0xFF ? 1 : max <= 0xFFFF ? 2 : 4;
    });
    if (o.error >= 0) o.chars.clear(), o.unit = 0, o.remaining = 0;
    return o;
}

// Pieces a text is made of: ASCII with and without line ends and
// well-formed sequences of every length (overlong two-byte forms and lead
// surrogates included, which the decoder takes); malformed sequences; and
// sequences cut by the end.
const std::vector<std::string> kGood = {"plain ascii text ",
                                        "abcdefgh",
                                        "\r\n",
                                        "\r",
                                        "\n",
                                        "x\ry",
                                        std::string("\0", 1),
                                        "\x7F",
                                        "\xC3\xA9",
                                        "\xC2\x80",
                                        "\xDF\xBF",
                                        "\xE2\x82\xAC",
                                        "\xED\x9F\xBF",
                                        "\xF0\x9F\x98\x80",
                                        "\xF4\x8F\xBF\xBF",
                                        "\xC0\x80",
                                        "\xC1\xBF",
                                        "\xED\xA0\x80"};
const std::vector<std::string> kBad = {"\x80",         "\xBF",         "\xC3\x41",
                                       "\xE2\x82\x41", "\xED\xB3\x80", "\xF4\x90\x80\x80",
                                       "\xF8\x88",     "\xFF"};
const std::vector<std::string> kCuts = {"\xC3", "\xE2\x82", "\xF0\x9F\x98"};

TEST(Utf8Runs, LoaderMatchesTheCharacterAtATimeReference) {
    test::boot();
    std::mt19937 rng(16);
    for (int round = 0; round < 3000; round++) {
        std::string text = round % 7 == 0 ? "\xEF\xBB\xBF" : "";
        const int pieces = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < pieces; i++) {
            // Mostly well formed, so that malformed bytes land deep in long texts.
            const std::string& piece =
                rng() % 8 == 0 ? kBad[rng() % kBad.size()] : kGood[rng() % kGood.size()];
            text += piece;
        }
        if (round % 5 == 0) text += kCuts[rng() % kCuts.size()];
        const std::vector<uint8_t> in(text.begin(), text.end());
        for (bool crlf : {false, true}) {
            const Outcome want = reference(in, crlf);
            const Outcome got = loaded(in, crlf);
            ASSERT_EQ(got.error, want.error) << testing::PrintToString(text) << " crlf " << crlf;
            if (want.error >= 0) {
                EXPECT_EQ(want.error, static_cast<int>(err::invalid_utf8));
                continue;
            }
            ASSERT_EQ(got.chars, want.chars) << testing::PrintToString(text) << " crlf " << crlf;
            EXPECT_EQ(got.unit, want.unit) << testing::PrintToString(text);
            EXPECT_EQ(got.remaining, want.remaining) << testing::PrintToString(text);
        }
    }
}

// A malformed byte after a long ASCII run, at each offset inside and after
// the runs, raises; the same text with the byte well formed loads whole.
TEST(Utf8Runs, MalformedByteAtEveryOffsetOfARun) {
    test::boot();
    for (size_t at = 0; at < 40; at++) {
        for (const char* bad : {"\x80", "\xC3\x41", "\xED\xB3\x80", "\xFF"}) {
            std::string text(48, 'a');
            text.insert(at, bad);
            const std::vector<uint8_t> in(text.begin(), text.end());
            EXPECT_EQ(loaded(in, false).error, static_cast<int>(err::invalid_utf8)) << at;
        }
        std::string good(48, 'a');
        good.insert(at, "\xC3\xA9\r\n");
        const std::vector<uint8_t> in(good.begin(), good.end());
        const Outcome kept = loaded(in, false);
        const Outcome folded = loaded(in, true);
        EXPECT_EQ(kept.chars.size(), 51u) << at;
        EXPECT_EQ(folded.chars.size(), 50u) << at;
        EXPECT_EQ(folded.chars[at], 0xE9u) << at;
        EXPECT_EQ(folded.chars[at + 1], static_cast<uint32_t>('\n')) << at;
    }
}

} // namespace
} // namespace mox

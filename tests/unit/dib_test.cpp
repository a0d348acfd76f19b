// The reader of device-independent bitmap blocks (clipboard images from
// other programs, the native BMP decoder): row order, row padding, colour
// masks, and blocks whose header promises more than they hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "io/clipboard.h"

namespace mox {
namespace {

void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// A 40-byte header.
std::vector<uint8_t> header(int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                            uint32_t colours_used = 0) {
    std::vector<uint8_t> b;
    put32(b, 40);
    put32(b, static_cast<uint32_t>(w));
    put32(b, static_cast<uint32_t>(h));
    put16(b, 1);
    put16(b, bpp);
    put32(b, compression);
    for (int i = 0; i < 3; i++) put32(b, 0);
    put32(b, colours_used);
    put32(b, 0);
    return b;
}

struct Read {
    bool ok;
    uint32_t w, h;
    std::vector<uint8_t> px;
};

Read read(const std::vector<uint8_t>& block, int64_t offset = -1) {
    Read r{false, 0, 0, {}};
    r.ok = clipboard::read_dib(block.data(), block.size(), &r.w, &r.h, &r.px, offset);
    // The check alone (what the clipboard asks before it reads) agrees.
    uint32_t w = 0, h = 0;
    EXPECT_EQ(clipboard::read_dib(block.data(), block.size(), &w, &h, nullptr, offset), r.ok);
    return r;
}

// 24-bit rows run bottom up and are padded to 4 bytes: a 2x2 block lists
// the lower row first.
TEST(Dib, BottomUpRowsAreFlipped) {
    auto b = header(2, 2, 24, 0);
    const uint8_t lower[8] = {1, 2, 3, 4, 5, 6, 0, 0};
    const uint8_t upper[8] = {7, 8, 9, 10, 11, 12, 0, 0};
    b.insert(b.end(), lower, lower + 8);
    b.insert(b.end(), upper, upper + 8);
    Read r = read(b);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.w, 2u);
    EXPECT_EQ(r.h, 2u);
    const std::vector<uint8_t> want = {7, 8, 9, 255, 10, 11, 12, 255, 1, 2, 3, 255, 4, 5, 6, 255};
    EXPECT_EQ(r.px, want);
    // The same rows with a negative height are top down already.
    auto t = header(2, -2, 24, 0);
    t.insert(t.end(), upper, upper + 8);
    t.insert(t.end(), lower, lower + 8);
    Read top = read(t);
    ASSERT_TRUE(top.ok);
    EXPECT_EQ(top.px, want);
}

// Bit fields after a 40-byte header, scaled to 8 bits (5-6-5 in 32-bit
// words here); a 32-bit plain block is opaque whatever its top byte.
TEST(Dib, ColourMasksAreApplied) {
    auto b = header(1, 1, 32, 3);
    put32(b, 0xF800);
    put32(b, 0x07E0);
    put32(b, 0x001F);
    put32(b, 0x0000F81F); // red and blue full, green 0
    Read r = read(b);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.px, (std::vector<uint8_t>{255, 0, 255, 255}));
    auto plain = header(1, 1, 32, 0);
    put32(plain, 0x00102030);
    Read p = read(plain);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.px, (std::vector<uint8_t>{0x30, 0x20, 0x10, 255}));
}

// Our own CF_DIBV5 block reads back as its pixels, alpha included.
TEST(Dib, OwnBlocksReadBack) {
    const std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0};
    auto block = clipboard::make_dibv5(px.data(), 3, 1);
    ASSERT_EQ(block.size(), 124u + 12u);
    Read r = read(block);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.px, px);
}

// Blocks that promise more than they hold, or that this reader does not
// take, are refused.
TEST(Dib, BadBlocksAreRefused) {
    auto rows = [](std::vector<uint8_t> b, size_t n) {
        b.insert(b.end(), n, 0);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> block;
    };
    auto masks = header(1, 1, 32, 3);
    put32(masks, 0xF0F0); // not contiguous
    put32(masks, 0x0F00);
    put32(masks, 0x000F);
    auto short_masks = header(1, 1, 32, 3);
    short_masks.resize(48);
    auto big_header = header(1, 1, 24, 0);
    big_header[0] = 200;
    auto palette = header(1, 1, 24, 0, 1000);
    const Case cases[] = {
        {"rows cut short", rows(header(2, 2, 24, 0), 15)},
        {"negative rows cut short", rows(header(2, -2, 24, 0), 15)},
        {"width 0", rows(header(0, 1, 24, 0), 4)},
        {"negative width", rows(header(-1, 1, 24, 0), 4)},
        {"height 0", rows(header(1, 0, 24, 0), 4)},
        {"side above 65535", rows(header(65536, 1, 24, 0), 65536 * 3)},
        {"8 bits per pixel", rows(header(1, 1, 8, 0), 8)},
        {"run-length coded", rows(header(1, 1, 24, 1), 4)},
        {"bit fields at 24 bits", rows(header(1, 1, 24, 3), 16)},
        {"masks not contiguous", rows(masks, 4)},
        {"masks cut off", short_masks},
        {"header larger than the block", rows(big_header, 4)},
        {"palette past the end", rows(palette, 4)},
        {"no header", std::vector<uint8_t>(39, 0)},
    };
    for (const Case& c : cases) EXPECT_FALSE(read(c.block).ok) << c.what;
    // A pixel offset before the end of the header, or past the block.
    auto ok = rows(header(1, 1, 24, 0), 4);
    EXPECT_TRUE(read(ok, 40).ok);
    EXPECT_FALSE(read(ok, 39).ok);
    EXPECT_FALSE(read(ok, 41).ok);
}

} // namespace
} // namespace mox

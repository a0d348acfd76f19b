// The image store: the premultiplied copy for drawing and its lossy way
// back, the render cache's life across collections, and the release of the
// pixels of unreachable images.
#include <gtest/gtest.h>

#include <cstring>

#include "core/collector.h"
#include "core/error-codes.h"
#include "datatypes/image-store.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using test::RuntimeTest;

int released = 0;
void count_release(void*) { released++; }

class ImageStoreTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        image::set_render_release(&count_release);
        released = 0;
    }
    void TearDown() override {
        image::set_render_release(nullptr);
        RuntimeTest::TearDown();
    }
};

uint32_t bgra(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

// Drawing works on the premultiplied copy; the straight pixels stay the
// record until a drawing is taken back, and only drawn pixels change.
TEST_F(ImageStoreTest, PremultipliedCopyServesDrawingOnly) {
    Cell img{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&img);
    image::make_filled(&img, 2, 1, bgra(200, 100, 50, 128));
    image::write_pixel(&img, 1, bgra(7, 9, 11, 3));
    const uint8_t* pm = image::to_premultiplied(&img);
    // (c x a + 127) / 255 for each colour byte, in B, G, R, A order.
    const uint8_t want[8] = {25, 50, 100, 128, 0, 0, 0, 3};
    EXPECT_EQ(0, std::memcmp(pm, want, 8));
    // Reading after the conversion still gives the straight colours.
    EXPECT_EQ(image::read_pixel(&img, 0), bgra(200, 100, 50, 128));
    EXPECT_EQ(image::read_pixel(&img, 1), bgra(7, 9, 11, 3));
    // A drawing into the copy: the first pixel becomes a half-transparent
    // grey, the second is left alone.
    uint8_t* surface = image::to_premultiplied(&img);
    const uint8_t drawn[4] = {64, 64, 64, 128};
    std::memcpy(surface, drawn, 4);
    image::mark_dirty(&img);
    EXPECT_EQ(image::read_pixel(&img, 0), bgra(128, 128, 128, 128));
    // The way back is lossy for the untouched pixel too: this is why the
    // straight record is kept until something is drawn.
    EXPECT_EQ(image::read_pixel(&img, 1), bgra(0, 0, 0, 3));
    // A write makes the copy stale; the next conversion sees it.
    image::write_pixel(&img, 0, bgra(255, 255, 255, 255));
    EXPECT_EQ(image::converted_source(&img, true)[0], 255);
}

// A cache not used between two collections goes; one in use stays; a pixel
// write drops it at once.
TEST_F(ImageStoreTest, RenderCacheLivesWhileUsed) {
    Cell img{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&img);
    image::make_filled(&img, 1, 1, 0xFFFFFFFF);
    int a = 0, b = 0;
    image::set_cached_bitmap(&img, &a);
    EXPECT_EQ(image::get_cached_bitmap(&img), &a);
    collector::do_cycle();
    EXPECT_EQ(released, 0);
    EXPECT_EQ(image::get_cached_bitmap(&img), &a);
    collector::do_cycle();
    EXPECT_EQ(released, 0);
    collector::do_cycle();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(image::get_cached_bitmap(&img), nullptr);
    image::set_cached_bitmap(&img, &b);
    image::write_pixel(&img, 0, 0);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(image::get_cached_bitmap(&img), nullptr);
}

// The pixels of an image no value refers to are freed by a collection
// (seen through its render cache, released with it); a shared node keeps
// them.
TEST_F(ImageStoreTest, UnreachableImagesAreReleased) {
    int a = 0;
    Cell* slot = stack::push_cell();
    image::make_filled(slot, 3, 3, 0);
    image::set_cached_bitmap(slot, &a);
    image::get_cached_bitmap(slot);
    Cell copy = *slot;
    {
        collector::Root keep(&copy);
        make_none(slot);
        collector::do_cycle();
        EXPECT_EQ(released, 0);
    }
    collector::do_cycle();
    EXPECT_EQ(released, 1);
}

// The helpers the View back end builds on: pixels from a buffer with a
// stride (straight, or premultiplied and taken back), a flipped copy, a
// rectangle.
TEST_F(ImageStoreTest, PixelsFromBuffersFlipsAndRectangles) {
    // Two rows of two pixels, 12 bytes apart.
    const uint8_t rows[24] = {1,  2,  3,  255, 4, 5, 6, 255, 9, 9, 9, 9,
                              40, 60, 80, 128, 0, 0, 0, 0,   9, 9, 9, 9};
    Cell img{TYPE_NONE, 0, 0, 0}, other{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&img), keep_other(&other);
    image::make_from_pixels(&img, rows, 2, 2, 12, 0);
    EXPECT_EQ(image::read_pixel(&img, 2), bgra(80, 60, 40, 128));
    image::make_from_pixels(&other, rows, 2, 2, 12, 1);
    // 40 x 255 / 128 rounded: 80; 60: 120; 80: 159.
    EXPECT_EQ(image::read_pixel(&other, 2), bgra(159, 120, 80, 128));
    EXPECT_EQ(image::read_pixel(&other, 3), 0u);
    image::flip_vertical(&other, &img);
    EXPECT_EQ(other.data3, img.data3);
    EXPECT_EQ(image::read_pixel(&other, 0), image::read_pixel(&img, 2));
    EXPECT_EQ(image::read_pixel(&other, 3), image::read_pixel(&img, 1));
    image::copy_rect(&other, &img, 1, 0, 1, 2);
    EXPECT_EQ(image::width_of(&other), 1u);
    EXPECT_EQ(image::height_of(&other), 2u);
    EXPECT_EQ(image::read_pixel(&other, 0), image::read_pixel(&img, 1));
    EXPECT_EQ(image::read_pixel(&other, 1), image::read_pixel(&img, 3));
}

TEST_F(ImageStoreTest, SizesBeyondTheSizeWordAreOutOfRange) {
    EXPECT_MOX_ERROR(err::out_of_range, image::checked_bytes(65536, 1));
    EXPECT_MOX_ERROR(err::out_of_range, image::checked_bytes(1, 65536));
    EXPECT_MOX_ERROR(err::out_of_range, image::checked_bytes(65535, 65535));
    EXPECT_EQ(image::checked_bytes(65535, 1), size_t{65535} * 4);
    EXPECT_EQ(image::checked_bytes(-3, 5), 0u);
}

} // namespace
} // namespace mox

namespace mox {
namespace {

// A GDI bitmap made from an image reads back as the same pixels (alpha
// kept); a GDI+ bitmap wraps the pixels. The native build has neither.
TEST_F(ImageStoreTest, GdiExchangeKeepsThePixels) {
    Cell img{TYPE_NONE, 0, 0, 0};
    collector::Root keep(&img);
    image::make_filled(&img, 3, 2, bgra(10, 20, 30, 255));
    image::write_pixel(&img, 4, bgra(1, 2, 3, 128));
    void* gdi = image::to_HBITMAP(&img);
    if (!gdi) GTEST_SKIP() << "no GDI on this build";
    Cell back{TYPE_NONE, 0, 0, 0};
    collector::Root keep_back(&back);
    image::from_HBITMAP(&back, gdi);
    ASSERT_EQ(type_of(&back), TYPE_IMAGE);
    EXPECT_EQ(back.data3, img.data3);
    EXPECT_EQ(0, std::memcmp(image::pixels(&back), image::pixels(&img), 3 * 2 * 4));
    void* plus = image::lock_gdiplus(&img);
    EXPECT_NE(plus, nullptr);
    image::unlock_gdiplus(plus);
}

} // namespace
} // namespace mox

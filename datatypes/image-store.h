// The image store: the pixels behind every image! value.
//
// An image node is a small byte series (so the collector tracks it like any
// series) holding two words: the handle of its record in the
// external-resource registry (kind "image") and the size word
// height << 16 | width. The record's object is a Store, allocated outside
// the collector's heap: the pixels never move, so a pointer to them stays
// valid across allocations for as long as a cell the collector sees holds
// the image. The collector marks the record through mark_node and the
// registry frees the Store of an unreachable node.
//
// Straight 32-bit BGRA (alpha 255 = opaque) is the record of every image.
// A premultiplied copy is made on demand for drawing; drawing into that
// copy (mark_dirty) makes it the newer one until the next pixel access turns
// it back into straight BGRA. That way back is lossy where the drawing left
// partly transparent pixels, and only there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::image {

constexpr uint32_t MAX_SIDE = 65535;

// Store flags.
constexpr uint32_t FLAG_PREMULTIPLIED = 0x08; // premul copy matches the record
constexpr uint32_t FLAG_DRAWN = 0x20;         // premul copy is newer than the record
constexpr uint32_t FLAG_RENDER_USED = 0x40;   // render cache used since the last collection

struct Store {
    uint32_t width;
    uint32_t height;
    uint32_t flags;
    uint8_t* pixels;    // straight BGRA, width x height x 4 bytes
    uint8_t* premul;    // premultiplied copy, or null
    void* render_cache; // the View back end's device bitmap, or null
};

// Registers the kind "image" and the collector's image hook.
void init_store();

// Byte size of a width x height image; raises out-of-range with the size
// (as a pair!) for a side above 65535 or a size beyond what a series holds.
size_t checked_bytes(int64_t width, int64_t height);

// Writes an image! at index 0 over a new node whose Store takes ownership of
// pixels (malloc'd straight BGRA, null for a 0 x 0 image, which gets no
// node). out must be a cell the collector sees. May collect.
Cell* make_cell(Cell* out, uint32_t width, uint32_t height, uint8_t* pixels);
// A new image of the size, every pixel the colour word (BGRA little-endian).
// May collect.
Cell* make_filled(Cell* out, uint32_t width, uint32_t height, uint32_t bgra);
// A new image over a copy of the pixels (rows stride bytes apart; format 0
// straight BGRA, 1 premultiplied BGRA). May collect.
Cell* make_from_pixels(Cell* out, const uint8_t* pixels, uint32_t width, uint32_t height,
                       uint32_t stride, int format);
// Malloc of checked_bytes (raises no-memory when refused).
uint8_t* alloc_pixels(uint32_t width, uint32_t height);

inline uint32_t width_of(const Cell* img) { return img->data3 & 0xFFFF; }
inline uint32_t height_of(const Cell* img) { return img->data3 >> 16; }
inline uint32_t count_of(const Cell* img) { return width_of(img) * height_of(img); }

// The Store of an image with a node; null for an image without one.
Store* store_of(const Cell* img);
// The straight pixels for reading (a drawn premul copy is taken back
// first); null for an image without pixels.
const uint8_t* pixels(const Cell* img);
// The same for writing: the premul copy and the render cache are dropped.
uint8_t* pixels_for_write(const Cell* img);
// The pixels converted for drawing: straight, or premultiplied (made and
// kept until the record changes).
const uint8_t* converted_source(const Cell* img, bool premultiplied);
// Makes the premultiplied copy the image's drawing surface and returns it.
uint8_t* to_premultiplied(const Cell* img);
// Drawing went into the premultiplied copy: it is the newer one now.
void mark_dirty(const Cell* img);

// Pixel word at an absolute index (no check: callers clamp).
uint32_t read_pixel(const Cell* img, uint32_t index);
void write_pixel(const Cell* img, uint32_t index, uint32_t bgra);

// New images (into out, collector-visible) from an image's pixels. May
// collect.
Cell* copy_rect(Cell* out, const Cell* img, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
Cell* scale(Cell* out, const Cell* img, uint32_t w, uint32_t h);
Cell* flip_vertical(Cell* out, const Cell* img);

// The render cache: the View back end's bitmap for drawing an image, with
// its release function (set once by the back end).
void set_render_release(void (*release)(void* bitmap));
void* get_cached_bitmap(const Cell* img);
void set_cached_bitmap(const Cell* img, void* bitmap);
void drop_render_cache(Store* store);

// GDI and GDI+ exchange (clipboard, window capture, drawing on Windows; the
// native build has neither). A 32-bit GDI bitmap of the pixels, or null;
// an image from a GDI bitmap into out (none when it cannot be read; may
// collect); a GDI+ bitmap over the image's own pixels for drawing into
// them, or null, disposed with unlock_gdiplus.
void* to_HBITMAP(const Cell* img);
Cell* from_HBITMAP(Cell* out, void* hbitmap);
void* lock_gdiplus(const Cell* img);
void unlock_gdiplus(void* bitmap);

// Registry callback: frees the Store.
void release_node_bitmaps(uintptr_t store);
// Collector hook for every marked image! value.
void mark_node(Cell* img);

} // namespace mox::image

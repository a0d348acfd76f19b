// The image store (see image-store.h).
#include "datatypes/image-store.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/collector.h"
#include "core/externals.h"
#include "core/memory.h"
#include "core/value.h"
#include "datatypes/pair.h"
#include "platform/imaging.h"

namespace mox::image {

namespace {

// A series holds at most this many bytes: every image's argb channel must
// fit one.
constexpr uint64_t MAX_BYTES = 0x7FFFFFF0;
// Pixels live outside the collector's heap, so the heap's growth does not
// count them: after this many new pixel bytes a collection is owed, so that
// unreachable images are freed in a loop that makes many.
constexpr size_t COLLECT_AFTER = 256u << 20;

uint32_t kind = 0;
size_t bytes_since_collection = 0;
void (*render_release)(void*) = nullptr;

struct NodeWords {
    uint32_t handle;
    uint32_t size;
};

NodeWords* words_of(node_t node) {
    return reinterpret_cast<NodeWords*>(memory::buffer_of(node)->head_ptr());
}

void free_store(Store* s) {
    drop_render_cache(s);
    std::free(s->pixels);
    std::free(s->premul);
    std::free(s);
}

inline uint8_t mul(uint8_t c, uint8_t a) { return static_cast<uint8_t>((c * a + 127) / 255); }

void premultiply(uint8_t* dst, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; i++, src += 4, dst += 4) {
        uint8_t a = src[3];
        dst[0] = mul(src[0], a);
        dst[1] = mul(src[1], a);
        dst[2] = mul(src[2], a);
        dst[3] = a;
    }
}

inline uint8_t unmul(uint8_t c, uint8_t a) {
    if (a == 0) return 0;
    uint32_t v = (uint32_t{c} * 255 + a / 2) / a;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

void unpremultiply(uint8_t* dst, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; i++, src += 4, dst += 4) {
        uint8_t a = src[3];
        dst[0] = unmul(src[0], a);
        dst[1] = unmul(src[1], a);
        dst[2] = unmul(src[2], a);
        dst[3] = a;
    }
}

size_t pixel_count(const Store* s) { return size_t{s->width} * s->height; }

// The record, brought up to date with a drawn premultiplied copy.
Store* synced(const Cell* img) {
    Store* s = store_of(img);
    if (s && (s->flags & FLAG_DRAWN)) {
        unpremultiply(s->pixels, s->premul, pixel_count(s));
        s->flags &= ~FLAG_DRAWN;
    }
    return s;
}

} // namespace

void init_store() {
    kind = externals::register_kind("image", &release_node_bitmaps);
    collector::image_marker = &mark_node;
}

size_t checked_bytes(int64_t width, int64_t height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (width > MAX_SIDE || height > MAX_SIDE ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 > MAX_BYTES) {
        Cell size;
        pair::make_cell(&size, static_cast<int32_t>(width), static_cast<int32_t>(height));
        fire(err::out_of_range, &size);
    }
    return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

uint8_t* alloc_pixels(uint32_t width, uint32_t height) {
    size_t bytes = checked_bytes(width, height);
    auto* p = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 4));
    if (!p) fire(err::no_memory);
    bytes_since_collection += bytes;
    if (bytes_since_collection > COLLECT_AFTER) {
        bytes_since_collection = 0;
        collector::owed = true;
    }
    return p;
}

Cell* make_cell(Cell* out, uint32_t width, uint32_t height, uint8_t* pixels) {
    std::unique_ptr<uint8_t, void (*)(void*)> owned(pixels, std::free);
    uint32_t size = height << 16 | width;
    if (width == 0 || height == 0) {
        *out = Cell{TYPE_IMAGE, 0, 0, 0};
        return out;
    }
    node_t node = memory::alloc_bytes(sizeof(NodeWords));
    auto* s = static_cast<Store*>(std::calloc(1, sizeof(Store)));
    if (!s) fire(err::no_memory);
    s->width = width;
    s->height = height;
    s->pixels = owned.release();
    memory::SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->head + sizeof(NodeWords);
    NodeWords* w = words_of(node);
    w->handle = externals::store(reinterpret_cast<uintptr_t>(s), kind);
    w->size = size;
    *out = Cell{TYPE_IMAGE, 0, node, size};
    return out;
}

Cell* make_filled(Cell* out, uint32_t width, uint32_t height, uint32_t bgra) {
    size_t bytes = checked_bytes(width, height);
    if (bytes == 0) return make_cell(out, 0, 0, nullptr);
    uint8_t* p = alloc_pixels(width, height);
    for (size_t i = 0; i < bytes; i += 4) std::memcpy(p + i, &bgra, 4);
    return make_cell(out, width, height, p);
}

Cell* make_from_pixels(Cell* out, const uint8_t* src, uint32_t width, uint32_t height,
                       uint32_t stride, int format) {
    if (checked_bytes(width, height) == 0) return make_cell(out, 0, 0, nullptr);
    uint8_t* p = alloc_pixels(width, height);
    for (uint32_t y = 0; y < height; y++) {
        uint8_t* row = p + size_t{y} * width * 4;
        if (format == 1)
            unpremultiply(row, src + size_t{y} * stride, width);
        else
            std::memcpy(row, src + size_t{y} * stride, size_t{width} * 4);
    }
    return make_cell(out, width, height, p);
}

Store* store_of(const Cell* img) {
    if (!img->data2) return nullptr;
    externals::Entry* e = externals::entry(words_of(img->data2)->handle);
    if (!e) fire(err::no_memory);
    return reinterpret_cast<Store*>(e->object);
}

const uint8_t* pixels(const Cell* img) {
    Store* s = synced(img);
    return s ? s->pixels : nullptr;
}

uint8_t* pixels_for_write(const Cell* img) {
    Store* s = synced(img);
    if (!s) return nullptr;
    s->flags &= ~FLAG_PREMULTIPLIED;
    drop_render_cache(s);
    return s->pixels;
}

const uint8_t* converted_source(const Cell* img, bool premultiplied) {
    if (!premultiplied) return pixels(img);
    return to_premultiplied(img);
}

uint8_t* to_premultiplied(const Cell* img) {
    Store* s = synced(img);
    if (!s) return nullptr;
    if (!s->premul) {
        s->premul = static_cast<uint8_t*>(std::malloc(pixel_count(s) * 4));
        if (!s->premul) fire(err::no_memory);
        s->flags &= ~FLAG_PREMULTIPLIED;
    }
    if (!(s->flags & FLAG_PREMULTIPLIED)) {
        premultiply(s->premul, s->pixels, pixel_count(s));
        s->flags |= FLAG_PREMULTIPLIED;
    }
    return s->premul;
}

void mark_dirty(const Cell* img) {
    Store* s = store_of(img);
    if (!s || !s->premul) return;
    s->flags |= FLAG_DRAWN | FLAG_PREMULTIPLIED;
    drop_render_cache(s);
}

uint32_t read_pixel(const Cell* img, uint32_t index) {
    uint32_t v;
    std::memcpy(&v, pixels(img) + size_t{index} * 4, 4);
    return v;
}

void write_pixel(const Cell* img, uint32_t index, uint32_t bgra) {
    std::memcpy(pixels_for_write(img) + size_t{index} * 4, &bgra, 4);
}

Cell* copy_rect(Cell* out, const Cell* img, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    if (w == 0 || h == 0 || !img->data2) return make_cell(out, 0, 0, nullptr);
    uint8_t* p = alloc_pixels(w, h);
    const uint8_t* src = pixels(img);
    uint32_t width = width_of(img);
    for (uint32_t row = 0; row < h; row++)
        std::memcpy(p + size_t{row} * w * 4, src + (size_t{y + row} * width + x) * 4,
                    size_t{w} * 4);
    return make_cell(out, w, h, p);
}

Cell* scale(Cell* out, const Cell* img, uint32_t w, uint32_t h) {
    checked_bytes(w, h);
    if (w == 0 || h == 0 || !img->data2) return make_cell(out, 0, 0, nullptr);
    uint8_t* p = alloc_pixels(w, h);
    const uint8_t* src = pixels(img);
    uint64_t sw = width_of(img), sh = height_of(img);
    for (uint32_t y = 0; y < h; y++) {
        uint64_t sy = (uint64_t{y} * sh) / h;
        const uint8_t* row = src + sy * sw * 4;
        uint8_t* dst = p + size_t{y} * w * 4;
        for (uint32_t x = 0; x < w; x++)
            std::memcpy(dst + size_t{x} * 4, row + ((uint64_t{x} * sw) / w) * 4, 4);
    }
    return make_cell(out, w, h, p);
}

Cell* flip_vertical(Cell* out, const Cell* img) {
    uint32_t w = width_of(img), h = height_of(img);
    if (!img->data2) return make_cell(out, 0, 0, nullptr);
    uint8_t* p = alloc_pixels(w, h);
    const uint8_t* src = pixels(img);
    for (uint32_t y = 0; y < h; y++)
        std::memcpy(p + size_t{y} * w * 4, src + size_t{h - 1 - y} * w * 4, size_t{w} * 4);
    return make_cell(out, w, h, p);
}

void set_render_release(void (*release)(void* bitmap)) { render_release = release; }

void* get_cached_bitmap(const Cell* img) {
    Store* s = store_of(img);
    if (!s || !s->render_cache) return nullptr;
    s->flags |= FLAG_RENDER_USED;
    return s->render_cache;
}

void set_cached_bitmap(const Cell* img, void* bitmap) {
    Store* s = store_of(img);
    if (!s) return;
    if (s->render_cache != bitmap) drop_render_cache(s);
    s->render_cache = bitmap;
}

void drop_render_cache(Store* s) {
    if (s->render_cache && render_release) render_release(s->render_cache);
    s->render_cache = nullptr;
    s->flags &= ~FLAG_RENDER_USED;
}

void* to_HBITMAP(const Cell* img) {
    if (!img->data2) return nullptr;
    return platform::image_to_gdi_bitmap(pixels(img), width_of(img), height_of(img));
}

Cell* from_HBITMAP(Cell* out, void* hbitmap) {
    uint32_t w = 0, h = 0;
    uint8_t* raw = nullptr;
    if (platform::image_from_gdi_bitmap(hbitmap, MAX_SIDE, &w, &h, &raw) != platform::IMAGE_OK)
        return make_none(out);
    checked_bytes(w, h);
    return make_cell(out, w, h, raw);
}

void* lock_gdiplus(const Cell* img) {
    if (!img->data2) return nullptr;
    return platform::image_gdiplus_bitmap(pixels_for_write(img), width_of(img), height_of(img));
}

void unlock_gdiplus(void* bitmap) { platform::image_gdiplus_dispose(bitmap); }

void release_node_bitmaps(uintptr_t store) {
    if (store) free_store(reinterpret_cast<Store*>(store));
}

void mark_node(Cell* img) {
    if (!img->data2) return;
    uint32_t handle = words_of(img->data2)->handle;
    if (externals::mark(handle, 0) != 1) return;
    // Marked for the first time in this collection: a render cache left
    // unused since the previous one goes.
    externals::Entry* e = externals::entry(handle);
    if (!e || !e->object) return;
    Store* s = reinterpret_cast<Store*>(e->object);
    if (!(s->flags & FLAG_RENDER_USED)) drop_render_cache(s);
    s->flags &= ~FLAG_RENDER_USED;
}

} // namespace mox::image

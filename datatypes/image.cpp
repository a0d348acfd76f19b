// image! (see image.h): the language face of the image store. Every
// position is clamped or checked before a pixel is touched.
#include "datatypes/image.h"
#include "datatypes/file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/console.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/image-store.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "platform/imaging.h"
#include "platform/platform.h"

namespace mox::image {

bool (*face_to_image)(const Cell* object, Cell* out) = nullptr;

namespace {

uint32_t sym_size, sym_rgb, sym_alpha, sym_argb;
uint32_t sym_bmp, sym_png, sym_gif, sym_jpeg, sym_tiff;

using Free = std::unique_ptr<uint8_t, void (*)(void*)>;

inline int32_t x_of(const Cell* p) { return static_cast<int32_t>(p->data2); }
inline int32_t y_of(const Cell* p) { return static_cast<int32_t>(p->data3); }

// A stored pixel word (B, G, R, A in memory) as the language's tuple.
Cell* tuple_of(Cell* out, uint32_t bgra) {
    uint8_t bytes[4] = {static_cast<uint8_t>(bgra >> 16), static_cast<uint8_t>(bgra >> 8),
                        static_cast<uint8_t>(bgra), static_cast<uint8_t>(255 - (bgra >> 24))};
    return tuple::make_cell(out, bytes, 4);
}

// A tuple (3 bytes: opaque; the fourth byte is transparency) as a pixel.
uint32_t pixel_of(const Cell* t) {
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t alpha = tuple::length_of(t) > 3 ? 255u - b[3] : 255u;
    return alpha << 24 | uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
}

// An integer taken as a packed colour: its bytes in the order a tuple of
// them would hold.
uint32_t pixel_of_int(int32_t v) {
    uint8_t bytes[4];
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) bytes[i] = static_cast<uint8_t>(u >> (8 * i));
    Cell t;
    tuple::make_cell(&t, bytes, 4);
    return pixel_of(&t);
}

bool word_is(const Cell* c, uint32_t sym) {
    return is_any_word(type_of(c)) && symbol::resolve(c->data2) == symbol::resolve(sym);
}

// Clamps an absolute position into 0 .. count.
uint32_t clamp_index(const Cell* img, int64_t at) {
    return static_cast<uint32_t>(std::clamp<int64_t>(at, 0, count_of(img)));
}

// The absolute pixel a 1-based pick/poke position names, or -1 outside.
int64_t position_of(const Cell* img, int32_t n, const Cell* boxed) {
    int64_t at;
    if (boxed && type_of(boxed) == TYPE_PAIR) {
        int64_t x = x_of(boxed), y = y_of(boxed);
        if (x < 1 || y < 1 || x > width_of(img) || y > height_of(img)) return -1;
        at = int64_t{img->data1} + (x - 1) + int64_t{width_of(img)} * (y - 1);
    } else if (boxed && type_of(boxed) != TYPE_INTEGER && type_of(boxed) != TYPE_FLOAT) {
        fire(err::invalid_arg, boxed);
    } else {
        at = int64_t{img->data1} + n - 1;
    }
    if (at < 0 || at >= count_of(img)) return -1;
    return at;
}

void notify_change(Cell* img, series::Change event, const Cell* value, int64_t at, int32_t count) {
    if (img->data2) series::notify(img, event, value, static_cast<int32_t>(at), count);
}

// The rectangle's top-left corner at a pixel index.
void corner_of(const Cell* img, uint32_t index, uint32_t* x, uint32_t* y) {
    uint32_t w = width_of(img);
    *x = w ? index % w : 0;
    *y = w ? index / w : 0;
}

// ---------------------------------------------------------------------------
// Making
// ---------------------------------------------------------------------------

// A new image filled from an optional rgb binary or tuple and an optional
// alpha binary, pushed. May collect.
Cell* build(int64_t w, int64_t h, Cell* colour, Cell* alpha) {
    w = std::max<int64_t>(w, 0);
    h = std::max<int64_t>(h, 0);
    checked_bytes(w, h);
    Cell* out = stack::push_cell();
    make_filled(out, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0xFFFFFFFFu);
    if (!out->data2) return out;
    uint8_t* p = pixels_for_write(out);
    size_t n = count_of(out);
    if (colour && type_of(colour) == TYPE_TUPLE) {
        uint32_t px = pixel_of(colour);
        for (size_t i = 0; i < n; i++) std::memcpy(p + i * 4, &px, 4);
    } else if (colour) {
        const uint8_t* rgb = binary::ms_head(colour);
        size_t len = static_cast<size_t>(binary::ms_length_q(colour));
        for (size_t i = 0; i < n && i * 3 + 2 < len; i++) {
            p[i * 4 + 2] = rgb[i * 3];
            p[i * 4 + 1] = rgb[i * 3 + 1];
            p[i * 4] = rgb[i * 3 + 2];
        }
    }
    if (alpha) {
        const uint8_t* a = binary::ms_head(alpha);
        size_t len = static_cast<size_t>(binary::ms_length_q(alpha));
        for (size_t i = 0; i < n && i < len; i++) p[i * 4 + 3] = static_cast<uint8_t>(255 - a[i]);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

constexpr uint32_t PIXELS_PER_LINE = 10;

int32_t new_line(Cell* buffer, int32_t n) {
    string::append_char(buffer, '\n');
    string::append_indent(buffer, n, 0);
    return 1 + 4 * n;
}

int32_t mold_image(Cell* img, Cell* buffer, bool only, bool flat, Cell* part, int32_t limit,
                   int32_t indent) {
    static const char kHex[] = "0123456789ABCDEF";
    char text[32];
    if (!only) {
        string::concatenate_literal(buffer, "make image! [");
        limit -= 13;
    }
    int n = std::snprintf(text, sizeof text, "%ux%u", width_of(img), height_of(img));
    string::concatenate_literal(buffer, text);
    limit -= n;
    if (!img->data2) {
        string::concatenate_literal(buffer, " #{}");
        limit -= 4;
    } else {
        uint32_t start = std::min(img->data1, count_of(img));
        uint32_t count = count_of(img) - start;
        bool lines = !flat && uint64_t{count} * 3 >= 31;
        bool transparent = false;
        string::concatenate_literal(buffer, " #{");
        limit -= 3;
        if (lines) limit -= new_line(buffer, indent + 1);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t px = read_pixel(img, start + i);
            if ((px >> 24) != 255) transparent = true;
            uint32_t digits[6];
            for (int k = 0; k < 6; k++)
                digits[k] = static_cast<uint8_t>(kHex[(px >> (20 - 4 * k)) & 15]);
            string::append_chars(buffer, digits, 6);
            limit -= 6;
            if (lines && (i + 1) % PIXELS_PER_LINE == 0) limit -= new_line(buffer, indent + 1);
            if (part && limit <= 0) return limit;
        }
        if (lines && count % PIXELS_PER_LINE != 0) limit -= new_line(buffer, indent);
        string::append_char(buffer, '}');
        limit -= 1;
        if (transparent) {
            // The transparency bytes always start and end on lines of their
            // own.
            string::concatenate_literal(buffer, " #{");
            limit -= 3;
            limit -= new_line(buffer, lines ? indent + 1 : indent);
            for (uint32_t i = 0; i < count; i++) {
                uint32_t a = 255 - (read_pixel(img, start + i) >> 24);
                uint32_t digits[2] = {static_cast<uint8_t>(kHex[a >> 4]),
                                      static_cast<uint8_t>(kHex[a & 15])};
                string::append_chars(buffer, digits, 2);
                limit -= 2;
                if (lines && (i + 1) % PIXELS_PER_LINE == 0) limit -= new_line(buffer, indent + 1);
                if (part && limit <= 0) return limit;
            }
            if (!lines || count % PIXELS_PER_LINE != 0) limit -= new_line(buffer, indent);
            string::append_char(buffer, '}');
            limit -= 1;
        }
    }
    if (!only) {
        string::append_char(buffer, ']');
        limit -= 1;
    }
    return limit;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) == TYPE_IMAGE) return copy(spec, stack::push_cell(), nullptr, false, nullptr);
    if (type_of(spec) == TYPE_OBJECT && face_to_image) {
        Cell* out = make_none(stack::push_cell());
        if (face_to_image(spec, out)) return out;
    }
    Cell dt;
    make_datatype(&dt, TYPE_IMAGE);
    fire(err::bad_to_arg, &dt, spec);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_PAIR) return build(x_of(spec), y_of(spec), nullptr, nullptr);
    if (t != TYPE_BLOCK) return to(proto, spec, type);
    int32_t n = block::rs_length_q(spec);
    if (n == 0) {
        if (type_of(proto) == TYPE_IMAGE)
            return copy(proto, stack::push_cell(), nullptr, false, nullptr);
        fire(err::invalid_arg, spec);
    }
    Cell* items = block::rs_head(spec);
    if (type_of(items) != TYPE_PAIR) fire(err::invalid_arg, spec);
    Cell size = items[0];
    Cell colour{}, alpha{};
    bool has_colour = false, has_alpha = false;
    if (n > 1) {
        colour = items[1];
        uint32_t ct = type_of(&colour);
        if (ct != TYPE_BINARY && ct != TYPE_TUPLE) fire(err::invalid_arg, &colour);
        has_colour = true;
    }
    if (n > 2) {
        alpha = items[2];
        if (type_of(&alpha) != TYPE_BINARY) fire(err::invalid_arg, &alpha);
        has_alpha = true;
    }
    // The binaries stay reachable through the spec block, held by the call.
    Cell* c = has_colour ? stack::push(&colour) : nullptr;
    Cell* a = has_alpha ? stack::push(&alpha) : nullptr;
    Cell* out = build(x_of(&size), y_of(&size), c, a);
    Cell* first = c ? c : a ? a : out;
    *first = *out;
    stack::top = first + 1;
    return first;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return mold_image(value, buffer, false, false, part, limit, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return mold_image(value, buffer, only, flat, part, limit, indent);
}

Cell* pick(Cell* img, int32_t index, Cell* boxed) {
    int64_t at = position_of(img, index, boxed);
    Cell* out = stack::push_cell();
    if (at < 0) return make_none(out);
    return get_pixel(out, img, static_cast<uint32_t>(at));
}

Cell* poke(Cell* img, int32_t index, Cell* data, Cell* boxed) {
    int64_t at = position_of(img, index, boxed);
    if (at < 0) fire(err::out_of_range, boxed);
    if (type_of(data) != TYPE_TUPLE) fire(err::invalid_arg, data);
    notify_change(img, series::Change::poke, data, at, 1);
    write_pixel(img, static_cast<uint32_t>(at), pixel_of(data));
    notify_change(img, series::Change::poked, data, at, 1);
    return data;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    uint32_t t = type_of(element);
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        int32_t n = t == TYPE_INTEGER ? get_integer(element) : 0;
        if (!value) return pick(parent, n, element);
        poke(parent, n, value, element);
        return value;
    }
    int32_t mode = word_is(element, sym_rgb)     ? CHANNEL_RGB
                   : word_is(element, sym_alpha) ? CHANNEL_ALPHA
                   : word_is(element, sym_argb)  ? CHANNEL_ARGB
                                                 : -1;
    if (mode < 0) {
        if (!word_is(element, sym_size) || value) fire(err::invalid_path, path, element);
        return pair::push(static_cast<int32_t>(width_of(parent)),
                          static_cast<int32_t>(height_of(parent)));
    }
    if (!value) return extract_data(parent, mode);
    set_data(parent, value, mode);
    return value;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_IMAGE) return COMPARE_NOT_COMPARABLE;
    if (op == COMP_SAME) return value1->data2 == value2->data2 ? 0 : -1;
    if (op != COMP_EQUAL && op != COMP_NOT_EQUAL && op != COMP_STRICT_EQUAL && op != COMP_FIND)
        return COMPARE_NOT_COMPARABLE;
    uint32_t n1 = count_of(value1), n2 = count_of(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    // Images of one pixel count but other shapes are not equal.
    if (value1->data3 != value2->data3) return value1->data3 < value2->data3 ? -1 : 1;
    if (n1 == 0 || value1->data2 == value2->data2) return 0;
    int r = std::memcmp(pixels(value1), pixels(value2), size_t{n1} * 4);
    return (r > 0) - (r < 0);
}

Cell* at_skip(bool at) {
    Cell* img = stack::arguments;
    Cell* arg = img + 1;
    int64_t n;
    if (type_of(arg) == TYPE_PAIR) {
        int64_t x = x_of(arg), y = y_of(arg), w = width_of(img);
        n = at && y > 0 ? x + w * (y - 1) : x + w * y;
    } else {
        n = integer::get_int(arg);
    }
    if (at) {
        if (n == 0) n = 1;
        n -= 1;
    }
    img->data1 = clamp_index(img, int64_t{img->data1} + n);
    return img;
}

Cell* at() { return at_skip(true); }
Cell* skip() { return at_skip(false); }

Cell* next() {
    Cell* img = stack::arguments;
    if (img->data1 < count_of(img)) img->data1++;
    return img;
}

Cell* tail() {
    Cell* img = stack::arguments;
    img->data1 = count_of(img);
    return img;
}

Cell* tail_q() {
    Cell* img = stack::arguments;
    return make_logic(img, img->data1 >= count_of(img));
}

int32_t length_q(Cell* img) { return static_cast<int32_t>(count_of(img)); }

Cell* change(Cell* img, Cell* value, int32_t part, bool only, int32_t dup) {
    if (part != -1 || dup != 1) fire(err::not_done);
    uint32_t t = type_of(value);
    if (t == TYPE_TUPLE) {
        if (img->data1 < count_of(img)) {
            int64_t at = img->data1;
            notify_change(img, series::Change::change, value, at, 1);
            write_pixel(img, img->data1, pixel_of(value));
            notify_change(img, series::Change::changed, value, at, 1);
            img->data1++;
        }
        return img;
    }
    if (t != TYPE_IMAGE) time::fire_typed(err::invalid_type, t);
    uint32_t x, y;
    uint32_t w = width_of(img), h = height_of(img);
    corner_of(img, std::min(img->data1, count_of(img)), &x, &y);
    if (!img->data2 || !value->data2 || y >= h) return img;
    uint32_t cols = std::min(width_of(value), w - x);
    uint32_t rows = std::min(height_of(value), h - y);
    notify_change(img, series::Change::change, value, img->data1,
                  static_cast<int32_t>(cols * rows));
    const uint8_t* src = pixels(value);
    uint32_t sw = width_of(value);
    if (value->data2 == img->data2) {
        // The same pixels on both sides: copy through a buffer.
        std::string rows_copy(reinterpret_cast<const char*>(src), size_t{count_of(value)} * 4);
        uint8_t* dst = pixels_for_write(img);
        for (uint32_t r = 0; r < rows; r++)
            std::memcpy(dst + (size_t{y + r} * w + x) * 4, rows_copy.data() + size_t{r} * sw * 4,
                        size_t{cols} * 4);
    } else {
        uint8_t* dst = pixels_for_write(img);
        for (uint32_t r = 0; r < rows; r++)
            std::memcpy(dst + (size_t{y + r} * w + x) * 4, src + size_t{r} * sw * 4,
                        size_t{cols} * 4);
    }
    notify_change(img, series::Change::changed, value, img->data1,
                  static_cast<int32_t>(cols * rows));
    img->data1 = (y + rows - 1) * w + std::min(x + width_of(value), w);
    return img;
}

[[noreturn]] void fire_part(Cell* part) {
    Cell word{TYPE_WORD, 0, symbol::make("part"), 0xFFFFFFFFu};
    fire(err::invalid_refine_arg, &word, part);
}

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    uint32_t w = width_of(value), h = height_of(value);
    uint32_t index = std::min(value->data1, count_of(value));
    uint32_t x, y;
    corner_of(value, index, &x, &y);
    if (!value->data2) return make_cell(dest, 0, 0, nullptr);
    if (!part) {
        if (index == 0) return copy_rect(dest, value, 0, 0, w, h);
        if (y >= h) return make_cell(dest, 0, 0, nullptr);
        return copy_rect(dest, value, x, y, w - x, h - y);
    }
    uint32_t pt = type_of(part);
    if (pt == TYPE_INTEGER) fire(err::not_done);
    if (pt == TYPE_PAIR) {
        int64_t pw = x_of(part), ph = y_of(part);
        if (pw > 0 && ph > 0 && index < count_of(value)) {
            uint32_t cw = static_cast<uint32_t>(std::min<int64_t>(pw, w - x));
            uint32_t ch = static_cast<uint32_t>(std::min<int64_t>(ph, h - y));
            return copy_rect(dest, value, x, y, cw, ch);
        }
        if (pw < 0 && ph < 0 && index > 0) {
            // The rectangle ends at the position; the start of a row counts
            // as the end of the one before.
            uint32_t right = x, bottom = y;
            if (x == 0) {
                right = w;
                bottom = y - 1;
            }
            uint32_t cw = static_cast<uint32_t>(std::min<int64_t>(-pw, right));
            uint32_t ch = static_cast<uint32_t>(std::min<int64_t>(-ph, int64_t{bottom} + 1));
            return copy_rect(dest, value, right - cw, bottom + 1 - ch, cw, ch);
        }
        return make_cell(dest, 0, 0, nullptr);
    }
    if (pt == TYPE_IMAGE && part->data2 == value->data2) {
        uint32_t other = std::min(part->data1, count_of(part));
        uint32_t x2, y2;
        corner_of(part, other, &x2, &y2);
        uint32_t left = std::min(index, other) == index ? x : x2;
        uint32_t top = std::min(y, y2);
        uint32_t cw = x > x2 ? x - x2 : x2 - x;
        uint32_t ch = y > y2 ? y - y2 : y2 - y;
        cw = std::min(cw, w - left);
        ch = std::min(ch, h - std::min(top, h));
        return copy_rect(dest, value, left, top, cw, ch);
    }
    fire_part(part);
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers for other modules
// ---------------------------------------------------------------------------

Cell* get_pixel(Cell* out, const Cell* img, uint32_t index) {
    if (index >= count_of(img)) return make_none(out);
    return tuple_of(out, read_pixel(img, index));
}

Cell* extract_data(Cell* img, int32_t mode) {
    size_t n = count_of(img);
    size_t per = mode == CHANNEL_ALPHA ? 1 : mode == CHANNEL_RGB ? 3 : 4;
    Cell* out = stack::push_cell();
    binary::make_cell(out, static_cast<uint32_t>(n * per));
    if (n == 0 || !img->data2) return out;
    memory::SeriesBuffer* b = memory::buffer_of(out);
    uint8_t* dst = b->head_ptr();
    const uint8_t* src = pixels(img);
    if (mode == CHANNEL_ARGB) {
        std::memcpy(dst, src, n * 4);
    } else if (mode == CHANNEL_RGB) {
        for (size_t i = 0; i < n; i++, src += 4, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    } else {
        for (size_t i = 0; i < n; i++) dst[i] = static_cast<uint8_t>(255 - src[i * 4 + 3]);
    }
    b->tail = b->head + static_cast<uint32_t>(n * per);
    return out;
}

void set_data(Cell* img, Cell* value, int32_t mode) {
    uint32_t t = type_of(value);
    bool colour = (t == TYPE_TUPLE || t == TYPE_INTEGER) && mode != CHANNEL_ALPHA;
    if (t != TYPE_BINARY && !colour && !(t == TYPE_INTEGER && mode == CHANNEL_ALPHA))
        fire(err::invalid_arg, value);
    size_t n = count_of(img);
    if (n == 0 || !img->data2) return;
    notify_change(img, series::Change::change, value, 0, static_cast<int32_t>(n));
    uint8_t* dst = pixels_for_write(img);
    if (colour) {
        uint32_t px = t == TYPE_TUPLE ? pixel_of(value) : pixel_of_int(get_integer(value));
        for (size_t i = 0; i < n; i++, dst += 4) {
            if (mode == CHANNEL_ARGB) {
                std::memcpy(dst, &px, 4);
            } else {
                dst[0] = static_cast<uint8_t>(px);
                dst[1] = static_cast<uint8_t>(px >> 8);
                dst[2] = static_cast<uint8_t>(px >> 16);
            }
        }
    } else if (t == TYPE_INTEGER) {
        uint8_t a = static_cast<uint8_t>(255 - get_integer(value));
        for (size_t i = 0; i < n; i++) dst[i * 4 + 3] = a;
    } else {
        const uint8_t* src = binary::ms_head(value);
        size_t len = static_cast<size_t>(binary::ms_length_q(value));
        if (mode == CHANNEL_ARGB) {
            std::memcpy(dst, src, std::min(len, n * 4));
        } else if (mode == CHANNEL_RGB) {
            for (size_t i = 0; i < n && i * 3 + 2 < len; i++, dst += 4) {
                dst[2] = src[i * 3];
                dst[1] = src[i * 3 + 1];
                dst[0] = src[i * 3 + 2];
            }
        } else {
            for (size_t i = 0; i < n && i < len; i++)
                dst[i * 4 + 3] = static_cast<uint8_t>(255 - src[i]);
        }
    }
    notify_change(img, series::Change::changed, value, 0, static_cast<int32_t>(n));
}

bool known_format_q(const uint8_t* b, size_t n) {
    auto starts = [&](const char* sig, size_t len) {
        return n >= len && std::memcmp(b, sig, len) == 0;
    };
    return starts("\x89PNG", 4) || starts("\xFF\xD8\xFF", 3) || starts("BM", 2) ||
           starts("GIF87a", 6) || starts("GIF89a", 6) || starts("II*\0", 4) || starts("MM\0*", 4);
}

namespace {

// Decodes bytes of a known signature into out; the platform's result.
// May collect.
platform::ImageResult decode_into(Cell* out, const uint8_t* bytes, size_t size) {
    uint32_t w = 0, h = 0;
    uint8_t* raw = nullptr;
    platform::ImageResult r = platform::image_decode(bytes, size, MAX_SIDE, &w, &h, &raw);
    Free owned(raw, std::free);
    if (r != platform::IMAGE_OK) return r;
    checked_bytes(w, h);
    make_cell(out, w, h, owned.release());
    return r;
}

} // namespace

bool decode_binary(Cell* out, const uint8_t* bytes, size_t size) {
    if (!known_format_q(bytes, size)) return false;
    platform::ImageResult r = decode_into(out, bytes, size);
    if (r == platform::IMAGE_NO_CODEC) {
        Cell none;
        fire(err::no_codec, make_none(&none));
    }
    if (r != platform::IMAGE_OK) fire(err::bad_media);
    return true;
}

void encode(Cell* img, Cell* target, int32_t format) {
    if (count_of(img) == 0 || !img->data2) fire(err::bad_media);
    uint8_t* raw = nullptr;
    size_t size = 0;
    platform::ImageResult r =
        platform::image_encode(pixels(img), width_of(img), height_of(img), format, &raw, &size);
    Free owned(raw, std::free);
    if (r == platform::IMAGE_NO_CODEC) {
        Cell code;
        fire(err::no_codec, make_integer(&code, format));
    }
    if (r != platform::IMAGE_OK || size > 0x7FFFFFF0) fire(err::bad_media);
    memory::alloc_tail_bytes(target->data2, static_cast<uint32_t>(size));
    memory::SeriesBuffer* b = memory::buffer_of(target);
    std::memcpy(b->tail_ptr() - size, owned.get(), size);
}

// ---------------------------------------------------------------------------
// Natives
// ---------------------------------------------------------------------------

namespace {

// image/known-format? data
void known_format_q_star() {
    Cell* data = stack::arguments;
    bool known =
        known_format_q(binary::ms_head(data), static_cast<size_t>(binary::ms_length_q(data)));
    make_logic(data, known);
}

// image/decode data: a binary! (none for an unknown signature) or a file!.
void decode_star() {
    Cell* data = stack::arguments;
    if (type_of(data) == TYPE_BINARY) {
        size_t n = static_cast<size_t>(binary::ms_length_q(data));
        std::string bytes(reinterpret_cast<const char*>(binary::ms_head(data)), n);
        Cell* out = stack::push_cell();
        if (!decode_binary(out, reinterpret_cast<const uint8_t*>(bytes.data()), n)) make_none(out);
        *data = *out;
        return;
    }
    std::u16string path = file::to_OS_path(data);
    size_t size = 0;
    Free bytes(platform::read_file(path.c_str(), &size), std::free);
    Cell* out = stack::push_cell();
    platform::ImageResult r = platform::IMAGE_FAILED;
    if (bytes && known_format_q(bytes.get(), size)) r = decode_into(out, bytes.get(), size);
    // A build without a decoder for the format says so rather than blame
    // the file.
    if (r == platform::IMAGE_NO_CODEC) fire(err::no_codec, data);
    if (r != platform::IMAGE_OK) fire(err::cannot_open, data);
    *data = *out;
}

uint32_t format_code(Cell* format) {
    if (type_of(format) == TYPE_INTEGER) return static_cast<uint32_t>(get_integer(format));
    const uint32_t syms[] = {sym_bmp, sym_png, sym_gif, sym_jpeg, sym_tiff};
    for (uint32_t i = 0; i < 5; i++)
        if (word_is(format, syms[i])) return i;
    return 5;
}

// image/encode img where format: where a binary! (appended to) or none.
void encode_star() {
    Cell* args = stack::arguments;
    Cell* img = args;
    Cell* where = args + 1;
    uint32_t code = format_code(args + 2);
    if (code > IMAGE_TIFF) {
        console::write_cstring("Cannot find image encoder\n");
        make_none(args);
        return;
    }
    if (type_of(where) != TYPE_BINARY) binary::make_cell(where, 0);
    encode(img, where, static_cast<int32_t>(code));
    *args = *where;
}

// image/resize img size
void resize_star() {
    Cell* args = stack::arguments;
    Cell* out = stack::push_cell();
    scale(out, args, static_cast<uint32_t>(std::max(x_of(args + 1), 0)),
          static_cast<uint32_t>(std::max(y_of(args + 1), 0)));
    *args = *out;
}

} // namespace

void register_natives() {
    sym_size = symbol::make("size");
    sym_rgb = symbol::make("rgb");
    sym_alpha = symbol::make("alpha");
    sym_argb = symbol::make("argb");
    sym_bmp = symbol::make("bmp");
    sym_png = symbol::make("png");
    sym_gif = symbol::make("gif");
    sym_jpeg = symbol::make("jpeg");
    sym_tiff = symbol::make("tiff");
    MOX_NATIVES_IMAGE(MOX_NATIVE_REGISTER)
}

void init_wic() { platform::imaging_init(); }

void init() {
    init_store();
    auto slots = datatype::ActionSlots::none();
    slots.set<A_MAKE>(&make)
        .set<A_TO>(&to)
        .set<A_FORM>(&form)
        .set<A_MOLD>(&mold)
        .set<A_EVAL_PATH>(&eval_path)
        .set<A_COMPARE>(&compare)
        .set<A_AT>(&at)
        .set<A_CHANGE>(&change)
        .set<A_COPY>(&copy)
        .set<A_LENGTH_Q>(&length_q)
        .set<A_NEXT>(&next)
        .set<A_PICK>(&pick)
        .set<A_POKE>(&poke)
        .set<A_SKIP>(&skip)
        .set<A_TAIL>(&tail)
        .set<A_TAIL_Q>(&tail_q)
        .inherit<A_BACK>()
        .inherit<A_HEAD>()
        .inherit<A_HEAD_Q>()
        .inherit<A_INDEX_Q>()
        .inherit<A_MODIFY>();
    datatype::register_type(TYPE_IMAGE, TYPE_SERIES, "image!", slots);
}

} // namespace mox::image

// The system clipboard (see clipboard.h). Values are turned into the
// clipboard's formats before the platform layer opens it, and what comes
// back is parsed here, where every length and offset is checked.
#include "io/clipboard.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/image-store.h"
#include "datatypes/image.h"
#include "datatypes/string.h"
#include "platform/platform.h"

namespace mox::clipboard {

namespace {

constexpr size_t DROPFILES_HEADER = 20;

uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// UTF-16 of a string from its index (crlf: LF as CR LF). May collect.
std::u16string utf16_of(Cell* str, bool crlf) {
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(str, &length, crlf);
    if (!units) fire(err::invalid_arg, str);
    return std::u16string(units, static_cast<size_t>(length));
}

// Appends a string! (of type) of UTF-16 units to the block in list. May
// collect.
void append_text(Cell* list, const std::u16string& text, uint32_t type) {
    Cell* made =
        string::load_in(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<uint32_t>(text.size()), list->data2, string::ENCODING_UTF16LE);
    set_type(made, type);
}

} // namespace

std::vector<std::u16string> read_dropfiles(const uint8_t* block, size_t size) {
    std::vector<std::u16string> names;
    if (!block || size < DROPFILES_HEADER) return names;
    const uint32_t offset = read_u32(block);
    const bool wide = read_u32(block + 16) != 0;
    if (offset < DROPFILES_HEADER || offset >= size) return names;
    size_t at = offset;
    for (;;) {
        std::u16string name;
        bool ended = false;
        if (wide) {
            for (; at + 1 < size; at += 2) {
                const char16_t u = static_cast<char16_t>(block[at] | block[at + 1] << 8);
                if (u == 0) {
                    ended = true;
                    at += 2;
                    break;
                }
                name += u;
            }
        } else {
            size_t start = at;
            while (at < size && block[at]) at++;
            if (at < size) {
                ended = true;
                if (at > start) {
                    size_t units = 0;
                    std::unique_ptr<char16_t, void (*)(void*)> text(
                        platform::ansi_to_utf16(block + start, at - start, &units), std::free);
                    if (text) name.assign(text.get(), units);
                }
                at++;
            }
        }
        if (!ended || name.empty()) break;
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<uint8_t> make_dropfiles(const std::vector<std::u16string>& paths) {
    size_t units = 1;
    for (const std::u16string& p : paths) units += p.size() + 1;
    std::vector<uint8_t> block(DROPFILES_HEADER + 2 * units, 0);
    put_u32(block.data(), DROPFILES_HEADER);
    put_u32(block.data() + 16, 1);
    size_t at = DROPFILES_HEADER;
    for (const std::u16string& p : paths) {
        std::memcpy(block.data() + at, p.data(), 2 * p.size());
        at += 2 * (p.size() + 1);
    }
    return block;
}

namespace {

uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A colour mask's lowest bit and width; false for a mask whose bits are not
// contiguous.
bool mask_shape(uint32_t mask, uint32_t* shift, uint32_t* bits) {
    *shift = 0;
    *bits = 0;
    if (!mask) return true;
    while (!(mask & 1)) {
        mask >>= 1;
        (*shift)++;
    }
    while (mask & 1) {
        mask >>= 1;
        (*bits)++;
    }
    return mask == 0;
}

struct Channel {
    uint32_t mask, shift, bits;
    // The channel of a pixel word scaled to 0-255 (missing: fallback).
    uint8_t of(uint32_t px, uint8_t fallback) const {
        if (!mask) return fallback;
        uint64_t v = (px & mask) >> shift;
        uint64_t max = (uint64_t{1} << bits) - 1;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

} // namespace

bool read_dib(const uint8_t* block, size_t size, uint32_t* width, uint32_t* height,
              std::vector<uint8_t>* pixels, int64_t pixel_offset) {
    constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3;
    if (!block || size < 40) return false;
    const uint32_t header = read_u32(block);
    if (header < 40 || header > size) return false;
    const int32_t w = static_cast<int32_t>(read_u32(block + 4));
    const int32_t h = static_cast<int32_t>(read_u32(block + 8));
    const uint16_t bpp = read_u16(block + 14);
    const uint32_t compression = read_u32(block + 16);
    const uint32_t colours_used = read_u32(block + 32);
    if (read_u16(block + 12) != 1 || w <= 0 || w > 65535 || h == 0 || h < -65535 || h > 65535)
        return false;
    if (bpp != 24 && bpp != 32) return false;
    if (compression != BI_RGB && !(compression == BI_BITFIELDS && bpp == 32)) return false;
    uint64_t offset = header;
    uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
    if (compression == BI_BITFIELDS) {
        // A plain 40-byte header is followed by the three masks; larger ones
        // hold them, and the alpha mask after them.
        const uint8_t* at = block + 40;
        if (header == 40) {
            if (size < 52) return false;
            offset += 12;
        } else if (header < 52) {
            return false;
        }
        for (int i = 0; i < 3; i++) masks[i] = read_u32(at + 4 * i);
        if (header >= 56) masks[3] = read_u32(block + 52);
    }
    if (colours_used > size) return false;
    offset += uint64_t{colours_used} * 4;
    if (pixel_offset >= 0) {
        if (static_cast<uint64_t>(pixel_offset) < offset) return false;
        offset = static_cast<uint64_t>(pixel_offset);
    }
    Channel channels[4];
    for (int i = 0; i < 4; i++) {
        channels[i].mask = masks[i];
        if (!mask_shape(masks[i], &channels[i].shift, &channels[i].bits)) return false;
    }
    const uint64_t stride = ((uint64_t(w) * bpp + 31) / 32) * 4;
    const uint64_t rows = static_cast<uint64_t>(h < 0 ? -int64_t{h} : h);
    if (offset > size || stride * rows > size - offset) return false;
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(rows);
    if (!pixels) return true;
    pixels->assign(static_cast<size_t>(uint64_t(w) * rows * 4), 0);
    uint8_t* out = pixels->data();
    for (uint64_t y = 0; y < rows; y++) {
        // Rows run bottom up unless the height is negative.
        const uint64_t source_row = h > 0 ? rows - 1 - y : y;
        const uint8_t* row = block + offset + source_row * stride;
        for (int32_t x = 0; x < w; x++, out += 4) {
            if (bpp == 24) {
                out[0] = row[3 * x];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x + 2];
                out[3] = 255;
                continue;
            }
            const uint32_t px = read_u32(row + 4 * x);
            out[0] = channels[2].of(px, 0);
            out[1] = channels[1].of(px, 0);
            out[2] = channels[0].of(px, 0);
            out[3] = channels[3].of(px, 255);
        }
    }
    return true;
}

std::vector<uint8_t> make_dibv5(const uint8_t* pixels, uint32_t width, uint32_t height) {
    constexpr size_t HEADER = 124;
    const size_t bytes = size_t{width} * height * 4;
    std::vector<uint8_t> block(HEADER + bytes, 0);
    uint8_t* p = block.data();
    put_u32(p, HEADER);
    put_u32(p + 4, width);
    put_u32(p + 8, static_cast<uint32_t>(-static_cast<int32_t>(height)));
    p[12] = 1;          // planes
    p[14] = 32;         // bits per pixel
    put_u32(p + 16, 3); // BI_BITFIELDS
    put_u32(p + 20, static_cast<uint32_t>(bytes));
    put_u32(p + 40, 0xFF0000);
    put_u32(p + 44, 0xFF00);
    put_u32(p + 48, 0xFF);
    put_u32(p + 52, 0xFF000000);
    put_u32(p + 56, 0x57696E20); // LCS_WINDOWS_COLOR_SPACE
    put_u32(p + 108, 4);         // intent
    if (bytes) std::memcpy(p + HEADER, pixels, bytes);
    return block;
}

std::u16string to_mox_file(const std::u16string& path) {
    std::u16string out;
    size_t i = 0;
    if (path.size() >= 2 && path[1] == u':') {
        out = {u'/', path[0]};
        i = 2;
        if (path.size() == 2) out += u'/';
    } else if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        out = u"/";
        i = 2;
    } else if (!path.empty() && path[0] == u'\\') {
        out = u"//";
        i = 1;
    }
    for (; i < path.size(); i++) out += path[i] == u'\\' ? u'/' : path[i];
    return out;
}

namespace {

// Whether read_dib takes the block; for any other kind (fewer bits a pixel,
// a palette, run-length or other compression) the system's own bitmap of
// it stands in.
bool dib_readable(const uint8_t* block, size_t size) {
    uint32_t width = 0, height = 0;
    return read_dib(block, size, &width, &height, nullptr);
}

} // namespace

void read(Cell* slot) {
    uint8_t* raw = nullptr;
    size_t size = 0;
    void* bitmap = nullptr;
    const platform::ClipKind kind = platform::clipboard_read(&raw, &size, dib_readable, &bitmap);
    std::unique_ptr<uint8_t, void (*)(void*)> bytes(raw, std::free);
    switch (kind) {
    case platform::CLIP_FAILED:
        make_logic(slot, false);
        return;
    case platform::CLIP_TEXT: {
        // The text ends at its NUL, or at the end of the block without one.
        size_t units = 0;
        while (2 * units + 1 < size && (bytes.get()[2 * units] | bytes.get()[2 * units + 1]))
            units++;
        string::load_at(bytes.get(), static_cast<uint32_t>(units), slot, string::ENCODING_UTF16LE);
        return;
    }
    case platform::CLIP_FILES: {
        const std::vector<std::u16string> names = read_dropfiles(bytes.get(), size);
        Cell* list = stack::push_cell();
        block::make_at(list, static_cast<int32_t>(names.size()) + 1);
        for (const std::u16string& name : names) append_text(list, to_mox_file(name), TYPE_FILE);
        *slot = *list;
        stack::pop(1);
        return;
    }
    case platform::CLIP_ENCODED_IMAGE:
        if (!image::decode_binary(slot, bytes.get(), size)) make_none(slot);
        return;
    case platform::CLIP_DIB: {
        uint32_t width = 0, height = 0;
        std::vector<uint8_t> pixels;
        if (!read_dib(bytes.get(), size, &width, &height, &pixels)) {
            make_none(slot);
            return;
        }
        Cell* made = stack::push_cell();
        image::make_from_pixels(made, pixels.data(), width, height, width * 4, 0);
        *slot = *made;
        stack::pop(1);
        return;
    }
    case platform::CLIP_BITMAP: {
        std::unique_ptr<void, void (*)(void*)> owned(bitmap, platform::delete_bitmap);
        Cell* made = stack::push_cell();
        image::from_HBITMAP(made, bitmap);
        // The DIBs that come this way carry no transparency, and the
        // device bitmap the system makes of them leaves its alpha bytes 0,
        // which would read as fully transparent: they are opaque.
        if (type_of(made) == TYPE_IMAGE && made->data2) {
            uint8_t* px = image::pixels_for_write(made);
            for (size_t i = 3; i < size_t{image::count_of(made)} * 4; i += 4) px[i] = 255;
        }
        *slot = *made;
        stack::pop(1);
        return;
    }
    default:
        make_none(slot);
        return;
    }
}

bool write(Cell* value) {
    const uint32_t t = type_of(value);
    std::u16string text;
    std::vector<uint8_t> files;
    std::vector<uint8_t> png, dib;
    platform::ClipItem items[2] = {{platform::CLIP_NONE, nullptr, 0},
                                   {platform::CLIP_NONE, nullptr, 0}};
    platform::ClipItem& item = items[0];
    int count = 1;
    if (t == TYPE_IMAGE) {
        if (image::count_of(value) == 0 || !value->data2)
            return platform::clipboard_write(items, 0);
        Cell* encoded = binary::make_cell(stack::push_cell(), 0);
        image::encode(value, encoded, image::IMAGE_PNG);
        png.assign(binary::ms_head(encoded),
                   binary::ms_head(encoded) + binary::ms_length_q(encoded));
        stack::pop(1);
        dib = make_dibv5(image::pixels(value), image::width_of(value), image::height_of(value));
        items[0] = {platform::CLIP_ENCODED_IMAGE, png.data(), png.size()};
        items[1] = {platform::CLIP_DIB, dib.data(), dib.size()};
        count = 2;
    } else if (t == TYPE_STRING) {
        text = utf16_of(value, true);
        item = {platform::CLIP_TEXT, text.c_str(), 2 * (text.size() + 1)};
    } else if (t == TYPE_BLOCK) {
        std::vector<std::u16string> paths;
        const int32_t n = block::ms_length_q(value);
        for (int32_t i = 0; i < n; i++) {
            Cell* saved = stack::top;
            Cell* entry = stack::push(block::ms_head(value) + i);
            if (!is_any_string(type_of(entry))) fire(err::invalid_arg, entry);
            Cell* local = string::push_new(static_cast<uint32_t>(string::ms_length_q(entry)) + 3);
            file::to_local_path(entry, local, false);
            paths.push_back(utf16_of(local, false));
            stack::top = saved;
        }
        files = make_dropfiles(paths);
        item = {platform::CLIP_FILES, files.data(), files.size()};
    } else if (t != TYPE_NONE) {
        fire(err::invalid_arg, value);
    }
    return platform::clipboard_write(items, item.kind == platform::CLIP_NONE ? 0 : count);
}

} // namespace mox::clipboard

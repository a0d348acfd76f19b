// The imaging layer of the native build: no system codecs here, so PNG and
// BMP are read and written by small portable coders (over the runtime's
// own deflate and CRC-32); the other formats answer IMAGE_NO_CODEC.
//
// PNG: every colour type and bit depth, plain or interlaced, is read;
// chunk CRCs are checked and the image data must inflate to exactly the
// rows the header announces. Images are written as 8-bit RGBA, each row
// with the filter whose output has the smallest sum of magnitudes. BMP:
// 24-bit and 32-bit files are read through the clipboard's DIB reader and
// written 24-bit, rows bottom up.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "evaluator/checksum.h"
#include "io/clipboard.h"
#include "io/deflate.h"
#include "platform/imaging.h"

namespace mox::platform {

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int IMAGE_BMP = 0, IMAGE_PNG = 1;

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Hands a buffer to the caller (malloc'd, as the layer promises).
uint8_t* hand_over(const std::vector<uint8_t>& bytes) {
    auto* out = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (out && !bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    return out;
}

// ---------------------------------------------------------------------------
// PNG reading
// ---------------------------------------------------------------------------

struct PngHeader {
    uint32_t width, height;
    uint8_t depth, colour, interlace;
    uint32_t channels() const { return colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1; }
    uint32_t bits_per_pixel() const { return channels() * depth; }
    // Bytes of one filtered row of w pixels (without the filter byte).
    uint64_t row_bytes(uint32_t w) const { return (uint64_t{w} * bits_per_pixel() + 7) / 8; }
};

bool valid_depth(uint8_t colour, uint8_t depth) {
    switch (colour) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

// The passes of the interlaced layout: start and step in x and y.
struct Pass {
    uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kPlain = {0, 0, 1, 1};

uint32_t pass_size(uint32_t total, uint32_t start, uint32_t step) {
    return total > start ? (total - start + step - 1) / step : 0;
}

// Undoes the row filters in place; false for an unknown filter type.
bool unfilter(uint8_t* data, uint32_t rows, uint64_t row_bytes, uint32_t bpp_bytes) {
    std::vector<uint8_t> zero(row_bytes, 0);
    const uint8_t* prev = zero.data();
    for (uint32_t y = 0; y < rows; y++) {
        uint8_t* line = data + y * (row_bytes + 1);
        uint8_t filter = line[0];
        uint8_t* row = line + 1;
        for (uint64_t i = 0; i < row_bytes; i++) {
            int a = i >= bpp_bytes ? row[i - bpp_bytes] : 0;
            int b = prev[i];
            int c = i >= bpp_bytes ? prev[i - bpp_bytes] : 0;
            int pred;
            switch (filter) {
            case 0:
                pred = 0;
                break;
            case 1:
                pred = a;
                break;
            case 2:
                pred = b;
                break;
            case 3:
                pred = (a + b) / 2;
                break;
            case 4:
                pred = paeth(a, b, c);
                break;
            default:
                return false;
            }
            row[i] = static_cast<uint8_t>(row[i] + pred);
        }
        prev = row;
    }
    return true;
}

// One sample of a row (depths below 8 packed from the high bits).
uint32_t sample(const uint8_t* row, uint64_t index, uint8_t depth) {
    if (depth == 8) return row[index];
    if (depth == 16) return uint32_t{row[2 * index]} << 8 | row[2 * index + 1];
    uint64_t bit = index * depth;
    uint32_t byte = row[bit / 8];
    return (byte >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

struct Transparency {
    std::vector<uint8_t> palette_alpha;
    bool has_key = false;
    uint32_t key[3] = {0, 0, 0};
};

// Scales a sample of the depth to 8 bits.
uint8_t to8(uint32_t v, uint8_t depth) {
    if (depth == 16) return static_cast<uint8_t>(v >> 8);
    if (depth == 8) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>(v * 255 / ((1u << depth) - 1));
}

bool decode_png(const uint8_t* bytes, size_t size, uint32_t max_side, uint32_t* width,
                uint32_t* height, std::vector<uint8_t>* pixels) {
    if (size < 8 || std::memcmp(bytes, kPngSignature, 8) != 0) return false;
    size_t at = 8;
    PngHeader h{};
    bool have_header = false, ended = false;
    std::vector<uint8_t> idat, palette;
    Transparency trns;
    while (at + 12 <= size) {
        uint32_t length = be32(bytes + at);
        if (length > size - at - 12) return false;
        const uint8_t* type = bytes + at + 4;
        const uint8_t* body = bytes + at + 8;
        if (checksum::crc32(type, length + 4) != be32(body + length)) return false;
        at += 12 + size_t{length};
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (have_header || length != 13) return false;
            h.width = be32(body);
            h.height = be32(body + 4);
            h.depth = body[8];
            h.colour = body[9];
            h.interlace = body[12];
            if (h.width == 0 || h.height == 0 || h.width > max_side || h.height > max_side ||
                !valid_depth(h.colour, h.depth) || body[10] != 0 || body[11] != 0 ||
                h.interlace > 1)
                return false;
            have_header = true;
        } else if (!have_header) {
            return false;
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            if (length % 3 != 0 || length > 768) return false;
            palette.assign(body, body + length);
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            if (h.colour == 3) {
                trns.palette_alpha.assign(body, body + length);
            } else if ((h.colour == 0 && length == 2) || (h.colour == 2 && length == 6)) {
                trns.has_key = true;
                for (uint32_t i = 0; i < length / 2; i++)
                    trns.key[i] = uint32_t{body[2 * i]} << 8 | body[2 * i + 1];
            }
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.insert(idat.end(), body, body + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            ended = true;
            break;
        } else if (!(type[0] & 0x20)) {
            return false; // an unknown chunk that is critical
        }
    }
    if (!have_header || !ended || (h.colour == 3 && palette.empty())) return false;
    const int passes = h.interlace ? 7 : 1;
    const Pass* layout = h.interlace ? kAdam7 : &kPlain;
    uint64_t expected = 0;
    for (int p = 0; p < passes; p++) {
        uint32_t pw = pass_size(h.width, layout[p].x0, layout[p].dx);
        uint32_t ph = pass_size(h.height, layout[p].y0, layout[p].dy);
        if (pw && ph) expected += uint64_t{ph} * (h.row_bytes(pw) + 1);
    }
    // Deflate expands at most about 1032 times: a header promising more
    // than its data can hold fails before anything large is allocated.
    if (expected > 0x7FFFFFF0 || idat.size() > 0x7FFFFFF0 ||
        expected > uint64_t{idat.size()} * 1040 + 1024 ||
        uint64_t{h.width} * h.height * 4 > 0x7FFFFFF0)
        return false;
    std::vector<uint8_t> raw(expected + 1);
    int32_t produced = static_cast<int32_t>(raw.size());
    if (deflate::zlib_decompress(raw.data(), &produced, idat.data(),
                                 static_cast<int32_t>(idat.size())) != deflate::OK ||
        static_cast<uint64_t>(produced) != expected)
        return false;
    pixels->assign(size_t{h.width} * h.height * 4, 0);
    const uint32_t channels = h.channels();
    const uint32_t bpp_bytes = (h.bits_per_pixel() + 7) / 8;
    const size_t colours = palette.size() / 3;
    uint8_t* data = raw.data();
    for (int p = 0; p < passes; p++) {
        uint32_t pw = pass_size(h.width, layout[p].x0, layout[p].dx);
        uint32_t ph = pass_size(h.height, layout[p].y0, layout[p].dy);
        if (!pw || !ph) continue;
        uint64_t rb = h.row_bytes(pw);
        if (!unfilter(data, ph, rb, bpp_bytes)) return false;
        for (uint32_t y = 0; y < ph; y++) {
            const uint8_t* row = data + y * (rb + 1) + 1;
            for (uint32_t x = 0; x < pw; x++) {
                uint32_t s[4];
                for (uint32_t c = 0; c < channels; c++)
                    s[c] = sample(row, uint64_t{x} * channels + c, h.depth);
                uint8_t r, g, b, a = 255;
                switch (h.colour) {
                case 0:
                    r = g = b = to8(s[0], h.depth);
                    if (trns.has_key && s[0] == trns.key[0]) a = 0;
                    break;
                case 2:
                    r = to8(s[0], h.depth);
                    g = to8(s[1], h.depth);
                    b = to8(s[2], h.depth);
                    if (trns.has_key && s[0] == trns.key[0] && s[1] == trns.key[1] &&
                        s[2] == trns.key[2])
                        a = 0;
                    break;
                case 3:
                    if (s[0] >= colours) return false;
                    r = palette[3 * s[0]];
                    g = palette[3 * s[0] + 1];
                    b = palette[3 * s[0] + 2];
                    if (s[0] < trns.palette_alpha.size()) a = trns.palette_alpha[s[0]];
                    break;
                case 4:
                    r = g = b = to8(s[0], h.depth);
                    a = to8(s[1], h.depth);
                    break;
                default:
                    r = to8(s[0], h.depth);
                    g = to8(s[1], h.depth);
                    b = to8(s[2], h.depth);
                    a = to8(s[3], h.depth);
                }
                size_t px = (size_t{layout[p].y0 + y * layout[p].dy} * h.width + layout[p].x0 +
                             x * layout[p].dx) *
                            4;
                uint8_t* out = pixels->data() + px;
                out[0] = b;
                out[1] = g;
                out[2] = r;
                out[3] = a;
            }
        }
        data += ph * (rb + 1);
    }
    *width = h.width;
    *height = h.height;
    return true;
}

// ---------------------------------------------------------------------------
// PNG writing
// ---------------------------------------------------------------------------

void put_chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* body, size_t n) {
    put_be32(out, static_cast<uint32_t>(n));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body, body + n);
    put_be32(out, checksum::crc32(out.data() + start, n + 4));
}

bool encode_png(const uint8_t* bgra, uint32_t w, uint32_t h, std::vector<uint8_t>* out) {
    const size_t stride = size_t{w} * 4;
    std::vector<uint8_t> raw((stride + 1) * h);
    std::vector<uint8_t> cur(stride), prev(stride, 0), best(stride), trial(stride);
    for (uint32_t y = 0; y < h; y++) {
        const uint8_t* src = bgra + y * stride;
        for (size_t i = 0; i < stride; i += 4) {
            cur[i] = src[i + 2];
            cur[i + 1] = src[i + 1];
            cur[i + 2] = src[i];
            cur[i + 3] = src[i + 3];
        }
        uint64_t best_sum = UINT64_MAX;
        uint8_t best_filter = 0;
        for (uint8_t f = 0; f < 5; f++) {
            uint64_t sum = 0;
            for (size_t i = 0; i < stride; i++) {
                int a = i >= 4 ? cur[i - 4] : 0, b = prev[i], c = i >= 4 ? prev[i - 4] : 0;
                int pred = f == 0   ? 0
                           : f == 1 ? a
                           : f == 2 ? b
                           : f == 3 ? (a + b) / 2
                                    : paeth(a, b, c);
                trial[i] = static_cast<uint8_t>(cur[i] - pred);
                sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(trial[i])));
            }
            if (sum < best_sum) {
                best_sum = sum;
                best_filter = f;
                best.swap(trial);
            }
        }
        raw[y * (stride + 1)] = best_filter;
        std::memcpy(raw.data() + y * (stride + 1) + 1, best.data(), stride);
        prev.swap(cur);
    }
    if (raw.size() > 0x7FFF0000) return false;
    int32_t capacity = static_cast<int32_t>(raw.size() + raw.size() / 8 + 1024);
    std::vector<uint8_t> packed(static_cast<size_t>(capacity));
    int32_t n = capacity;
    int32_t r =
        deflate::zlib_compress(packed.data(), &n, raw.data(), static_cast<int32_t>(raw.size()));
    if (r == deflate::TOO_SMALL) {
        packed.resize(static_cast<size_t>(n));
        r = deflate::zlib_compress(packed.data(), &n, raw.data(), static_cast<int32_t>(raw.size()));
    }
    if (r != deflate::OK) return false;
    out->assign(kPngSignature, kPngSignature + 8);
    std::vector<uint8_t> ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    put_chunk(*out, "IHDR", ihdr.data(), ihdr.size());
    put_chunk(*out, "IDAT", packed.data(), static_cast<size_t>(n));
    put_chunk(*out, "IEND", nullptr, 0);
    return true;
}

// ---------------------------------------------------------------------------
// BMP
// ---------------------------------------------------------------------------

bool decode_bmp(const uint8_t* bytes, size_t size, uint32_t max_side, uint32_t* width,
                uint32_t* height, std::vector<uint8_t>* pixels) {
    if (size < 14 + 40 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    uint32_t offset = uint32_t{bytes[10]} | uint32_t{bytes[11]} << 8 | uint32_t{bytes[12]} << 16 |
                      uint32_t{bytes[13]} << 24;
    if (offset < 14 || offset > size) return false;
    if (!clipboard::read_dib(bytes + 14, size - 14, width, height, pixels, offset - 14))
        return false;
    return *width <= max_side && *height <= max_side;
}

void encode_bmp(const uint8_t* bgra, uint32_t w, uint32_t h, std::vector<uint8_t>* out) {
    const uint32_t stride = (w * 3 + 3) & ~3u;
    const uint32_t image = stride * h;
    out->clear();
    out->push_back('B');
    out->push_back('M');
    put_le(*out, 54 + image, 4);
    put_le(*out, 0, 4);
    put_le(*out, 54, 4);
    put_le(*out, 40, 4);
    put_le(*out, w, 4);
    put_le(*out, h, 4);
    put_le(*out, 1, 2);
    put_le(*out, 24, 2);
    put_le(*out, 0, 4);
    put_le(*out, image, 4);
    put_le(*out, 2835, 4); // 72 dots per inch
    put_le(*out, 2835, 4);
    put_le(*out, 0, 4);
    put_le(*out, 0, 4);
    for (uint32_t y = h; y-- > 0;) {
        const uint8_t* row = bgra + size_t{y} * w * 4;
        for (uint32_t x = 0; x < w; x++) out->insert(out->end(), row + 4 * x, row + 4 * x + 3);
        out->insert(out->end(), stride - w * 3, 0);
    }
}

} // namespace

bool imaging_init() { return true; }

ImageResult image_decode(const uint8_t* bytes, size_t size, uint32_t max_side, uint32_t* width,
                         uint32_t* height, uint8_t** pixels) {
    *pixels = nullptr;
    std::vector<uint8_t> out;
    bool ok;
    try {
        if (size >= 8 && std::memcmp(bytes, kPngSignature, 8) == 0)
            ok = decode_png(bytes, size, max_side, width, height, &out);
        else if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
            ok = decode_bmp(bytes, size, max_side, width, height, &out);
        else
            return IMAGE_NO_CODEC;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) return IMAGE_FAILED;
    *pixels = hand_over(out);
    return *pixels ? IMAGE_OK : IMAGE_FAILED;
}

ImageResult image_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int format,
                         uint8_t** out, size_t* size) {
    *out = nullptr;
    *size = 0;
    std::vector<uint8_t> bytes;
    if (format == IMAGE_PNG) {
        if (!encode_png(pixels, width, height, &bytes)) return IMAGE_FAILED;
    } else if (format == IMAGE_BMP) {
        encode_bmp(pixels, width, height, &bytes);
    } else {
        return IMAGE_NO_CODEC;
    }
    *out = hand_over(bytes);
    *size = bytes.size();
    return *out ? IMAGE_OK : IMAGE_FAILED;
}

void* image_to_gdi_bitmap(const uint8_t*, uint32_t, uint32_t) { return nullptr; }

ImageResult image_from_gdi_bitmap(void*, uint32_t, uint32_t*, uint32_t*, uint8_t** pixels) {
    *pixels = nullptr;
    return IMAGE_NO_CODEC;
}

void* image_gdiplus_bitmap(uint8_t*, uint32_t, uint32_t) { return nullptr; }

void image_gdiplus_dispose(void*) {}

} // namespace mox::platform

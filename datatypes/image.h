// image!: a rectangle of 32-bit pixels walked like a series of pixels (type
// 53, parent series!). The cell holds the index in pixels (data1), the image
// node (data2, see datatypes/image-store.h) and the size word height << 16 |
// width (data3). Colours are RGBA tuple!s whose fourth byte is transparency:
// 255 minus the stored alpha.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::image {

// Channel modes of extract_data and set_data.
enum Channel : int32_t { CHANNEL_ALPHA = 0, CHANNEL_RGB = 1, CHANNEL_ARGB = 2 };

// Encoder format codes.
enum Format : int32_t {
    IMAGE_BMP = 0,
    IMAGE_PNG = 1,
    IMAGE_GIF = 2,
    IMAGE_JPEG = 3,
    IMAGE_TIFF = 4
};

// A new binary! of the channel over the whole image, pushed. May collect.
Cell* extract_data(Cell* img, int32_t mode);
// Sets the channel from a binary!, tuple! or integer! (else invalid-arg).
void set_data(Cell* img, Cell* value, int32_t mode);
// The pixel at an absolute index as a tuple!, none at or past the end.
Cell* get_pixel(Cell* out, const Cell* img, uint32_t index);

bool known_format_q(const uint8_t* bytes, size_t size);
// An image! from encoded bytes into out: false for an unknown signature;
// access bad-media when the decoder fails, no-codec when this build has
// none for the format. May collect.
bool decode_binary(Cell* out, const uint8_t* bytes, size_t size);
// Appends the image encoded in the format to target (a binary!). May
// collect.
void encode(Cell* img, Cell* target, int32_t format);

// The View back end's picture of a face for `to image!` (set by a back end
// that has windows): false when the object is not a face, else the image,
// or none, in out. May collect.
extern bool (*face_to_image)(const Cell* object, Cell* out);

// Starts the imaging layer (before image! registers).
void init_wic();
// Registers image! and the store's kind.
void init();
// The natives image/known-format?, decode, encode and resize (ids 117-120;
// the codec objects of system/codecs call 118 and 119) and the words they
// and the paths read.
void register_natives();

} // namespace mox::image

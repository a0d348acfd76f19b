// The imaging layer of the platform: decoders and encoders of the image file
// formats. The Windows build uses the Windows Imaging Component; the native
// build keeps a small portable path for PNG and BMP and has no codec for
// the others. Pixels cross this layer as straight 32-bit BGRA, rows top
// down, width x 4 bytes apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::platform {

enum ImageResult { IMAGE_OK = 0, IMAGE_FAILED = 1, IMAGE_NO_CODEC = 2 };

// Starts the layer once; false when it cannot (every codec call then
// answers IMAGE_NO_CODEC).
bool imaging_init();

// Decodes the first frame. On success *pixels is a malloc'd buffer the
// caller frees, of width x height x 4 bytes (sides checked against
// max_side before anything is allocated).
ImageResult image_decode(const uint8_t* bytes, size_t size, uint32_t max_side, uint32_t* width,
                         uint32_t* height, uint8_t** pixels);

// Encodes in the format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF); *out is a
// malloc'd buffer of *size bytes the caller frees.
ImageResult image_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int format,
                         uint8_t** out, size_t* size);

// GDI and GDI+ exchange (Windows only: the native build answers null and
// IMAGE_NO_CODEC). A 32-bit GDI bitmap with a copy of the pixels; the
// pixels of a GDI bitmap (its alpha used), as image_decode hands them out;
// a GDI+ 32-bit ARGB bitmap over the caller's pixels (which must outlive
// it), and its disposal.
void* image_to_gdi_bitmap(const uint8_t* pixels, uint32_t width, uint32_t height);
ImageResult image_from_gdi_bitmap(void* bitmap, uint32_t max_side, uint32_t* width,
                                  uint32_t* height, uint8_t** pixels);
void* image_gdiplus_bitmap(uint8_t* pixels, uint32_t width, uint32_t height);
void image_gdiplus_dispose(void* bitmap);

} // namespace mox::platform

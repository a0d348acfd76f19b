// The imaging layer on Windows: the Windows Imaging Component's decoders and
// encoders over memory streams. Decoding converts the first frame to 32-bit
// BGRA and copies it out at once, so bad data fails here and never at a
// later pixel read.
#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/imaging.h"

// The GDI+ flat entries used here (the C++ wrapper headers do not build with
// the runtime's compile settings).
extern "C" int WINAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride, INT format,
                                                BYTE* scan0, void** bitmap);
extern "C" int WINAPI GdipDisposeImage(void* image);

namespace mox::platform {

namespace {

constexpr INT kGdiplusArgb32 = 0x26200A; // PixelFormat32bppARGB

// The standard identifiers of the imaging factory, its interface, the
// 32-bit BGRA pixel format and the five containers.
constexpr GUID kFactoryClass = {
    0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
constexpr GUID kFactoryInterface = {
    0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};
constexpr GUID kBgra = {
    0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0F}};
constexpr GUID kContainers[5] = {
    {0x0AF1D87E, 0xFCFE, 0x4188, {0xBD, 0xEB, 0xA7, 0x90, 0x64, 0x71, 0xCB, 0xE3}}, // BMP
    {0x1B7CFAF4, 0x713F, 0x473C, {0xBB, 0xCD, 0x61, 0x37, 0x42, 0x5F, 0xAE, 0xAF}}, // PNG
    {0x1F8A5601, 0x7D4D, 0x4CBD, {0x9C, 0x82, 0x1B, 0xC8, 0xD4, 0xEE, 0xB9, 0xA5}}, // GIF
    {0x19E4A5AA, 0x5662, 0x4FC5, {0xA0, 0xC0, 0x17, 0x58, 0x02, 0x8E, 0x10, 0x57}}, // JPEG
    {0x163BCC30, 0xE2E9, 0x4F0B, {0x96, 0x1D, 0xA3, 0xE9, 0xFD, 0xB7, 0x88, 0xA3}}, // TIFF
};

IWICImagingFactory* factory = nullptr;

// Releases a COM object when the scope ends.
template <class T> struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

// A stream over a movable global copy of the bytes (freed with the stream).
bool memory_stream(const uint8_t* bytes, size_t size, IStream** stream) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    if (!block) return false;
    void* at = GlobalLock(block);
    if (!at) {
        GlobalFree(block);
        return false;
    }
    std::memcpy(at, bytes, size);
    GlobalUnlock(block);
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream))) {
        GlobalFree(block);
        return false;
    }
    return true;
}

// Converts a bitmap source to BGRA and copies its pixels out.
ImageResult copy_out(IWICBitmapSource* source, uint32_t max_side, uint32_t* width, uint32_t* height,
                     uint8_t** pixels) {
    UINT w = 0, h = 0;
    if (FAILED(source->GetSize(&w, &h)) || w == 0 || h == 0 || w > max_side || h > max_side)
        return IMAGE_FAILED;
    Ref<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.out())) ||
        FAILED(converter->Initialize(source, kBgra, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return IMAGE_FAILED;
    const size_t bytes_out = size_t{w} * h * 4;
    if (bytes_out > 0x7FFFFFF0) return IMAGE_FAILED;
    auto* out = static_cast<uint8_t*>(std::malloc(bytes_out));
    if (!out) return IMAGE_FAILED;
    if (FAILED(converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(bytes_out), out))) {
        std::free(out);
        return IMAGE_FAILED;
    }
    *width = w;
    *height = h;
    *pixels = out;
    return IMAGE_OK;
}

} // namespace

bool imaging_init() {
    if (factory) return true;
    return SUCCEEDED(CoCreateInstance(kFactoryClass, nullptr, CLSCTX_INPROC_SERVER,
                                      kFactoryInterface, reinterpret_cast<void**>(&factory)));
}

ImageResult image_decode(const uint8_t* bytes, size_t size, uint32_t max_side, uint32_t* width,
                         uint32_t* height, uint8_t** pixels) {
    *pixels = nullptr;
    if (!factory) return IMAGE_NO_CODEC;
    if (size > 0x7FFFFFFF) return IMAGE_FAILED;
    Ref<IStream> stream;
    if (!memory_stream(bytes, size, stream.out())) return IMAGE_FAILED;
    Ref<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.out())))
        return IMAGE_FAILED;
    UINT frames = 0;
    if (FAILED(decoder->GetFrameCount(&frames)) || frames == 0) return IMAGE_FAILED;
    Ref<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.out()))) return IMAGE_FAILED;
    return copy_out(frame.p, max_side, width, height, pixels);
}

void* image_to_gdi_bitmap(const uint8_t* pixels, uint32_t width, uint32_t height) {
    return CreateBitmap(static_cast<int>(width), static_cast<int>(height), 1, 32, pixels);
}

ImageResult image_from_gdi_bitmap(void* bitmap, uint32_t max_side, uint32_t* width,
                                  uint32_t* height, uint8_t** pixels) {
    *pixels = nullptr;
    if (!factory) return IMAGE_NO_CODEC;
    Ref<IWICBitmap> source;
    if (FAILED(factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(bitmap), nullptr,
                                                WICBitmapUseAlpha, source.out())))
        return IMAGE_FAILED;
    return copy_out(source.p, max_side, width, height, pixels);
}

void* image_gdiplus_bitmap(uint8_t* pixels, uint32_t width, uint32_t height) {
    void* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height),
                                  static_cast<INT>(width * 4), kGdiplusArgb32, pixels,
                                  &bitmap) != 0)
        return nullptr;
    return bitmap;
}

void image_gdiplus_dispose(void* bitmap) {
    if (bitmap) GdipDisposeImage(bitmap);
}

ImageResult image_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int format,
                         uint8_t** out, size_t* size) {
    *out = nullptr;
    *size = 0;
    if (!factory || format < 0 || format > 4) return IMAGE_NO_CODEC;
    const UINT stride = width * 4;
    const UINT total = stride * height;
    Ref<IWICBitmap> source;
    if (FAILED(factory->CreateBitmapFromMemory(width, height, kBgra, stride, total,
                                               const_cast<BYTE*>(pixels), source.out())))
        return IMAGE_FAILED;
    Ref<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()))) return IMAGE_FAILED;
    Ref<IWICBitmapEncoder> encoder;
    if (FAILED(factory->CreateEncoder(kContainers[format], nullptr, encoder.out())))
        return IMAGE_NO_CODEC;
    if (FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache))) return IMAGE_FAILED;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    if (FAILED(encoder->CreateNewFrame(frame.out(), options.out())) ||
        FAILED(frame->Initialize(options.p)) || FAILED(frame->SetSize(width, height)))
        return IMAGE_FAILED;
    WICPixelFormatGUID pixel_format = kBgra;
    if (FAILED(frame->SetPixelFormat(&pixel_format)) ||
        FAILED(frame->WriteSource(source.p, nullptr)) || FAILED(frame->Commit()) ||
        FAILED(encoder->Commit()))
        return IMAGE_FAILED;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > 0x7FFFFFF0)
        return IMAGE_FAILED;
    const ULONG length = static_cast<ULONG>(stat.cbSize.QuadPart);
    LARGE_INTEGER zero{};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return IMAGE_FAILED;
    auto* bytes = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    if (!bytes) return IMAGE_FAILED;
    ULONG read = 0;
    if (FAILED(stream->Read(bytes, length, &read)) || read != length) {
        std::free(bytes);
        return IMAGE_FAILED;
    }
    *out = bytes;
    *size = length;
    return IMAGE_OK;
}

} // namespace mox::platform

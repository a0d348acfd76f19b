// The floor of bench/run-draw.sh: the Direct2D calls the draw dialect makes
// for its shape table, made directly. An 800x600 WIC bitmap over a
// premultiplied buffer, a WIC render target, a black pen and a red fill;
// boxes, circles, lines and triangles in turn; the pixels copied back.
// Prints the drawing's time in milliseconds.
//
// usage: draw_floor.exe [shapes]
#include <windows.h>

#include <d2d1.h>
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    int shapes = argc > 1 ? std::atoi(argv[1]) : 10000;
    const UINT w = 800, h = 600;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ID2D1Factory* factory = nullptr;
    IWICImagingFactory* wic = nullptr;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(&factory))) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IWICImagingFactory), reinterpret_cast<void**>(&wic)))) {
        std::puts("no Direct2D");
        return 1;
    }
    std::vector<unsigned char> pixels(size_t{w} * h * 4, 255);
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    IWICBitmap* bitmap = nullptr;
    wic->CreateBitmapFromMemory(w, h, GUID_WICPixelFormat32bppPBGRA, w * 4, w * h * 4,
                                pixels.data(), &bitmap);
    D2D1_RENDER_TARGET_PROPERTIES props = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
    ID2D1RenderTarget* target = nullptr;
    factory->CreateWicBitmapRenderTarget(bitmap, &props, &target);
    ID2D1StrokeStyle* stroke = nullptr;
    factory->CreateStrokeStyle(D2D1::StrokeStyleProperties(), nullptr, 0, &stroke);
    target->BeginDraw();
    target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    target->PushAxisAlignedClip(D2D1::RectF(0, 0, w, h), D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    ID2D1SolidColorBrush *pen = nullptr, *fill = nullptr;
    target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0, 1), &pen);
    target->CreateSolidColorBrush(D2D1::ColorF(1, 0, 0, 1), &fill);
    for (int i = 0; i < shapes; i++) {
        float x = static_cast<float>((i * 37) % 760), y = static_cast<float>((i * 53) % 560);
        switch (i % 4) {
        case 0: {
            D2D1_RECT_F r{x, y, x + 30, y + 30};
            target->FillRectangle(r, fill);
            target->DrawRectangle(r, pen, 1, stroke);
            break;
        }
        case 1: {
            D2D1_ELLIPSE e{{x + 15, y + 15}, 15, 15};
            target->FillEllipse(e, fill);
            target->DrawEllipse(e, pen, 1, stroke);
            break;
        }
        case 2:
            target->DrawLine({x, y}, {x + 40, y + 30}, pen, 1, stroke);
            break;
        default: {
            ID2D1PathGeometry* path = nullptr;
            ID2D1GeometrySink* sink = nullptr;
            factory->CreatePathGeometry(&path);
            path->Open(&sink);
            sink->BeginFigure({x, y + 30}, D2D1_FIGURE_BEGIN_FILLED);
            sink->AddLine({x + 15, y});
            sink->AddLine({x + 30, y + 30});
            sink->EndFigure(D2D1_FIGURE_END_CLOSED);
            sink->Close();
            sink->Release();
            target->FillGeometry(path, fill);
            target->DrawGeometry(path, pen, 1, stroke);
            path->Release();
        }
        }
    }
    target->PopAxisAlignedClip();
    target->EndDraw();
    WICRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    bitmap->CopyPixels(&all, w * 4, w * h * 4, pixels.data());
    QueryPerformanceCounter(&t1);
    std::printf("%.1f\n", (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart);
    pen->Release();
    fill->Release();
    stroke->Release();
    target->Release();
    bitmap->Release();
    wic->Release();
    factory->Release();
    return 0;
}

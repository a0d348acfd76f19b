// The draw renderer on Direct2D.
//
// Wine's d2d1 leaves some calls without effect (they answer success): arcs
// become lines, repeat and reflect gradients pad, widened bounds fail,
// bitmaps ignore perspective, the shadow effect draws nothing. The renderer
// therefore builds arcs from Bézier segments, repeats gradient stops
// itself, bounds strokes by half the line width, maps images onto corners
// cell by cell and blurs shadows on the CPU everywhere: the same pixels come
// out on either system. Where only Wine falls short (caps, joins and dashes
// ignored, layer masks ignored) the layers apply under Wine only.
#include "view/windows/dx-renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/image-store.h"
#include "datatypes/pair.h"
#include "datatypes/tuple.h"
#include "view/windows/internal.h"
#include "view/windows/text.h"

namespace mox::gui::win {

namespace {

constexpr double PI = 3.14159265358979323846;

template <typename T> void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

template <typename T> T* add_ref(T* p) {
    if (p) p->AddRef();
    return p;
}

D2D1_POINT_2F pt(DrawPoint p) { return {p.x, p.y}; }

D2D1_RECT_F normalised(float x1, float y1, float x2, float y2) {
    return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

void release_pens(D2DRenderer::Pens& p) {
    release(p.pen);
    release(p.fill);
    release(p.stroke);
    release(p.format);
}

} // namespace

void add_arc_beziers(ID2D1GeometrySink* sink, D2D1_POINT_2F c, float rx, float ry, double a1,
                     double a2, const Matrix* rotation) {
    double total = a2 - a1;
    int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(total) / (PI / 2) - 1e-9)));
    double step = total / pieces;
    double k = 4.0 / 3.0 * std::tan(step / 4);
    auto at = [&](double x, double y) {
        D2D1_POINT_2F p{static_cast<float>(x), static_cast<float>(y)};
        if (rotation) p = matrix_apply(*rotation, p.x, p.y);
        return D2D1_POINT_2F{p.x + c.x, p.y + c.y};
    };
    for (int i = 0; i < pieces; i++) {
        double s = a1 + step * i, e = s + step;
        double cs = std::cos(s), ss = std::sin(s), ce = std::cos(e), se = std::sin(e);
        D2D1_BEZIER_SEGMENT b{at(rx * (cs - k * ss), ry * (ss + k * cs)),
                              at(rx * (ce + k * se), ry * (se - k * ce)), at(rx * ce, ry * se)};
        sink->AddBezier(b);
    }
}

D2DRenderer::D2DRenderer(HWND hwnd, const Cell* image, bool copy_out, bool offscreen)
    : hwnd_(hwnd), to_window_(hwnd && !image), copy_out_(copy_out), offscreen_(offscreen) {
    if (image) {
        store_ = image::store_of(image);
        width_ = image::width_of(image);
        height_ = image::height_of(image);
        if (store_) image::to_premultiplied(image);
    }
}

D2DRenderer::~D2DRenderer() {
    release_path();
    release_pens(p_);
    for (Saved& s : saved_) {
        release_pens(s.pens);
        release(s.block);
    }
    for (Pattern& pat : patterns_) release(pat.surface);
    if (own_rt_) {
        release(rt_->context);
        release_render_target(rt_);
    }
    release(wic_);
    if (target_ && !to_window_) release(target_);
}

bool D2DRenderer::begin() {
    if (!dx.factory || !dx_ready()) return false;
    if (to_window_) {
        rt_ = get_render_target(hwnd_, offscreen_);
        if (!rt_ || !rt_->target) return false;
        dx.context->SetTarget(rt_->target);
        dx.context->SetDpi(g.dpi, g.dpi);
        target_ = dx.context;
    } else {
        if (!store_ || !store_->premul || !dx.wic) return false;
        // A window's face drawn into an image keeps the window's DPI: the
        // image has the window's pixel size.
        dpi_ = hwnd_ ? g.dpi : 96.0f;
        if (FAILED(dx.wic->CreateBitmapFromMemory(width_, height_, GUID_WICPixelFormat32bppPBGRA,
                                                  width_ * 4, width_ * height_ * 4, store_->premul,
                                                  &wic_))) {
            std::fputs("CreateWicBitmapRenderTarget failed in draw-begin\n", stdout);
            std::fflush(stdout);
            return false;
        }
        D2D1_RENDER_TARGET_PROPERTIES props = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), dpi_,
            dpi_);
        if (FAILED(dx.factory->CreateWicBitmapRenderTarget(wic_, &props, &target_))) {
            std::fputs("CreateWicBitmapRenderTarget failed in draw-begin\n", stdout);
            std::fflush(stdout);
            target_ = nullptr;
            return false;
        }
        rt_ = new RenderTarget;
        own_rt_ = true;
        // The record's context (its own reference) serves the text layer,
        // which draws through a device context.
        target_->QueryInterface(__uuidof(ID2D1DeviceContext),
                                reinterpret_cast<void**>(&rt_->context));
    }
    base_target_ = target_;
    target_->BeginDraw();
    began_ = drew_ = true;
    target_->SetTextAntialiasMode(to_window_ && !copy_out_ ? D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE
                                                           : D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    target_->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    if (!to_window_) {
        // Wine's WIC targets start from transparent pixels, not from the
        // bitmap's: the image's own pixels are put back first.
        target_->Clear(D2D1::ColorF(0, 0, 0, 0));
        ID2D1Bitmap* own = nullptr;
        D2D1_BITMAP_PROPERTIES props = D2D1::BitmapProperties(
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), dpi_,
            dpi_);
        D2D1_RECT_F all = D2D1::RectF(0, 0, static_cast<float>(width_) * 96.0f / dpi_,
                                      static_cast<float>(height_) * 96.0f / dpi_);
        if (SUCCEEDED(target_->CreateBitmap(D2D1::SizeU(width_, height_), store_->premul,
                                            width_ * 4, props, &own))) {
            target_->DrawBitmap(own, all, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR,
                                nullptr);
            own->Release();
        }
        target_->PushAxisAlignedClip(all, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    }
    target_->SetTransform(matrix_identity());
    p_.pen = make_solid(0);
    p_.pen_mode = SOLID;
    p_.fill_mode = NONE;
    rebuild_stroke();
    if (hwnd_) paint_background();
    return true;
}

void D2DRenderer::paint_background() {
    Cell* face = face_of(hwnd_);
    if (!face) return;
    const Cell* colour = facet(face, sym.color);
    uint32_t c = type_of(colour) == TYPE_TUPLE ? tuple::to_color(colour) : 0xFF000000;
    D2D1_COLOR_F clear = to_dx_color(c);
    target_->Clear(clear);
    const Cell* img = facet(face, sym.image);
    if (type_of(img) == TYPE_IMAGE) {
        const Cell* size = facet(face, sym.size);
        std::vector<DrawPoint> box{{0, 0}, {coord(size, false), coord(size, true)}};
        image(img, box, std::nullopt, false, std::nullopt);
    }
    if (face_type(face) == FT_WINDOW || type_of(facet(face, sym.text)) != TYPE_STRING) return;
    // The face's own text, in its font's colour; an error in it stops only
    // the text.
    const Cell* font = facet(face, sym.font);
    const Cell* fc = type_of(font) == TYPE_OBJECT ? facet(font, sym.color) : nullptr;
    COLORREF sys = GetSysColor(COLOR_WINDOWTEXT);
    p_.font_colour = fc && type_of(fc) == TYPE_TUPLE
                         ? tuple::to_color(fc)
                         : (GetRValue(sys) | GetGValue(sys) << 8 | GetBValue(sys) << 16);
    guarded([&] { text({0, 0}, face); });
    p_.font_colour = 0;
}

void D2DRenderer::end() {
    if (!began_) return;
    began_ = false;
    release_path();
    while (!patterns_.empty())
        pattern_end(false, false, {0, 0}, std::nullopt, std::nullopt, TileMode::tile);
    pop_clips(0);
    if (!to_window_) target_->PopAxisAlignedClip();
    HRESULT hr = target_->EndDraw();
    release_pens(p_);
    for (Saved& s : saved_) {
        release_pens(s.pens);
        release(s.block);
    }
    saved_.clear();
    if (!to_window_) return;
    dx.context->SetTarget(nullptr);
    target_ = nullptr;
    if (hr == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        result_ = DXGI_ERROR_DEVICE_REMOVED;
    } else if (!copy_out_ && rt_->swap_chain) {
        hr = rt_->swap_chain->Present(0, dx.occluded ? DXGI_PRESENT_TEST : 0);
        if (hr == S_OK && dx.occluded) hr = rt_->swap_chain->Present(0, 0);
        if (take_test_device_loss()) hr = DXGI_ERROR_DEVICE_REMOVED;
        if (hr == S_OK) {
            dx.occluded = false;
        } else if (hr == DXGI_STATUS_OCCLUDED) {
            dx.occluded = true;
        } else if (hr != DXGI_ERROR_DEVICE_REMOVED && hr != DXGI_ERROR_DEVICE_RESET) {
            std::printf("draw-end error: %ld\n", static_cast<long>(hr));
            std::fflush(stdout);
        }
        result_ = hr;
    } else if (take_test_device_loss()) {
        result_ = DXGI_ERROR_DEVICE_REMOVED;
    }
    if (result_ == DXGI_ERROR_DEVICE_REMOVED || result_ == DXGI_ERROR_DEVICE_RESET) {
        rt_ = nullptr;
        recover_lost_device();
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

void D2DRenderer::write_back(const Cell* image) {
    if (to_window_ || !wic_) return;
    uint8_t* dst = image::to_premultiplied(image);
    if (!dst || image::width_of(image) != width_ || image::height_of(image) != height_) return;
    WICRect r{0, 0, static_cast<INT>(width_), static_cast<INT>(height_)};
    if (SUCCEEDED(wic_->CopyPixels(&r, width_ * 4, width_ * height_ * 4, dst)))
        image::mark_dirty(image);
}

// --- brushes ----------------------------------------------------------------

ID2D1Brush* D2DRenderer::make_solid(uint32_t colour) {
    ID2D1SolidColorBrush* b = nullptr;
    target_->CreateSolidColorBrush(to_dx_color(colour), &b);
    return b;
}

void D2DRenderer::set_brush(bool fill, ID2D1Brush* brush, int32_t mode, GradientKind kind) {
    if (fill) {
        release(p_.fill);
        p_.fill = brush;
        p_.fill_mode = brush ? mode : NONE;
        p_.fill_kind = kind;
    } else {
        release(p_.pen);
        p_.pen = brush;
        int32_t m = brush ? mode : NONE;
        if (p_.width == 0) {
            p_.saved_pen_mode = m;
        } else {
            p_.pen_mode = m;
        }
        p_.pen_kind = kind;
    }
}

void D2DRenderer::pen(uint32_t colour) {
    bool solid_now = p_.pen && (p_.width == 0 ? p_.saved_pen_mode : p_.pen_mode) == SOLID;
    if (solid_now) {
        static_cast<ID2D1SolidColorBrush*>(p_.pen)->SetColor(to_dx_color(colour));
        if (p_.width == 0) p_.saved_pen_mode = SOLID;
    } else {
        set_brush(false, make_solid(colour), SOLID, GradientKind::linear);
    }
    p_.pen_colour = colour;
    if (!p_.font_colour_set) p_.font_colour = colour;
}

void D2DRenderer::pen_off() {
    if (p_.width == 0)
        p_.saved_pen_mode = NONE;
    else
        p_.pen_mode = NONE;
}

void D2DRenderer::fill_pen(uint32_t colour) {
    if (p_.fill && p_.fill_mode == SOLID) {
        static_cast<ID2D1SolidColorBrush*>(p_.fill)->SetColor(to_dx_color(colour));
    } else {
        set_brush(true, make_solid(colour), SOLID, GradientKind::linear);
    }
    p_.fill_colour = colour;
}

void D2DRenderer::fill_pen_off() { p_.fill_mode = NONE; }

// Repeat and reflect are built from padded stops spread over several
// periods (Wine pads them): the brush geometry is then scaled by *scale.
ID2D1GradientStopCollection* D2DRenderer::stops_of(const std::vector<GradientStop>& stops,
                                                   GradientSpread spread, float* scale) {
    *scale = 1;
    std::vector<D2D1_GRADIENT_STOP> out;
    if (spread == GradientSpread::pad || stops.empty()) {
        for (const GradientStop& s : stops) out.push_back({s.offset, to_dx_color(s.colour)});
    } else {
        constexpr int PERIODS = 16;
        *scale = PERIODS;
        for (int k = 0; k < PERIODS; k++) {
            bool mirrored = spread == GradientSpread::reflect && (k & 1);
            for (size_t i = 0; i < stops.size(); i++) {
                const GradientStop& s = mirrored ? stops[stops.size() - 1 - i] : stops[i];
                float off = mirrored ? 1 - s.offset : s.offset;
                out.push_back({(k + std::clamp(off, 0.0f, 1.0f)) / PERIODS, to_dx_color(s.colour)});
            }
        }
    }
    ID2D1GradientStopCollection* c = nullptr;
    target_->CreateGradientStopCollection(out.data(), static_cast<UINT32>(out.size()),
                                          D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, &c);
    return c;
}

void D2DRenderer::gradient(bool fill, GradientKind kind, const std::vector<GradientStop>& stops,
                           const std::optional<GradientGeometry>& geometry, GradientSpread spread) {
    float scale = 1;
    ID2D1GradientStopCollection* coll = stops_of(stops, spread, &scale);
    if (!coll) {
        set_brush(fill, nullptr, NONE, kind);
        return;
    }
    ID2D1Brush* brush = nullptr;
    int32_t mode = geometry ? GEOMETRY : FITTED;
    if (kind == GradientKind::linear) {
        D2D1_POINT_2F s{0, 0}, e{1, 0};
        if (geometry) {
            s = pt(geometry->start);
            e = pt(geometry->end);
        }
        float back = scale > 1 ? scale / 2 : 0;
        D2D1_POINT_2F d{e.x - s.x, e.y - s.y};
        e = {s.x + d.x * (scale - back), s.y + d.y * (scale - back)};
        s = {s.x - d.x * back, s.y - d.y * back};
        ID2D1LinearGradientBrush* b = nullptr;
        target_->CreateLinearGradientBrush({s, e}, coll, &b);
        brush = b;
    } else {
        D2D1_POINT_2F c{0, 0}, off{0, 0};
        float r = 1;
        if (geometry) {
            c = pt(geometry->start);
            r = geometry->radius;
            if (geometry->focal) off = {geometry->focal->x - c.x, geometry->focal->y - c.y};
        }
        ID2D1RadialGradientBrush* b = nullptr;
        target_->CreateRadialGradientBrush({c, off, r * scale, r * scale}, coll, &b);
        brush = b;
    }
    coll->Release();
    set_brush(fill, brush, mode, kind);
    (fill ? p_.fill_periods : p_.pen_periods) = scale;
}

void D2DRenderer::gradient_positional(bool fill, GradientKind kind, DrawPoint start,
                                      float start_offset, float stop_offset, float angle, float sx,
                                      float sy, const std::vector<GradientStop>& stops) {
    GradientGeometry geo{};
    if (kind == GradientKind::linear) {
        geo.start = {start.x + start_offset, start.y};
        geo.end = {start.x + stop_offset, start.y};
    } else {
        geo.start = start;
        geo.radius = stop_offset - start_offset;
    }
    gradient(fill, kind, stops, geo, GradientSpread::pad);
    ID2D1Brush* b = fill ? p_.fill : p_.pen;
    if (!b) return;
    Matrix m = matrix_identity();
    if (angle != 0) m = win::matrix_rotate(m, angle, 0, 0, 0);
    if (sx != 1 || sy != 1) m = win::matrix_scale(m, sx, sy, 0, 0, 0);
    b->SetTransform(m);
}

namespace {

D2D1_EXTEND_MODE extend_x(TileMode t) {
    switch (t) {
    case TileMode::flip_x:
    case TileMode::flip_xy:
        return D2D1_EXTEND_MODE_MIRROR;
    case TileMode::clamp:
        return D2D1_EXTEND_MODE_CLAMP;
    default:
        return D2D1_EXTEND_MODE_WRAP;
    }
}

D2D1_EXTEND_MODE extend_y(TileMode t) {
    switch (t) {
    case TileMode::flip_y:
    case TileMode::flip_xy:
        return D2D1_EXTEND_MODE_MIRROR;
    case TileMode::clamp:
        return D2D1_EXTEND_MODE_CLAMP;
    default:
        return D2D1_EXTEND_MODE_WRAP;
    }
}

// The sub-rectangle of a w x h source from start to end (clamped), as
// (x, y, w, h) in whole pixels.
void source_rect(uint32_t w, uint32_t h, std::optional<DrawPoint> start,
                 std::optional<DrawPoint> end, uint32_t out[4]) {
    auto clampi = [](float v, uint32_t hi) {
        return static_cast<uint32_t>(std::clamp(v, 0.0f, static_cast<float>(hi)));
    };
    uint32_t x1 = start ? clampi(start->x, w) : 0, y1 = start ? clampi(start->y, h) : 0;
    uint32_t x2 = end ? clampi(end->x, w) : w, y2 = end ? clampi(end->y, h) : h;
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    out[0] = x1;
    out[1] = y1;
    out[2] = x2 - x1;
    out[3] = y2 - y1;
}

} // namespace

void D2DRenderer::brush_bitmap(bool fill, const Cell* img, std::optional<DrawPoint> start,
                               std::optional<DrawPoint> end, TileMode tile) {
    const uint8_t* px = image::converted_source(img, true);
    uint32_t w = image::width_of(img), h = image::height_of(img), r[4];
    source_rect(w, h, start, end, r);
    ID2D1Bitmap* bmp = nullptr;
    if (px && r[2] && r[3]) {
        D2D1_BITMAP_PROPERTIES props = D2D1::BitmapProperties(
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
        target_->CreateBitmap(D2D1::SizeU(r[2], r[3]), px + (size_t{r[1]} * w + r[0]) * 4, w * 4,
                              props, &bmp);
    }
    if (!bmp) {
        set_brush(fill, nullptr, NONE, GradientKind::linear);
        return;
    }
    ID2D1BitmapBrush* b = nullptr;
    target_->CreateBitmapBrush(bmp,
                               D2D1::BitmapBrushProperties(extend_x(tile), extend_y(tile),
                                                           D2D1_BITMAP_INTERPOLATION_MODE_LINEAR),
                               &b);
    bmp->Release();
    set_brush(fill, b, IMAGE_BRUSH, GradientKind::linear);
}

void D2DRenderer::pattern_begin(DrawPoint size) {
    ID2D1BitmapRenderTarget* surface = nullptr;
    D2D1_SIZE_F s{std::max(1.0f, size.x), std::max(1.0f, size.y)};
    if (FAILED(target_->CreateCompatibleRenderTarget(s, &surface))) surface = nullptr;
    patterns_.push_back({target_, surface, clips_.size(), saved_.size()});
    state_push();
    if (surface) {
        // Brushes belong to the target that made them: the pattern's block
        // starts with its own black pen and no fill.
        target_ = surface;
        target_->BeginDraw();
        target_->SetTransform(matrix_identity());
        release_pens(p_);
        p_.pen = make_solid(0);
        p_.pen_mode = SOLID;
        p_.fill_mode = NONE;
        rebuild_stroke();
    }
}

void D2DRenderer::pattern_end(bool ok, bool fill, DrawPoint size, std::optional<DrawPoint> start,
                              std::optional<DrawPoint> end, TileMode tile) {
    if (patterns_.empty()) return;
    Pattern pat = patterns_.back();
    patterns_.pop_back();
    pop_clips(pat.clip_depth);
    ID2D1Bitmap* bmp = nullptr;
    if (pat.surface) {
        target_->EndDraw();
        pat.surface->GetBitmap(&bmp);
    }
    target_ = pat.target;
    while (saved_.size() > pat.saved_depth + 1) state_pop();
    state_pop();
    if (pat.surface) pat.surface->Release();
    if (!ok || !bmp) {
        release(bmp);
        return;
    }
    // A sub-rectangle of the pattern: copy it into a bitmap of its own.
    D2D1_SIZE_U full = bmp->GetPixelSize();
    uint32_t r[4];
    source_rect(full.width, full.height, start, end, r);
    ID2D1Bitmap* src = bmp;
    if (r[2] && r[3] && (r[0] || r[1] || r[2] != full.width || r[3] != full.height)) {
        ID2D1Bitmap* part = nullptr;
        D2D1_BITMAP_PROPERTIES props = D2D1::BitmapProperties(bmp->GetPixelFormat());
        if (SUCCEEDED(target_->CreateBitmap(D2D1::SizeU(r[2], r[3]), props, &part))) {
            D2D1_POINT_2U at{0, 0};
            D2D1_RECT_U from{r[0], r[1], r[0] + r[2], r[1] + r[3]};
            part->CopyFromBitmap(&at, bmp, &from);
            src = part;
        }
    }
    ID2D1BitmapBrush* b = nullptr;
    target_->CreateBitmapBrush(src,
                               D2D1::BitmapBrushProperties(extend_x(tile), extend_y(tile),
                                                           D2D1_BITMAP_INTERPOLATION_MODE_LINEAR),
                               &b);
    if (src != bmp) src->Release();
    bmp->Release();
    set_brush(fill, b, IMAGE_BRUSH, GradientKind::linear);
}

// --- line style -------------------------------------------------------------

void D2DRenderer::rebuild_stroke() {
    release(p_.stroke);
    D2D1_STROKE_STYLE_PROPERTIES props{static_cast<D2D1_CAP_STYLE>(p_.cap),
                                       static_cast<D2D1_CAP_STYLE>(p_.cap),
                                       static_cast<D2D1_CAP_STYLE>(p_.cap),
                                       static_cast<D2D1_LINE_JOIN>(p_.join),
                                       10.0f,
                                       p_.dashes.empty() ? D2D1_DASH_STYLE_SOLID
                                                         : D2D1_DASH_STYLE_CUSTOM,
                                       0.0f};
    dx.factory->CreateStrokeStyle(props, p_.dashes.empty() ? nullptr : p_.dashes.data(),
                                  static_cast<UINT32>(p_.dashes.size()), &p_.stroke);
}

void D2DRenderer::line_width(float width) {
    if (width == p_.width) return;
    if (width == 0) {
        p_.saved_pen_mode = p_.pen_mode;
        p_.pen_mode = NONE;
    } else if (p_.width == 0) {
        p_.pen_mode = p_.saved_pen_mode;
    }
    p_.width = width;
}

void D2DRenderer::line_join(LineJoin join) {
    p_.join = join;
    rebuild_stroke();
}

void D2DRenderer::line_cap(LineCap cap) {
    p_.cap = cap;
    rebuild_stroke();
}

void D2DRenderer::line_pattern(const std::vector<float>& dashes) {
    p_.dashes = dashes;
    rebuild_stroke();
}

void D2DRenderer::anti_alias(bool on) {
    p_.anti_alias = on;
    target_->SetAntialiasMode(on ? D2D1_ANTIALIAS_MODE_PER_PRIMITIVE : D2D1_ANTIALIAS_MODE_ALIASED);
}

void D2DRenderer::font(const Cell* font) {
    release(p_.format);
    p_.format = text_format(font);
    const Cell* colour = facet(font, sym.color);
    if (type_of(colour) == TYPE_TUPLE) {
        p_.font_colour = tuple::to_color(colour);
        p_.font_colour_set = true;
    } else {
        p_.font_colour = p_.pen_colour;
        p_.font_colour_set = false;
    }
}

void D2DRenderer::shadow(DrawPoint offset, float blur, float spread, uint32_t colour, bool) {
    p_.shadows.push_back({offset.x, offset.y, blur, spread, colour});
}

void D2DRenderer::shadow_off() { p_.shadows.clear(); }

// --- painting ---------------------------------------------------------------

void D2DRenderer::fit(ID2D1Brush* brush, int32_t mode, GradientKind kind, float periods,
                      const D2D1_RECT_F& b, D2D1_MATRIX_3X2_F* saved) {
    brush->GetTransform(saved);
    if (mode != FITTED && mode != IMAGE_BRUSH) return;
    float w = b.right - b.left, h = b.bottom - b.top;
    if (mode == FITTED) {
        if (kind == GradientKind::linear) {
            auto* lin = static_cast<ID2D1LinearGradientBrush*>(brush);
            float back = periods > 1 ? periods / 2 : 0;
            lin->SetStartPoint({-back * w, 0});
            lin->SetEndPoint({(periods - back) * w, 0});
        } else {
            auto* rad = static_cast<ID2D1RadialGradientBrush*>(brush);
            float r = std::min(w, h) / 2;
            rad->SetCenter({w / 2, h / 2});
            rad->SetGradientOriginOffset({0, 0});
            rad->SetRadiusX(r * periods);
            rad->SetRadiusY(r * periods);
        }
    }
    brush->SetTransform(matrix_mul(*saved, {1, 0, 0, 1, b.left, b.top}));
}

template <typename Fill, typename Stroke>
void D2DRenderer::paint(const D2D1_RECT_F& bounds, Fill fill, Stroke stroke) {
    D2D1_MATRIX_3X2_F saved;
    if (p_.fill_mode != NONE && p_.fill) {
        fit(p_.fill, p_.fill_mode, p_.fill_kind, p_.fill_periods, bounds, &saved);
        fill(p_.fill);
        p_.fill->SetTransform(saved);
    }
    if (p_.pen_mode != NONE && p_.pen && p_.width > 0) {
        float half = p_.width / 2;
        D2D1_RECT_F wide{bounds.left - half, bounds.top - half, bounds.right + half,
                         bounds.bottom + half};
        fit(p_.pen, p_.pen_mode, p_.pen_kind, p_.pen_periods, wide, &saved);
        stroke(p_.pen);
        p_.pen->SetTransform(saved);
    }
}

void D2DRenderer::paint_geometry(ID2D1Geometry* geometry, bool fill_allowed) {
    D2D1_RECT_F bounds{0, 0, 0, 0};
    if ((p_.fill_mode >= FITTED || p_.pen_mode >= FITTED)) geometry->GetBounds(nullptr, &bounds);
    int32_t fill_mode = p_.fill_mode;
    if (!fill_allowed) p_.fill_mode = NONE;
    paint(
        bounds, [&](ID2D1Brush* b) { target_->FillGeometry(geometry, b); },
        [&](ID2D1Brush* b) { stroke_geometry(geometry, b); });
    p_.fill_mode = fill_mode;
}

ID2D1PathGeometry* D2DRenderer::open_path(ID2D1GeometrySink** sink) {
    ID2D1PathGeometry* path = nullptr;
    *sink = nullptr;
    if (FAILED(dx.factory->CreatePathGeometry(&path))) return nullptr;
    if (FAILED(path->Open(sink))) {
        path->Release();
        return nullptr;
    }
    return path;
}

namespace {

// A closed or open path through the points.
void draw_points(ID2D1GeometrySink* sink, const std::vector<D2D1_POINT_2F>& pts, bool filled,
                 bool closed) {
    sink->BeginFigure(pts[0], filled ? D2D1_FIGURE_BEGIN_FILLED : D2D1_FIGURE_BEGIN_HOLLOW);
    for (size_t i = 1; i < pts.size(); i++) sink->AddLine(pts[i]);
    sink->EndFigure(closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
}

} // namespace

void D2DRenderer::line(const std::vector<DrawPoint>& points) {
    if (points.size() < 2) return;
    if (points.size() == 2) {
        if (p_.pen_mode == NONE || !p_.pen || p_.width <= 0) return;
        D2D1_RECT_F b = normalised(points[0].x, points[0].y, points[1].x, points[1].y);
        int32_t fill_mode = p_.fill_mode;
        p_.fill_mode = NONE;
        paint(
            b, [](ID2D1Brush*) {},
            [&](ID2D1Brush* br) {
                if (!styled_stroke()) {
                    target_->DrawLine(pt(points[0]), pt(points[1]), br, p_.width, p_.stroke);
                    return;
                }
                ID2D1GeometrySink* sink;
                ID2D1PathGeometry* path = open_path(&sink);
                if (!path) return;
                sink->BeginFigure(pt(points[0]), D2D1_FIGURE_BEGIN_HOLLOW);
                sink->AddLine(pt(points[1]));
                sink->EndFigure(D2D1_FIGURE_END_OPEN);
                sink->Close();
                sink->Release();
                stroke_geometry(path, br);
                path->Release();
            });
        p_.fill_mode = fill_mode;
        return;
    }
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* path = open_path(&sink);
    if (!path) return;
    std::vector<D2D1_POINT_2F> pts;
    for (DrawPoint p : points) pts.push_back(pt(p));
    draw_points(sink, pts, p_.fill_mode != NONE, false);
    sink->Close();
    sink->Release();
    paint_geometry(path, true);
    path->Release();
}

void D2DRenderer::box(DrawPoint a, DrawPoint b, float radius) {
    D2D1_RECT_F r = normalised(a.x, a.y, b.x, b.y);
    if (!p_.shadows.empty()) draw_shadows(r, false, radius);
    if (radius != 0) {
        D2D1_ROUNDED_RECT rr{r, radius, radius};
        paint(
            r, [&](ID2D1Brush* br) { target_->FillRoundedRectangle(rr, br); },
            [&](ID2D1Brush* br) {
                if (!styled_stroke()) {
                    target_->DrawRoundedRectangle(rr, br, p_.width, p_.stroke);
                    return;
                }
                ID2D1RoundedRectangleGeometry* g = nullptr;
                if (SUCCEEDED(dx.factory->CreateRoundedRectangleGeometry(rr, &g))) {
                    stroke_geometry(g, br);
                    g->Release();
                }
            });
    } else {
        paint(
            r, [&](ID2D1Brush* br) { target_->FillRectangle(r, br); },
            [&](ID2D1Brush* br) {
                if (!styled_stroke()) {
                    target_->DrawRectangle(r, br, p_.width, p_.stroke);
                    return;
                }
                ID2D1RectangleGeometry* g = nullptr;
                if (SUCCEEDED(dx.factory->CreateRectangleGeometry(r, &g))) {
                    stroke_geometry(g, br);
                    g->Release();
                }
            });
    }
}

void D2DRenderer::triangle(DrawPoint a, DrawPoint b, DrawPoint c) { polygon({a, b, c}); }

void D2DRenderer::polygon(const std::vector<DrawPoint>& points) {
    if (points.size() < 2) return;
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* path = open_path(&sink);
    if (!path) return;
    std::vector<D2D1_POINT_2F> pts;
    for (DrawPoint p : points) pts.push_back(pt(p));
    draw_points(sink, pts, p_.fill_mode != NONE, true);
    sink->Close();
    sink->Release();
    paint_geometry(path, true);
    path->Release();
}

void D2DRenderer::circle(DrawPoint c, float rx, float ry) {
    ellipse({c.x - rx, c.y - ry}, {2 * rx, 2 * ry});
}

void D2DRenderer::ellipse(DrawPoint tl, DrawPoint size) {
    D2D1_RECT_F r = normalised(tl.x, tl.y, tl.x + size.x, tl.y + size.y);
    D2D1_ELLIPSE e{{(r.left + r.right) / 2, (r.top + r.bottom) / 2},
                   (r.right - r.left) / 2,
                   (r.bottom - r.top) / 2};
    if (!p_.shadows.empty()) draw_shadows(r, true, 0);
    paint(
        r, [&](ID2D1Brush* br) { target_->FillEllipse(e, br); },
        [&](ID2D1Brush* br) { stroke_ellipse(e, br); });
}

void D2DRenderer::arc(DrawPoint centre, DrawPoint radius, float start, float sweep, bool closed) {
    float rx = radius.x, ry = radius.y;
    if (sweep >= 359.999f || sweep <= -359.999f) {
        D2D1_ELLIPSE e{pt(centre), rx, ry};
        // No gradient fitting for arcs: a fitted brush paints as placed.
        if (p_.fill_mode != NONE && p_.fill) target_->FillEllipse(e, p_.fill);
        if (p_.pen_mode != NONE && p_.pen && p_.width > 0) stroke_ellipse(e, p_.pen);
        return;
    }
    double a1 = start * PI / 180, a2 = (start + sweep) * PI / 180;
    if (rx != ry) {
        a1 = std::atan2(std::sin(a1) * rx, std::cos(a1) * ry);
        a2 = std::atan2(std::sin(a2) * rx, std::cos(a2) * ry);
        if (std::fabs(a1 - a2) > PI) {
            if (a1 > a2)
                a1 -= 2 * PI;
            else
                a2 -= 2 * PI;
        }
    }
    // The segment runs clockwise for a positive sweep and takes the large
    // arc from 180 degrees on: the parametric angles go the same way.
    bool clockwise = sweep >= 0;
    bool large = sweep >= 180 || sweep <= -180;
    double d = a2 - a1;
    if (clockwise) {
        while (d < 0) d += 2 * PI;
        while (d > 2 * PI) d -= 2 * PI;
        if (large != (d > PI)) d = large ? d + 2 * PI : d;
    } else {
        while (d > 0) d -= 2 * PI;
        while (d < -2 * PI) d += 2 * PI;
        if (large != (d < -PI)) d = large ? d - 2 * PI : d;
    }
    if (std::fabs(d) > 2 * PI) d = clockwise ? 2 * PI : -2 * PI;
    a2 = a1 + d;
    D2D1_POINT_2F c = pt(centre);
    D2D1_POINT_2F s{c.x + rx * static_cast<float>(std::cos(a1)),
                    c.y + ry * static_cast<float>(std::sin(a1))};
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* path = open_path(&sink);
    if (!path) return;
    if (closed) {
        sink->BeginFigure(c, D2D1_FIGURE_BEGIN_FILLED);
        sink->AddLine(s);
    } else {
        sink->BeginFigure(s, D2D1_FIGURE_BEGIN_HOLLOW);
    }
    add_arc_beziers(sink, c, rx, ry, a1, a2, nullptr);
    sink->EndFigure(closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
    sink->Close();
    sink->Release();
    if (closed && p_.fill_mode != NONE && p_.fill) target_->FillGeometry(path, p_.fill);
    if (p_.pen_mode != NONE && p_.pen && p_.width > 0) stroke_geometry(path, p_.pen);
    path->Release();
}

void D2DRenderer::curve(const std::vector<DrawPoint>& points) {
    if (points.size() < 3) return;
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* path = open_path(&sink);
    if (!path) return;
    D2D1_POINT_2F p0 = pt(points[0]), p1 = pt(points[1]), p2 = pt(points[2]);
    sink->BeginFigure(p0, D2D1_FIGURE_BEGIN_HOLLOW);
    if (points.size() == 3) {
        sink->AddBezier({{(p0.x + 2 * p1.x) / 3, (p0.y + 2 * p1.y) / 3},
                         {(p2.x + 2 * p1.x) / 3, (p2.y + 2 * p1.y) / 3},
                         p2});
    } else {
        sink->AddBezier({p1, p2, pt(points[3])});
    }
    sink->EndFigure(D2D1_FIGURE_END_OPEN);
    sink->Close();
    sink->Release();
    paint_geometry(path, false);
    path->Release();
}

void D2DRenderer::spline(const std::vector<DrawPoint>& points, bool closed) {
    size_t n = points.size();
    if (n < 2) return;
    if (n == 2) {
        line(points);
        return;
    }
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* path = open_path(&sink);
    if (!path) return;
    auto segment = [&](DrawPoint p0, DrawPoint p1, DrawPoint p2, DrawPoint p3) {
        for (int i = 1; i <= 25; i++) {
            float t = i * 0.04f, t2 = t * t, t3 = t2 * t;
            auto f = [&](float a, float b, float c, float d) {
                return 0.5f * (2 * b + (c - a) * t + (2 * a - 5 * b + 4 * c - d) * t2 +
                               (3 * (b - c) + d - a) * t3);
            };
            sink->AddLine({f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y)});
        }
    };
    const std::vector<DrawPoint>& P = points;
    sink->BeginFigure(pt(P[0]),
                      p_.fill_mode != NONE ? D2D1_FIGURE_BEGIN_FILLED : D2D1_FIGURE_BEGIN_HOLLOW);
    if (closed) {
        segment(P[n - 1], P[0], P[1], P[2]);
        for (size_t i = 0; i + 3 < n; i++) segment(P[i], P[i + 1], P[i + 2], P[i + 3]);
        segment(P[n - 3], P[n - 2], P[n - 1], P[0]);
        segment(P[n - 2], P[n - 1], P[0], P[1]);
    } else {
        segment(P[0], P[0], P[1], P[2]);
        for (size_t i = 0; i + 3 < n; i++) segment(P[i], P[i + 1], P[i + 2], P[i + 3]);
        segment(P[n - 3], P[n - 2], P[n - 1], P[n - 1]);
    }
    sink->EndFigure(closed ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
    sink->Close();
    sink->Release();
    paint_geometry(path, true);
    path->Release();
}

void D2DRenderer::text(DrawPoint position, const Cell* value) {
    // The text layer draws through a record's device context: the
    // drawing's own record while it draws on its target, else (a pattern or
    // an off-screen clip) a record for the target in use.
    RenderTarget* rec = rt_;
    RenderTarget scratch;
    if (target_ != base_target_ || !rt_ || !rt_->context) {
        rec = nullptr;
        if (SUCCEEDED(target_->QueryInterface(__uuidof(ID2D1DeviceContext),
                                              reinterpret_cast<void**>(&scratch.context))))
            rec = &scratch;
    }
    IDWriteTextLayout* layout = nullptr;
    if (type_of(value) == TYPE_OBJECT) {
        layout = text_box_layout(value, rec, true);
    } else {
        if (!p_.format) p_.format = text_format(value);
        if (p_.format) {
            set_line_spacing(p_.format, p_.format, nullptr);
            layout = create_text_layout(value, p_.format, 0, 0);
        }
    }
    ID2D1SolidColorBrush* brush = nullptr;
    if (layout) target_->CreateSolidColorBrush(to_dx_color(p_.font_colour), &brush);
    if (brush) {
        D2D1_DRAW_TEXT_OPTIONS options =
            g.win8 ? D2D1_DRAW_TEXT_OPTIONS_ENABLE_COLOR_FONT : D2D1_DRAW_TEXT_OPTIONS_NONE;
        if (rec)
            draw_text_layout(rec, pt(position), layout, brush, options);
        else
            target_->DrawTextLayout(pt(position), layout, brush, options);
        brush->Release();
    }
    if (layout) layout->Release();
    if (rec == &scratch) {
        for (BrushEntry& e : scratch.brushes) e.brush->Release();
        for (Backdrop& b : scratch.backdrops)
            if (b.brush) b.brush->Release();
        scratch.brushes.clear();
        scratch.backdrops.clear();
    }
    release(scratch.context);
}

ID2D1Bitmap* D2DRenderer::bitmap_of(const Cell* img, bool cache) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    if (!w || !h) return nullptr;
    if (cache) {
        if (ID2D1Bitmap* c = cached_bitmap(img)) {
            c->AddRef();
            return c;
        }
    }
    const uint8_t* px = image::converted_source(img, true);
    if (!px) return nullptr;
    ID2D1Bitmap* bmp = nullptr;
    D2D1_BITMAP_PROPERTIES props = D2D1::BitmapProperties(
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
    if (FAILED(target_->CreateBitmap(D2D1::SizeU(w, h), px, w * 4, props, &bmp))) return nullptr;
    if (cache) set_cached_bitmap(img, bmp);
    return bmp;
}

bool D2DRenderer::image(const Cell* img, const std::vector<DrawPoint>& points,
                        std::optional<uint32_t>, bool, std::optional<ImageCrop> crop) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    if (!w || !h) return true;
    ID2D1Bitmap* bmp = bitmap_of(img, to_window_);
    if (!bmp) return false;
    D2D1_POINT_2F pos = points.empty() ? D2D1_POINT_2F{0, 0} : pt(points[0]);
    D2D1_RECT_F src{0, 0, static_cast<float>(w), static_cast<float>(h)};
    if (crop) {
        D2D1_RECT_F r = normalised(crop->offset.x, crop->offset.y, crop->offset.x + crop->size.x,
                                   crop->offset.y + crop->size.y);
        if (r.right <= 0 || r.bottom <= 0) {
            bmp->Release();
            return true;
        }
        if (r.left < 0) {
            pos.x -= r.left;
            r.left = 0;
        }
        if (r.top < 0) {
            pos.y -= r.top;
            r.top = 0;
        }
        r.right = std::min(r.right, static_cast<float>(w));
        r.bottom = std::min(r.bottom, static_cast<float>(h));
        src = r;
    }
    float sw = src.right - src.left, sh = src.bottom - src.top;
    if (sw > 0 && sh > 0) {
        if (points.size() >= 4) {
            // Corners: a projective map of the image rectangle onto them,
            // drawn as a grid of small affine-mapped cells (bitmaps drawn
            // with a perspective matrix are not honoured everywhere). The
            // map is the square-to-quad homography.
            D2D1_POINT_2F q[4] = {pt(points[0]), pt(points[1]), pt(points[2]), pt(points[3])};
            double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x,
                   dx3 = q[0].x - q[1].x + q[2].x - q[3].x;
            double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y,
                   dy3 = q[0].y - q[1].y + q[2].y - q[3].y;
            double den = dx1 * dy2 - dx2 * dy1, g = 0, h = 0;
            if (den != 0 && (dx3 != 0 || dy3 != 0)) {
                g = (dx3 * dy2 - dx2 * dy3) / den;
                h = (dx1 * dy3 - dx3 * dy1) / den;
            }
            double a = q[1].x - q[0].x + g * q[1].x, b = q[3].x - q[0].x + h * q[3].x;
            double d = q[1].y - q[0].y + g * q[1].y, e = q[3].y - q[0].y + h * q[3].y;
            auto map = [&](double u, double v) {
                double w = g * u + h * v + 1;
                return D2D1_POINT_2F{static_cast<float>((a * u + b * v + q[0].x) / w),
                                     static_cast<float>((d * u + e * v + q[0].y) / w)};
            };
            // Each cell is two triangles, each filled with the bitmap under
            // the affine map of its three corners: neighbours share their
            // edges exactly, and aliased filling leaves no seam.
            constexpr int N = 16;
            float cw = sw / N, ch = sh / N;
            ID2D1BitmapBrush* brush = nullptr;
            target_->CreateBitmapBrush(
                bmp,
                D2D1::BitmapBrushProperties(D2D1_EXTEND_MODE_CLAMP, D2D1_EXTEND_MODE_CLAMP,
                                            D2D1_BITMAP_INTERPOLATION_MODE_LINEAR),
                &brush);
            if (brush) {
                target_->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
                auto triangle = [&](D2D1_POINT_2F o, D2D1_POINT_2F x_end, D2D1_POINT_2F y_end,
                                    float sx, float sy, float ex, float ey) {
                    // Image point (sx, sy) goes to o; (sx + ex, sy) to x_end;
                    // (sx, sy + ey) to y_end.
                    Matrix m{(x_end.x - o.x) / ex,
                             (x_end.y - o.y) / ex,
                             (y_end.x - o.x) / ey,
                             (y_end.y - o.y) / ey,
                             0,
                             0};
                    m._31 = o.x - (sx * m._11 + sy * m._21);
                    m._32 = o.y - (sx * m._12 + sy * m._22);
                    brush->SetTransform(m);
                    ID2D1GeometrySink* sink;
                    ID2D1PathGeometry* path = open_path(&sink);
                    if (!path) return;
                    sink->BeginFigure(o, D2D1_FIGURE_BEGIN_FILLED);
                    sink->AddLine(x_end);
                    sink->AddLine(y_end);
                    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
                    sink->Close();
                    sink->Release();
                    target_->FillGeometry(path, brush);
                    path->Release();
                };
                for (int j = 0; j < N; j++)
                    for (int i = 0; i < N; i++) {
                        D2D1_POINT_2F p00 = map(double(i) / N, double(j) / N);
                        D2D1_POINT_2F p10 = map(double(i + 1) / N, double(j) / N);
                        D2D1_POINT_2F p01 = map(double(i) / N, double(j + 1) / N);
                        D2D1_POINT_2F p11 = map(double(i + 1) / N, double(j + 1) / N);
                        float x0 = src.left + i * cw, y0 = src.top + j * ch;
                        triangle(p00, p10, p01, x0, y0, cw, ch);
                        triangle(p11, p01, p10, x0 + cw, y0 + ch, -cw, -ch);
                    }
                brush->Release();
                target_->SetAntialiasMode(p_.anti_alias ? D2D1_ANTIALIAS_MODE_PER_PRIMITIVE
                                                        : D2D1_ANTIALIAS_MODE_ALIASED);
            }
        } else {
            D2D1_RECT_F dst = points.size() == 2
                                  ? normalised(points[0].x, points[0].y, points[1].x, points[1].y)
                                  : D2D1_RECT_F{pos.x, pos.y, pos.x + sw, pos.y + sh};
            if (points.size() == 2 && crop) dst = {pos.x, pos.y, dst.right, dst.bottom};
            target_->DrawBitmap(bmp, dst, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, src);
        }
    }
    bmp->Release();
    return true;
}

// --- strokes built as geometry -----------------------------------------------
//
// Wine strokes every line with flat caps, its own joins and no dashes: a
// styled stroke is built here as one filled outline instead. The path is
// flattened, cut into dashes (lengths in line widths), and each piece
// becomes segment quads, join wedges or discs and cap squares or discs, all
// wound the same way so that the winding fill paints their union once.

namespace {

struct Figure {
    std::vector<D2D1_POINT_2F> points;
    bool closed;
};

class FlatSink : public ID2D1SimplifiedGeometrySink {
  public:
    std::vector<Figure> figures;
    STDMETHOD(QueryInterface)(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 1; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD_(void, SetFillMode)(D2D1_FILL_MODE) override {}
    STDMETHOD_(void, SetSegmentFlags)(D2D1_PATH_SEGMENT) override {}
    STDMETHOD_(void, BeginFigure)(D2D1_POINT_2F p, D2D1_FIGURE_BEGIN) override {
        figures.push_back({{p}, false});
    }
    STDMETHOD_(void, AddLines)(const D2D1_POINT_2F* p, UINT32 n) override {
        if (figures.empty()) return;
        figures.back().points.insert(figures.back().points.end(), p, p + n);
    }
    STDMETHOD_(void, AddBeziers)(const D2D1_BEZIER_SEGMENT* b, UINT32 n) override {
        if (figures.empty()) return;
        auto& pts = figures.back().points;
        for (UINT32 i = 0; i < n; i++) {
            D2D1_POINT_2F p0 = pts.back();
            for (int k = 1; k <= 16; k++) {
                float t = k / 16.0f, u = 1 - t;
                float a = u * u * u, c1 = 3 * u * u * t, c2 = 3 * u * t * t, d = t * t * t;
                pts.push_back(
                    {a * p0.x + c1 * b[i].point1.x + c2 * b[i].point2.x + d * b[i].point3.x,
                     a * p0.y + c1 * b[i].point1.y + c2 * b[i].point2.y + d * b[i].point3.y});
            }
        }
    }
    STDMETHOD_(void, EndFigure)(D2D1_FIGURE_END end) override {
        if (!figures.empty()) figures.back().closed = end == D2D1_FIGURE_END_CLOSED;
    }
    STDMETHOD(Close)() override { return S_OK; }
};

// A polygon wound positively (the way discs are added).
void add_polygon(ID2D1GeometrySink* sink, std::vector<D2D1_POINT_2F> pts) {
    double area = 0;
    for (size_t i = 0; i < pts.size(); i++) {
        const D2D1_POINT_2F &a = pts[i], &b = pts[(i + 1) % pts.size()];
        area += static_cast<double>(a.x) * b.y - static_cast<double>(b.x) * a.y;
    }
    if (std::fabs(area) < 1e-9) return;
    if (area < 0) std::reverse(pts.begin(), pts.end());
    sink->BeginFigure(pts[0], D2D1_FIGURE_BEGIN_FILLED);
    for (size_t i = 1; i < pts.size(); i++) sink->AddLine(pts[i]);
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
}

void add_disc(ID2D1GeometrySink* sink, D2D1_POINT_2F c, float r) {
    sink->BeginFigure({c.x + r, c.y}, D2D1_FIGURE_BEGIN_FILLED);
    add_arc_beziers(sink, c, r, r, 0, 2 * PI, nullptr);
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
}

D2D1_POINT_2F add(D2D1_POINT_2F a, D2D1_POINT_2F b, float k = 1) {
    return {a.x + b.x * k, a.y + b.y * k};
}

// Cuts a polyline into its dashes ("on" intervals of the pattern).
std::vector<std::vector<D2D1_POINT_2F>> dash_pieces(const std::vector<D2D1_POINT_2F>& pts,
                                                    const std::vector<float>& pattern) {
    std::vector<std::vector<D2D1_POINT_2F>> out;
    size_t index = 0;
    float left = pattern[0];
    bool on = true;
    std::vector<D2D1_POINT_2F> piece{pts[0]};
    for (size_t i = 1; i < pts.size(); i++) {
        D2D1_POINT_2F a = pts[i - 1], b = pts[i];
        float len = std::hypot(b.x - a.x, b.y - a.y), done = 0;
        while (len - done > left) {
            done += left;
            D2D1_POINT_2F p{a.x + (b.x - a.x) * done / len, a.y + (b.y - a.y) * done / len};
            if (on) {
                piece.push_back(p);
                out.push_back(piece);
            }
            piece.assign(1, p);
            on = !on;
            index = (index + 1) % pattern.size();
            left = pattern[index];
        }
        left -= len - done;
        if (on) piece.push_back(b);
    }
    if (on && piece.size() > 1) out.push_back(piece);
    return out;
}

} // namespace

bool D2DRenderer::styled_stroke() const {
    return dx.wine && (!p_.dashes.empty() || p_.cap != LineCap::flat || p_.join != LineJoin::miter);
}

void D2DRenderer::stroke_ellipse(const D2D1_ELLIPSE& e, ID2D1Brush* brush) {
    if (!styled_stroke()) {
        target_->DrawEllipse(e, brush, p_.width, p_.stroke);
        return;
    }
    ID2D1EllipseGeometry* g = nullptr;
    if (FAILED(dx.factory->CreateEllipseGeometry(e, &g))) return;
    stroke_geometry(g, brush);
    g->Release();
}

void D2DRenderer::stroke_geometry(ID2D1Geometry* geometry, ID2D1Brush* brush) {
    if (!styled_stroke()) {
        target_->DrawGeometry(geometry, brush, p_.width, p_.stroke);
        return;
    }
    FlatSink flat;
    if (FAILED(
            geometry->Simplify(D2D1_GEOMETRY_SIMPLIFICATION_OPTION_LINES, nullptr, 0.25f, &flat))) {
        target_->DrawGeometry(geometry, brush, p_.width, p_.stroke);
        return;
    }
    float h = p_.width / 2;
    std::vector<float> pattern;
    float total = 0;
    for (float d : p_.dashes) {
        pattern.push_back(std::max(0.0f, d) * p_.width);
        total += pattern.back();
    }
    if (total <= 0) pattern.clear();
    ID2D1GeometrySink* sink;
    ID2D1PathGeometry* outline = open_path(&sink);
    if (!outline) return;
    sink->SetFillMode(D2D1_FILL_MODE_WINDING);
    for (Figure& f : flat.figures) {
        std::vector<D2D1_POINT_2F> pts;
        for (D2D1_POINT_2F p : f.points)
            if (pts.empty() || p.x != pts.back().x || p.y != pts.back().y) pts.push_back(p);
        if (pts.size() < 2) continue;
        bool closed = f.closed;
        if (closed && (pts.front().x != pts.back().x || pts.front().y != pts.back().y))
            pts.push_back(pts.front());
        std::vector<std::vector<D2D1_POINT_2F>> pieces;
        if (pattern.empty())
            pieces.push_back(pts);
        else
            pieces = dash_pieces(pts, pattern);
        bool ring = closed && pattern.empty();
        for (const auto& piece : pieces) {
            size_t n = piece.size();
            auto normal = [&](size_t i) {
                D2D1_POINT_2F a = piece[i], b = piece[i + 1];
                float len = std::hypot(b.x - a.x, b.y - a.y);
                return len > 0 ? D2D1_POINT_2F{-(b.y - a.y) / len * h, (b.x - a.x) / len * h}
                               : D2D1_POINT_2F{0, 0};
            };
            for (size_t i = 0; i + 1 < n; i++) {
                D2D1_POINT_2F nv = normal(i);
                add_polygon(sink, {add(piece[i], nv), add(piece[i + 1], nv),
                                   add(piece[i + 1], nv, -1), add(piece[i], nv, -1)});
            }
            // Joins at the inner vertices (and where a ring closes).
            for (size_t i = 1; i < n; i++) {
                if (i == n - 1 && !ring) break;
                size_t prev = i - 1, next = i == n - 1 ? 0 : i;
                D2D1_POINT_2F v = piece[i], n1 = normal(prev), n2 = normal(next);
                if (p_.join == LineJoin::round) {
                    add_disc(sink, v, h);
                    continue;
                }
                for (float side : {1.0f, -1.0f}) {
                    D2D1_POINT_2F a = add(v, n1, side), b = add(v, n2, side);
                    D2D1_POINT_2F mid{(n1.x + n2.x) / 2, (n1.y + n2.y) / 2};
                    float ml = std::hypot(mid.x, mid.y);
                    bool miter = (p_.join == LineJoin::miter || p_.join == LineJoin::miter_bevel) &&
                                 ml > 1e-6f && h / ml <= 10.0f;
                    if (miter) {
                        float k = h * h / (ml * ml);
                        add_polygon(sink, {v, a, add(v, mid, side * k), b});
                    } else {
                        add_polygon(sink, {v, a, b});
                    }
                }
            }
            if (ring) continue;
            for (int end = 0; end < 2; end++) {
                D2D1_POINT_2F p = end ? piece[n - 1] : piece[0];
                D2D1_POINT_2F q = end ? piece[n - 2] : piece[1];
                float len = std::hypot(p.x - q.x, p.y - q.y);
                if (len <= 0) continue;
                D2D1_POINT_2F out{(p.x - q.x) / len * h, (p.y - q.y) / len * h};
                D2D1_POINT_2F nv{-out.y, out.x};
                if (p_.cap == LineCap::round)
                    add_disc(sink, p, h);
                else if (p_.cap == LineCap::square)
                    add_polygon(sink, {add(p, nv), add(add(p, nv), out), add(add(p, nv, -1), out),
                                       add(p, nv, -1)});
            }
        }
    }
    sink->Close();
    sink->Release();
    target_->FillGeometry(outline, brush);
    outline->Release();
}

// --- clips ------------------------------------------------------------------

void D2DRenderer::push_layer(ID2D1Geometry* mask, const D2D1_RECT_F& bounds) {
    if (dx.wine && mask) {
        // Wine's layers ignore their mask.
        ID2D1BitmapRenderTarget* surface = nullptr;
        if (SUCCEEDED(target_->CreateCompatibleRenderTarget(&surface))) {
            Clip c{Clip::OFFSCREEN, target_, surface, add_ref(mask), {}};
            target_->GetTransform(&c.transform);
            surface->BeginDraw();
            surface->SetTransform(c.transform);
            surface->SetAntialiasMode(p_.anti_alias ? D2D1_ANTIALIAS_MODE_PER_PRIMITIVE
                                                    : D2D1_ANTIALIAS_MODE_ALIASED);
            surface->SetTextAntialiasMode(target_->GetTextAntialiasMode());
            target_ = surface;
            clips_.push_back(c);
            return;
        }
    }
    ID2D1Layer* layer = nullptr;
    if (FAILED(target_->CreateLayer(nullptr, &layer))) {
        clips_.push_back({Clip::AXIS});
        target_->PushAxisAlignedClip(bounds, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
        return;
    }
    D2D1_LAYER_PARAMETERS params{bounds,
                                 mask,
                                 D2D1_ANTIALIAS_MODE_PER_PRIMITIVE,
                                 matrix_identity(),
                                 1.0f,
                                 nullptr,
                                 D2D1_LAYER_OPTIONS_NONE};
    target_->PushLayer(params, layer);
    layer->Release();
    clips_.push_back({Clip::LAYER});
}

void D2DRenderer::clip_rect(DrawPoint a, DrawPoint b) {
    D2D1_RECT_F r = normalised(a.x, a.y, b.x, b.y);
    Matrix m;
    target_->GetTransform(&m);
    auto small = [](float x, float y) { return std::fabs(x) <= 1e-6f * std::fabs(y); };
    bool aligned = (small(m._12, m._11) && small(m._21, m._22)) ||
                   (small(m._11, m._12) && small(m._22, m._21));
    if (aligned) {
        target_->PushAxisAlignedClip(r, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
        clips_.push_back({Clip::AXIS});
        return;
    }
    ID2D1RectangleGeometry* g = nullptr;
    dx.factory->CreateRectangleGeometry(r, &g);
    push_layer(g, r);
    if (g) g->Release();
}

void D2DRenderer::pop_clips(size_t depth) {
    while (clips_.size() > depth) {
        Clip c = clips_.back();
        clips_.pop_back();
        if (c.kind == Clip::AXIS) {
            target_->PopAxisAlignedClip();
        } else if (c.kind == Clip::LAYER) {
            target_->PopLayer();
        } else {
            // The clipped drawing, as a brush that puts every pixel back
            // where it was drawn, fills the mask.
            ID2D1Bitmap* bmp = nullptr;
            c.surface->EndDraw();
            c.surface->GetBitmap(&bmp);
            target_ = c.saved_target;
            ID2D1BitmapBrush* brush = nullptr;
            if (bmp)
                target_->CreateBitmapBrush(
                    bmp,
                    D2D1::BitmapBrushProperties(D2D1_EXTEND_MODE_CLAMP, D2D1_EXTEND_MODE_CLAMP,
                                                D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR),
                    &brush);
            if (brush) {
                Matrix now, inverse;
                target_->GetTransform(&now);
                win::matrix_invert(c.transform, &inverse);
                brush->SetTransform(inverse);
                target_->SetTransform(c.transform);
                target_->FillGeometry(c.mask, brush);
                target_->SetTransform(now);
                brush->Release();
            }
            release(bmp);
            c.surface->Release();
            c.mask->Release();
        }
    }
}

// --- paths ------------------------------------------------------------------

void D2DRenderer::release_path() {
    if (sink_) {
        if (figure_open_) sink_->EndFigure(D2D1_FIGURE_END_OPEN);
        sink_->Close();
    }
    figure_open_ = false;
    release(sink_);
    release(path_);
}

void D2DRenderer::shape_begin(bool draw) {
    release_path();
    path_ = open_path(&sink_);
    if (!path_) return;
    path_draw_ = draw;
    if (!draw) sink_->SetFillMode(D2D1_FILL_MODE_WINDING);
    current_ = {0, 0};
    sink_->BeginFigure(current_, draw && p_.fill_mode != NONE ? D2D1_FIGURE_BEGIN_FILLED
                                                              : D2D1_FIGURE_BEGIN_HOLLOW);
    figure_open_ = true;
}

void D2DRenderer::shape_move(DrawPoint to) {
    if (!sink_) return;
    sink_->EndFigure(D2D1_FIGURE_END_OPEN);
    current_ = pt(to);
    sink_->BeginFigure(current_, (!path_draw_ || p_.fill_mode != NONE) ? D2D1_FIGURE_BEGIN_FILLED
                                                                       : D2D1_FIGURE_BEGIN_HOLLOW);
}

void D2DRenderer::shape_line(DrawPoint to) {
    if (!sink_) return;
    current_ = pt(to);
    sink_->AddLine(current_);
}

void D2DRenderer::shape_curve(DrawPoint c1, DrawPoint c2, DrawPoint to) {
    if (!sink_) return;
    current_ = pt(to);
    sink_->AddBezier({pt(c1), pt(c2), current_});
}

void D2DRenderer::shape_qcurve(DrawPoint c, DrawPoint to) {
    if (!sink_) return;
    current_ = pt(to);
    sink_->AddQuadraticBezier({pt(c), current_});
}

// The endpoint form of an elliptical arc, by the centre construction of
// elliptical arcs: radii grow when they cannot reach the end point.
void D2DRenderer::shape_arc(DrawPoint to, float rx, float ry, float angle, bool sweep, bool large) {
    if (!sink_) return;
    D2D1_POINT_2F p0 = current_, p1 = pt(to);
    current_ = p1;
    rx = std::fabs(rx);
    ry = std::fabs(ry);
    if (rx == 0 || ry == 0 || (p0.x == p1.x && p0.y == p1.y)) {
        sink_->AddLine(p1);
        return;
    }
    double phi = angle * PI / 180, cp = std::cos(phi), sp = std::sin(phi);
    double dx2 = (p0.x - p1.x) / 2.0, dy2 = (p0.y - p1.y) / 2.0;
    double x1 = cp * dx2 + sp * dy2, y1 = -sp * dx2 + cp * dy2;
    double lambda = (x1 * x1) / (double(rx) * rx) + (y1 * y1) / (double(ry) * ry);
    double Rx = rx, Ry = ry;
    if (lambda > 1) {
        Rx *= std::sqrt(lambda);
        Ry *= std::sqrt(lambda);
    }
    double num = Rx * Rx * Ry * Ry - Rx * Rx * y1 * y1 - Ry * Ry * x1 * x1;
    double den = Rx * Rx * y1 * y1 + Ry * Ry * x1 * x1;
    double coef = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
    if (large == sweep) coef = -coef;
    double cxp = coef * Rx * y1 / Ry, cyp = -coef * Ry * x1 / Rx;
    double cx = cp * cxp - sp * cyp + (p0.x + p1.x) / 2.0;
    double cy = sp * cxp + cp * cyp + (p0.y + p1.y) / 2.0;
    double t1 = std::atan2((y1 - cyp) / Ry, (x1 - cxp) / Rx);
    double t2 = std::atan2((-y1 - cyp) / Ry, (-x1 - cxp) / Rx);
    double d = t2 - t1;
    if (sweep && d < 0) d += 2 * PI;
    if (!sweep && d > 0) d -= 2 * PI;
    Matrix rot{static_cast<float>(cp),
               static_cast<float>(sp),
               static_cast<float>(-sp),
               static_cast<float>(cp),
               0,
               0};
    add_arc_beziers(sink_, {static_cast<float>(cx), static_cast<float>(cy)}, static_cast<float>(Rx),
                    static_cast<float>(Ry), t1, t1 + d, &rot);
}

void D2DRenderer::shape_close() {
    if (!sink_) return;
    sink_->EndFigure(D2D1_FIGURE_END_CLOSED);
    sink_->BeginFigure(current_, (!path_draw_ || p_.fill_mode != NONE) ? D2D1_FIGURE_BEGIN_FILLED
                                                                       : D2D1_FIGURE_BEGIN_HOLLOW);
}

bool D2DRenderer::shape_end() {
    if (!sink_) return false;
    sink_->EndFigure(D2D1_FIGURE_END_OPEN);
    figure_open_ = false;
    bool ok = SUCCEEDED(sink_->Close());
    release(sink_);
    if (ok) paint_geometry(path_, true);
    release(path_);
    return ok;
}

bool D2DRenderer::clip_shape() {
    if (!sink_) return false;
    sink_->EndFigure(D2D1_FIGURE_END_CLOSED);
    figure_open_ = false;
    bool ok = SUCCEEDED(sink_->Close());
    release(sink_);
    if (ok) push_layer(path_, D2D1::InfiniteRect());
    release(path_);
    return ok;
}

// --- matrices ---------------------------------------------------------------

void D2DRenderer::change_matrix(MatrixTarget t, const Matrix& op) {
    if (t == MatrixTarget::drawing) {
        Matrix m;
        target_->GetTransform(&m);
        target_->SetTransform(matrix_combine(m, op, 1));
        return;
    }
    bool fill = t == MatrixTarget::fill_pen;
    ID2D1Brush* b = fill ? p_.fill : p_.pen;
    int32_t mode = fill ? p_.fill_mode : (p_.width == 0 ? p_.saved_pen_mode : p_.pen_mode);
    if (!b || mode < GEOMETRY) return;
    Matrix m;
    b->GetTransform(&m);
    b->SetTransform(matrix_combine(m, op, 1));
}

void D2DRenderer::matrix_rotate(MatrixTarget t, float angle, std::optional<DrawPoint> c) {
    change_matrix(t, win::matrix_rotate(matrix_identity(), angle, c ? c->x : 0, c ? c->y : 0, 0));
}

void D2DRenderer::matrix_scale(MatrixTarget t, float sx, float sy, std::optional<DrawPoint> c) {
    change_matrix(t, win::matrix_scale(matrix_identity(), sx, sy, c ? c->x : 0, c ? c->y : 0, 0));
}

void D2DRenderer::matrix_translate(MatrixTarget t, DrawPoint o) {
    change_matrix(t, win::matrix_translate(matrix_identity(), o.x, o.y, 0));
}

void D2DRenderer::matrix_skew(MatrixTarget t, float ax, float ay, std::optional<DrawPoint> c) {
    change_matrix(t, win::matrix_skew(matrix_identity(), ax, ay, c ? c->x : 0, c ? c->y : 0, 0));
}

void D2DRenderer::matrix_transform(MatrixTarget t, std::optional<DrawPoint> c, float angle,
                                   float sx, float sy, DrawPoint o) {
    float cx = c ? c->x : 0, cy = c ? c->y : 0;
    Matrix op = win::matrix_rotate(matrix_identity(), angle, cx, cy, 0);
    op = win::matrix_scale(op, sx, sy, cx, cy, 0);
    op = win::matrix_translate(op, o.x, o.y, 0);
    change_matrix(t, op);
}

void D2DRenderer::set_matrix(MatrixTarget t, const std::array<float, 6>& m) {
    change_matrix(t, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

void D2DRenderer::matrix_reset(MatrixTarget t) {
    if (t == MatrixTarget::drawing) {
        target_->SetTransform(matrix_identity());
        return;
    }
    ID2D1Brush* b = t == MatrixTarget::fill_pen ? p_.fill : p_.pen;
    if (b) b->SetTransform(matrix_identity());
}

void D2DRenderer::matrix_invert(MatrixTarget t) {
    Matrix m, inv;
    ID2D1Brush* b = nullptr;
    if (t == MatrixTarget::drawing)
        target_->GetTransform(&m);
    else if ((b = t == MatrixTarget::fill_pen ? p_.fill : p_.pen))
        b->GetTransform(&m);
    else
        return;
    win::matrix_invert(m, &inv);
    if (b)
        b->SetTransform(inv);
    else
        target_->SetTransform(inv);
}

// --- state ------------------------------------------------------------------

void D2DRenderer::state_push() {
    Saved s;
    if (FAILED(dx.factory->CreateDrawingStateBlock(&s.block))) {
        std::fputs("OS-draw-state-push failed\n", stdout);
        s.block = nullptr;
    }
    if (s.block) target_->SaveDrawingState(s.block);
    s.pens = p_;
    add_ref(s.pens.pen);
    add_ref(s.pens.fill);
    add_ref(s.pens.stroke);
    add_ref(s.pens.format);
    s.clip_depth = clips_.size();
    saved_.push_back(std::move(s));
}

void D2DRenderer::state_pop() {
    if (saved_.empty()) return;
    Saved s = std::move(saved_.back());
    saved_.pop_back();
    pop_clips(s.clip_depth);
    if (s.block) {
        target_->RestoreDrawingState(s.block);
        s.block->Release();
    }
    release_pens(p_);
    p_ = std::move(s.pens);
    // Solid brushes were recoloured in place since the push: give them
    // their saved colours back.
    if (p_.pen && (p_.width == 0 ? p_.saved_pen_mode : p_.pen_mode) == SOLID) {
        release(p_.pen);
        p_.pen = make_solid(p_.pen_colour);
    }
    if (p_.fill && p_.fill_mode == SOLID) {
        release(p_.fill);
        p_.fill = make_solid(p_.fill_colour);
    }
}

// --- shadows ----------------------------------------------------------------

// Shadows are drawn on the CPU: Wine's shadow effect draws nothing. The
// shape's coverage is rasterised in a bitmap target, blurred with three box
// passes per axis (a Gaussian of sigma = blur / 1.88), tinted with the
// shadow's colour and drawn offset under the shape.
void D2DRenderer::draw_shadows(const D2D1_RECT_F& r, bool is_ellipse, float radius) {
    for (const Shadow& s : p_.shadows) {
        float dxo = s.dx, dyo = s.dy, blur = s.blur, spread = s.spread;
        uint32_t colour = s.colour;
        float sigma = blur / 1.88f;
        int pad = static_cast<int>(std::ceil(sigma * 3)) + 1;
        float w = r.right - r.left + 2 * spread, h = r.bottom - r.top + 2 * spread;
        if (w <= 0 || h <= 0) continue;
        int W = static_cast<int>(std::ceil(w)) + 2 * pad,
            H = static_cast<int>(std::ceil(h)) + 2 * pad;
        if (W > 8192 || H > 8192) continue;
        std::vector<float> a(static_cast<size_t>(W) * H, 0.0f);
        // Coverage of the spread shape (box, rounded box or ellipse).
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                float px = x + 0.5f - pad, py = y + 0.5f - pad;
                bool in;
                if (is_ellipse) {
                    float ex = (px - w / 2) / (w / 2), ey = (py - h / 2) / (h / 2);
                    in = ex * ex + ey * ey <= 1;
                } else {
                    float rr = std::max(0.0f, radius + spread);
                    float qx = std::max(0.0f, std::max(rr - px, px - (w - rr)));
                    float qy = std::max(0.0f, std::max(rr - py, py - (h - rr)));
                    in = px >= 0 && py >= 0 && px <= w && py <= h &&
                         (rr == 0 || qx * qx + qy * qy <= rr * rr);
                }
                a[static_cast<size_t>(y) * W + x] = in ? 1.0f : 0.0f;
            }
        if (sigma > 0.1f) {
            // Three passes of a box of width w have the variance of a
            // Gaussian of sigma when w * w = 4 sigma * sigma + 1.
            int box = std::max(
                1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
            std::vector<float> t(a.size());
            for (int pass = 0; pass < 3; pass++) {
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++) {
                        float sum = 0;
                        for (int k = -box; k <= box; k++) {
                            int xx = std::clamp(x + k, 0, W - 1);
                            sum += a[static_cast<size_t>(y) * W + xx];
                        }
                        t[static_cast<size_t>(y) * W + x] = sum / (2 * box + 1);
                    }
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++) {
                        float sum = 0;
                        for (int k = -box; k <= box; k++) {
                            int yy = std::clamp(y + k, 0, H - 1);
                            sum += t[static_cast<size_t>(yy) * W + x];
                        }
                        a[static_cast<size_t>(y) * W + x] = sum / (2 * box + 1);
                    }
            }
        }
        float alpha = (255 - (colour >> 24)) / 255.0f;
        uint8_t cr = colour & 0xFF, cg = (colour >> 8) & 0xFF, cb = (colour >> 16) & 0xFF;
        std::vector<uint8_t> px(a.size() * 4);
        for (size_t i = 0; i < a.size(); i++) {
            float k = a[i] * alpha;
            px[i * 4 + 0] = static_cast<uint8_t>(cb * k + 0.5f);
            px[i * 4 + 1] = static_cast<uint8_t>(cg * k + 0.5f);
            px[i * 4 + 2] = static_cast<uint8_t>(cr * k + 0.5f);
            px[i * 4 + 3] = static_cast<uint8_t>(255 * k + 0.5f);
        }
        ID2D1Bitmap* bmp = nullptr;
        D2D1_BITMAP_PROPERTIES props = D2D1::BitmapProperties(
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
        if (FAILED(target_->CreateBitmap(D2D1::SizeU(W, H), px.data(), W * 4, props, &bmp)))
            continue;
        float x0 = r.left + dxo - spread - pad, y0 = r.top + dyo - spread - pad;
        target_->DrawBitmap(bmp, D2D1::RectF(x0, y0, x0 + W, y0 + H), 1.0f,
                            D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
        bmp->Release();
    }
}

} // namespace mox::gui::win

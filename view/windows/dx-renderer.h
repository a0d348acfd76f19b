// The draw dialect's renderer on Direct2D: into a window (its swap chain or,
// for copy-out, its back buffer taken into the DIB copy) or into an image
// (a WIC bitmap over a premultiplied copy of its pixels).
#pragma once

#include <windows.h>

#include <d2d1_1.h>
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "core/cell.h"
#include "datatypes/image-store.h"
#include "view/draw-renderer.h"
#include "view/windows/dx.h"

namespace mox::gui::win {

class D2DRenderer : public gui::Renderer {
  public:
    // A window drawing (image null), or an image drawing (hwnd null; image
    // a stack cell of the caller that outlives the drawing), or both: the
    // window's face (colour, image, text) drawn into the image at the
    // window's DPI instead of into the window. copy_out: the caller shows
    // the pixels itself (no Present). offscreen: a window drawing for a
    // layered window (its record, when made now, has no swap chain).
    D2DRenderer(HWND hwnd, const Cell* image, bool copy_out, bool offscreen = false);
    ~D2DRenderer() override;

    // Writes an image drawing back into the image's premultiplied copy and
    // marks it the newer one (image: the same image cell). May collect.
    void write_back(const Cell* image);

    bool begin() override;
    void end() override;
    void state_push() override;
    void state_pop() override;
    void pen(uint32_t colour) override;
    void pen_off() override;
    void fill_pen(uint32_t colour) override;
    void fill_pen_off() override;
    void gradient(bool fill, GradientKind kind, const std::vector<GradientStop>& stops,
                  const std::optional<GradientGeometry>& geometry, GradientSpread spread) override;
    void gradient_positional(bool fill, GradientKind kind, DrawPoint start, float start_offset,
                             float stop_offset, float angle, float sx, float sy,
                             const std::vector<GradientStop>& stops) override;
    void brush_bitmap(bool fill, const Cell* image, std::optional<DrawPoint> start,
                      std::optional<DrawPoint> end, TileMode tile) override;
    void pattern_begin(DrawPoint size) override;
    void pattern_end(bool ok, bool fill, DrawPoint size, std::optional<DrawPoint> start,
                     std::optional<DrawPoint> end, TileMode tile) override;
    void line_width(float width) override;
    void line_join(LineJoin join) override;
    void line_cap(LineCap cap) override;
    void line_pattern(const std::vector<float>& dashes) override;
    void anti_alias(bool on) override;
    void font(const Cell* font) override;
    void shadow(DrawPoint offset, float blur, float spread, uint32_t colour, bool inset) override;
    void shadow_off() override;
    void line(const std::vector<DrawPoint>& points) override;
    void box(DrawPoint top_left, DrawPoint bottom_right, float radius) override;
    void triangle(DrawPoint a, DrawPoint b, DrawPoint c) override;
    void polygon(const std::vector<DrawPoint>& points) override;
    void circle(DrawPoint centre, float rx, float ry) override;
    void ellipse(DrawPoint top_left, DrawPoint size) override;
    void arc(DrawPoint centre, DrawPoint radius, float start, float sweep, bool closed) override;
    void curve(const std::vector<DrawPoint>& points) override;
    void spline(const std::vector<DrawPoint>& points, bool closed) override;
    void text(DrawPoint position, const Cell* value) override;
    bool image(const Cell* image, const std::vector<DrawPoint>& points, std::optional<uint32_t> key,
               bool border, std::optional<ImageCrop> crop) override;
    void clip_rect(DrawPoint top_left, DrawPoint bottom_right) override;
    void shape_begin(bool draw) override;
    void shape_move(DrawPoint to) override;
    void shape_line(DrawPoint to) override;
    void shape_curve(DrawPoint control1, DrawPoint control2, DrawPoint to) override;
    void shape_qcurve(DrawPoint control, DrawPoint to) override;
    void shape_arc(DrawPoint to, float rx, float ry, float angle, bool sweep, bool large) override;
    void shape_close() override;
    bool shape_end() override;
    bool clip_shape() override;
    void matrix_rotate(MatrixTarget target, float angle, std::optional<DrawPoint> centre) override;
    void matrix_scale(MatrixTarget target, float sx, float sy,
                      std::optional<DrawPoint> centre) override;
    void matrix_translate(MatrixTarget target, DrawPoint offset) override;
    void matrix_skew(MatrixTarget target, float angle_x, float angle_y,
                     std::optional<DrawPoint> centre) override;
    void matrix_transform(MatrixTarget target, std::optional<DrawPoint> centre, float angle,
                          float sx, float sy, DrawPoint offset) override;
    void set_matrix(MatrixTarget target, const std::array<float, 6>& m) override;
    void matrix_reset(MatrixTarget target) override;
    void matrix_invert(MatrixTarget target) override;

    // Whether the drawing began (what was drawn before an error stays).
    bool drew() const { return drew_; }
    bool to_window() const { return to_window_; }

    // Present result of a window drawing (S_OK when nothing went wrong).
    HRESULT result() const { return result_; }

    // Brush modes.
    enum Mode : int32_t { NONE = 0, SOLID = 1, GEOMETRY = 2, FITTED = 3, IMAGE_BRUSH = 4 };

    // One drop shadow of the list boxes and ellipses cast.
    struct Shadow {
        float dx, dy, blur, spread;
        uint32_t colour;
    };

    // The drawing state a push saves (brushes hold their own reference).
    struct Pens {
        ID2D1Brush* pen = nullptr;
        ID2D1Brush* fill = nullptr;
        ID2D1StrokeStyle* stroke = nullptr;
        IDWriteTextFormat* format = nullptr;
        int32_t pen_mode = SOLID, fill_mode = NONE, saved_pen_mode = SOLID;
        uint32_t pen_colour = 0, fill_colour = 0, font_colour = 0;
        bool font_colour_set = false;
        GradientKind pen_kind = GradientKind::linear, fill_kind = GradientKind::linear;
        LineJoin join = LineJoin::miter;
        LineCap cap = LineCap::flat;
        std::vector<float> dashes;
        float width = 1.0f;
        float pen_periods = 1.0f, fill_periods = 1.0f; // repeated gradient periods
        bool anti_alias = true;
        std::vector<Shadow> shadows;
    };

  private:
    struct Saved {
        Pens pens;
        ID2D1DrawingStateBlock* block = nullptr;
        size_t clip_depth = 0;
    };
    struct Pattern {
        ID2D1RenderTarget* target;
        ID2D1BitmapRenderTarget* surface;
        size_t clip_depth;
        size_t saved_depth;
    };

    ID2D1Brush* make_solid(uint32_t colour);
    void set_brush(bool fill, ID2D1Brush* brush, int32_t mode, GradientKind kind);
    void rebuild_stroke();
    // Fills (when allowed) then strokes a geometry, fitting brushes to its
    // bounds.
    void paint_geometry(ID2D1Geometry* geometry, bool fill_allowed);
    // Strokes with the pen's width and style (built as geometry where the
    // system ignores caps, joins and dashes).
    bool styled_stroke() const;
    void stroke_geometry(ID2D1Geometry* geometry, ID2D1Brush* brush);
    void stroke_ellipse(const D2D1_ELLIPSE& e, ID2D1Brush* brush);
    template <typename Fill, typename Stroke>
    void paint(const D2D1_RECT_F& bounds, Fill fill, Stroke stroke);
    void fit(ID2D1Brush* brush, int32_t mode, GradientKind kind, float periods,
             const D2D1_RECT_F& bounds, D2D1_MATRIX_3X2_F* saved);
    ID2D1PathGeometry* open_path(ID2D1GeometrySink** sink);
    void release_path();
    void pop_clips(size_t depth);
    void push_layer(ID2D1Geometry* mask, const D2D1_RECT_F& bounds);
    void change_matrix(MatrixTarget target, const Matrix& op);
    ID2D1Bitmap* bitmap_of(const Cell* image, bool cache);
    ID2D1GradientStopCollection* stops_of(const std::vector<GradientStop>& stops,
                                          GradientSpread spread, float* scale);
    void draw_shadows(const D2D1_RECT_F& bounds, bool ellipse, float radius);
    void paint_background();

    HWND hwnd_;      // the face's window (null for a plain image drawing)
    bool to_window_; // drawing into the window itself, not into an image
    bool copy_out_;
    bool offscreen_;
    image::Store* store_ = nullptr; // the target image's store
    uint32_t width_ = 0, height_ = 0;
    float dpi_ = 96.0f; // of an image target
    RenderTarget* rt_ = nullptr;
    bool own_rt_ = false;
    ID2D1RenderTarget* target_ = nullptr;      // where drawing goes now
    ID2D1RenderTarget* base_target_ = nullptr; // the drawing's own target
    IWICBitmap* wic_ = nullptr;
    bool began_ = false;
    bool drew_ = false;
    HRESULT result_ = S_OK;
    Pens p_;
    // A pushed clip: axis-aligned, a layer, or (where layers ignore their
    // mask) drawing redirected off screen until the pop fills the mask
    // geometry with it.
    struct Clip {
        enum Kind : uint8_t { AXIS, LAYER, OFFSCREEN } kind;
        ID2D1RenderTarget* saved_target = nullptr;
        ID2D1BitmapRenderTarget* surface = nullptr;
        ID2D1Geometry* mask = nullptr;
        Matrix transform{};
    };
    std::vector<Clip> clips_;
    std::vector<Saved> saved_;
    std::vector<Pattern> patterns_;
    ID2D1PathGeometry* path_ = nullptr;
    ID2D1GeometrySink* sink_ = nullptr;
    bool path_draw_ = false;
    bool figure_open_ = false;
    D2D1_POINT_2F current_{0, 0};
};

// Arc of an ellipse about a centre from angle a1 to a2 (radians) as cubic
// Bézier segments, each of at most a quarter turn; the first point is not
// added (the caller moves or draws a line there).
void add_arc_beziers(ID2D1GeometrySink* sink, D2D1_POINT_2F centre, float rx, float ry, double a1,
                     double a2, const Matrix* rotation);

} // namespace mox::gui::win

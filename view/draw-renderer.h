// The draw dialect and the renderers it drives.
//
// The dialect (view/draw-dialect.cpp) is portable: it walks a draw block,
// checks every argument and converts it to the C++ types below, and calls
// one member of a Renderer per drawing effect. Each back end implements the
// interface: the Windows build on Direct2D, the null back end with a
// recorder that logs every call (view/draw-record.cpp).
//
// Values handed to a renderer: points in float user-space units; colours as
// colour integers (red bits 0-7, green 8-15, blue 16-23, transparency 24-31
// with 0 opaque); images, fonts and text values as pointers to cells on the
// evaluation stack that hold them for the length of the call (a renderer
// must not keep such a pointer past the call: take the image's Store with
// image::store_of, or copy what it needs).
//
// A renderer's members never raise language errors: what cannot be drawn is
// reported through their results (image, shape_end, clip_shape) and the
// dialect raises the error.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/cell.h"

namespace mox::gui {

struct DrawPoint {
    float x;
    float y;
};

// Which matrix a transformation changes: the drawing's, or a brush's.
enum class MatrixTarget : uint8_t { drawing, pen, fill_pen };

// The numbering the Direct2D enums use.
enum class LineJoin : uint8_t { miter = 0, bevel = 1, round = 2, miter_bevel = 3 };
enum class LineCap : uint8_t { flat = 0, square = 1, round = 2 };

enum class GradientKind : uint8_t { linear, radial, diamond };
enum class GradientSpread : uint8_t { pad, repeat, reflect };
enum class TileMode : uint8_t { tile, flip_x, flip_y, flip_xy, clamp };

// One stop of a gradient, its offset already resolved (running offsets
// filled in by the dialect).
struct GradientStop {
    float offset;
    uint32_t colour;
};

// The explicit geometry of a stop-list gradient.
//  linear: start and end.
//  radial: start is the centre, radius the radius, focal optional.
//  diamond: start is the centre, end the second point, radius the distance
//  from the centre to it, focal optional.
struct GradientGeometry {
    DrawPoint start;
    DrawPoint end;
    float radius;
    std::optional<DrawPoint> focal;
};

// The crop of an image: source offset and size, as given (not normalised).
struct ImageCrop {
    DrawPoint offset;
    DrawPoint size;
};

struct Renderer {
    virtual ~Renderer() = default;

    // Opens the drawing (target set, background painted); false when the
    // target cannot be drawn on, and nothing else is called but end().
    virtual bool begin() = 0;
    // Closes the drawing: pops what is still pushed, presents or writes back.
    virtual void end() = 0;

    // Saves the whole drawing state (pens, line style, font, matrices,
    // anti-alias, shadows); state_pop restores it and pops the clips pushed
    // since. Pushes and pops always pair up.
    virtual void state_push() = 0;
    virtual void state_pop() = 0;

    // --- pens and line style ---
    // Plain colour pen / fill; the _off forms stop stroking / filling.
    virtual void pen(uint32_t colour) = 0;
    virtual void pen_off() = 0;
    virtual void fill_pen(uint32_t colour) = 0;
    virtual void fill_pen_off() = 0;
    // Stop-list gradient; no geometry: fitted to each shape's bounds.
    virtual void gradient(bool fill, GradientKind kind, const std::vector<GradientStop>& stops,
                          const std::optional<GradientGeometry>& geometry,
                          GradientSpread spread) = 0;
    // Positional gradient: start point, start and stop offsets along x, then
    // the brush rotated by angle (degrees) and scaled by (sx, sy).
    virtual void gradient_positional(bool fill, GradientKind kind, DrawPoint start,
                                     float start_offset, float stop_offset, float angle, float sx,
                                     float sy, const std::vector<GradientStop>& stops) = 0;
    // An image (stack cell holding an image!) as a tiled brush, the source
    // rectangle from start (default 0x0) to end (default the image's size).
    virtual void brush_bitmap(bool fill, const Cell* image, std::optional<DrawPoint> start,
                              std::optional<DrawPoint> end, TileMode tile) = 0;
    // A pattern brush: pattern_begin redirects drawing into an off-screen
    // surface of the size with a fresh pushed state and identity matrix; the
    // dialect draws the pattern's block, then pattern_end restores the
    // target, state and clips and, when ok (the block drew without error),
    // makes the brush.
    virtual void pattern_begin(DrawPoint size) = 0;
    virtual void pattern_end(bool ok, bool fill, DrawPoint size, std::optional<DrawPoint> start,
                             std::optional<DrawPoint> end, TileMode tile) = 0;
    // Width 0 turns the stroke off until a non-zero width comes back.
    virtual void line_width(float width) = 0;
    virtual void line_join(LineJoin join) = 0;
    virtual void line_cap(LineCap cap) = 0;
    // Dash and gap lengths in turn; empty: solid lines.
    virtual void line_pattern(const std::vector<float>& dashes) = 0;
    virtual void anti_alias(bool on) = 0;
    // A font! object (stack cell) becomes the text font.
    virtual void font(const Cell* font) = 0;
    // Adds a drop shadow to the list boxes and ellipses cast.
    virtual void shadow(DrawPoint offset, float blur, float spread, uint32_t colour,
                        bool inset) = 0;
    // Empties the shadow list.
    virtual void shadow_off() = 0;

    // --- shapes ---
    // Two points: one line; more: an open polyline (filled when a fill is on).
    virtual void line(const std::vector<DrawPoint>& points) = 0;
    // Corners as given (the renderer normalises); radius 0: square corners.
    virtual void box(DrawPoint top_left, DrawPoint bottom_right, float radius) = 0;
    virtual void triangle(DrawPoint a, DrawPoint b, DrawPoint c) = 0;
    // Closed polygon through three or more points.
    virtual void polygon(const std::vector<DrawPoint>& points) = 0;
    // Ellipse of the radii about the centre (rx == ry for a circle).
    virtual void circle(DrawPoint centre, float rx, float ry) = 0;
    virtual void ellipse(DrawPoint top_left, DrawPoint size) = 0;
    // Angles in degrees; closed: a pie from the centre.
    virtual void arc(DrawPoint centre, DrawPoint radius, float start, float sweep, bool closed) = 0;
    // Three points: quadratic Bezier; four: cubic.
    virtual void curve(const std::vector<DrawPoint>& points) = 0;
    // Catmull-Rom spline through two or more points.
    virtual void spline(const std::vector<DrawPoint>& points, bool closed) = 0;
    // Text at the position: value is a stack cell holding a string or a face
    // object (drawn with its layout and background colour).
    virtual void text(DrawPoint position, const Cell* value) = 0;
    // An image (stack cell holding an image!) at 0, 1 (top-left), 2 (box) or
    // 3-4 (corners tl, tr, br, bl; with 3 the dialect adds the fourth)
    // points; key colour and border have no effect. False when the image
    // cannot become a device bitmap (the dialect raises no-memory).
    virtual bool image(const Cell* image, const std::vector<DrawPoint>& points,
                       std::optional<uint32_t> key, bool border, std::optional<ImageCrop> crop) = 0;

    // --- clips ---
    // Narrows the clip to the rectangle (until the enclosing state pop or end).
    virtual void clip_rect(DrawPoint top_left, DrawPoint bottom_right) = 0;

    // --- paths (the shape sub-dialect) ---
    // Starts a path with a figure at 0x0; draw false: the path is for a clip.
    // Coordinates are absolute; each segment starts at the current point
    // (the end of the previous segment or the move/close point).
    virtual void shape_begin(bool draw) = 0;
    // Ends the figure open and begins one at the point.
    virtual void shape_move(DrawPoint to) = 0;
    virtual void shape_line(DrawPoint to) = 0;
    virtual void shape_curve(DrawPoint control1, DrawPoint control2, DrawPoint to) = 0;
    virtual void shape_qcurve(DrawPoint control, DrawPoint to) = 0;
    // Elliptical arc to the point; angle in degrees; sweep: clockwise;
    // large: the larger of the two arcs.
    virtual void shape_arc(DrawPoint to, float rx, float ry, float angle, bool sweep,
                           bool large) = 0;
    // Ends the figure closed and begins one at the current point.
    virtual void shape_close() = 0;
    // Closes the path and draws it with fill and stroke; false on failure.
    virtual bool shape_end() = 0;
    // Closes a path begun with draw false and narrows the clip to it.
    virtual bool clip_shape() = 0;

    // --- matrices (pen / fill_pen targets change only gradient and image
    // brushes) ---
    virtual void matrix_rotate(MatrixTarget target, float angle,
                               std::optional<DrawPoint> centre) = 0;
    virtual void matrix_scale(MatrixTarget target, float sx, float sy,
                              std::optional<DrawPoint> centre) = 0;
    virtual void matrix_translate(MatrixTarget target, DrawPoint offset) = 0;
    virtual void matrix_skew(MatrixTarget target, float angle_x, float angle_y,
                             std::optional<DrawPoint> centre) = 0;
    // Rotate about the centre, scale about it, then translate.
    virtual void matrix_transform(MatrixTarget target, std::optional<DrawPoint> centre, float angle,
                                  float sx, float sy, DrawPoint offset) = 0;
    // m11 m12 m21 m22 dx dy, combined with the current matrix.
    virtual void set_matrix(MatrixTarget target, const std::array<float, 6>& m) = 0;
    virtual void matrix_reset(MatrixTarget target) = 0;
    virtual void matrix_invert(MatrixTarget target) = 0;
};

// Runs a draw block between r.begin() and r.end(). has_window: the target
// is a window (an empty or missing block still paints its background).
// catch_errors: errors are printed and the drawing stops there (painting);
// otherwise they reach the caller after r.end() has run. commands must be
// a cell the collector sees (a stack cell). Returns 0 when the block was
// drawn to its end, nonzero when there was nothing to draw or the drawing
// stopped early. May collect.
int do_draw(Renderer& r, const Cell* commands, bool has_window, bool catch_errors);

// Interprets one draw block with a renderer already begun (a face's draw
// block inside a paint in progress). Returns 0 when the block was drawn to
// its end, otherwise the stop: with catch_errors an error is printed and
// the walk stops (nothing raised); without it the error raises. Under
// system/view/silent? errors stop the walk quietly either way. May collect.
int parse_draw(Renderer& r, const Cell* commands, bool catch_errors);

} // namespace mox::gui

// The null back end's renderer: every call the draw dialect makes becomes an
// entry of the null-gui log, a block of the operation's word and its
// arguments, so that the dialect can be tested without a device.
//
// Arguments are logged as values: a point as a pair! when both coordinates
// are whole numbers, else as a point2D!; a number as an integer! when it is
// whole, else as the float! with the shortest digits of its 32-bit value; a
// colour as a tuple (with a fourth value only when it is transparent); an
// image as its size; absent optional arguments as none.
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/image-store.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "view/draw-renderer.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

bool whole(float f) {
    return std::isfinite(f) && std::nearbyint(f) == f && std::fabs(f) < 2147483648.0f;
}

// The float as the double its shortest decimal form reads as, so that 0.1f
// logs as 0.1.
double shortest(float f) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf - 1, f);
    *res.ptr = 0;
    return std::strtod(buf, nullptr);
}

// An entry under construction: a block on the stack.
class Entry {
  public:
    explicit Entry(const char* op) : base_(stack::top) {
        block_ = block::make_at(stack::push_cell(), 8);
        word(op);
    }
    ~Entry() { stack::top = base_; }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // The value goes on the stack first: the slot's allocation may collect.
    Entry& value(const Cell* v) {
        Cell* held = stack::push(v);
        *block::alloc_tail(block_) = *held;
        stack::top = held;
        return *this;
    }
    Entry& word(const char* name) {
        Cell w;
        word::make_at(symbol::make(name), &w);
        return value(&w);
    }
    Entry& logic(bool b) {
        Cell v;
        return value(make_logic(&v, b));
    }
    Entry& none() {
        Cell v;
        return value(make_none(&v));
    }
    Entry& number(float f) {
        Cell v;
        if (whole(f))
            make_integer(&v, static_cast<int32_t>(f));
        else
            make_float(&v, shortest(f));
        return value(&v);
    }
    Entry& point(DrawPoint p) {
        Cell v;
        if (whole(p.x) && whole(p.y))
            pair::make_cell(&v, static_cast<int32_t>(p.x), static_cast<int32_t>(p.y));
        else
            point2D::make_cell(&v, p.x, p.y);
        return value(&v);
    }
    Entry& point(const std::optional<DrawPoint>& p) { return p ? point(*p) : none(); }
    Entry& colour(uint32_t c) {
        uint8_t bytes[4] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                            static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 24)};
        Cell v;
        return value(tuple::make_cell(&v, bytes, bytes[3] ? 4 : 3));
    }
    Entry& image_size(const Cell* img) {
        Cell v;
        return value(pair::make_cell(&v, static_cast<int32_t>(image::width_of(img)),
                                     static_cast<int32_t>(image::height_of(img))));
    }
    // A nested block of values, filled by the callback on the nested entry.
    template <class Fill> Entry& nested(Fill fill) {
        Entry inner(nullptr, 0);
        fill(inner);
        return value(inner.block_);
    }
    Entry& target(MatrixTarget t) {
        return word(t == MatrixTarget::drawing ? "drawing"
                    : t == MatrixTarget::pen   ? "pen"
                                               : "fill-pen");
    }
    Entry& pen_kind(bool fill) { return word(fill ? "fill-pen" : "pen"); }
    Entry& points(const std::vector<DrawPoint>& pts) {
        for (const DrawPoint& p : pts) point(p);
        return *this;
    }

    void commit() { append_log(block_); }

  private:
    // A bare block without an operation word.
    Entry(std::nullptr_t, int) : base_(stack::top) {
        block_ = block::make_at(stack::push_cell(), 8);
    }

    Cell* base_;
    Cell* block_;
};

const char* kind_name(GradientKind k) {
    return k == GradientKind::linear ? "linear" : k == GradientKind::radial ? "radial" : "diamond";
}

const char* tile_name(TileMode t) {
    switch (t) {
    case TileMode::tile:
        return "tile";
    case TileMode::flip_x:
        return "flip-x";
    case TileMode::flip_y:
        return "flip-y";
    case TileMode::flip_xy:
        return "flip-xy";
    case TileMode::clamp:
        return "clamp";
    }
    return "tile";
}

void log_stops(Entry& e, const std::vector<GradientStop>& stops) {
    e.nested([&](Entry& b) {
        for (const GradientStop& s : stops) b.number(s.offset).colour(s.colour);
    });
}

class Recorder final : public Renderer {
  public:
    // The drawing's first entry: the routine's name and what it draws on
    // (a stack cell).
    Recorder(const char* routine, const Cell* target) : routine_(routine), target_(target) {}

    bool begin() override {
        Entry(routine_).value(target_).commit();
        return true;
    }
    void end() override { Entry("end").commit(); }
    void state_push() override { Entry("push").commit(); }
    void state_pop() override { Entry("pop").commit(); }

    void pen(uint32_t colour) override { Entry("pen").colour(colour).commit(); }
    void pen_off() override { Entry("pen").word("off").commit(); }
    void fill_pen(uint32_t colour) override { Entry("fill-pen").colour(colour).commit(); }
    void fill_pen_off() override { Entry("fill-pen").word("off").commit(); }
    void gradient(bool fill, GradientKind kind, const std::vector<GradientStop>& stops,
                  const std::optional<GradientGeometry>& g, GradientSpread spread) override {
        Entry e("gradient");
        e.pen_kind(fill).word(kind_name(kind));
        log_stops(e, stops);
        if (g)
            e.nested([&](Entry& b) {
                b.point(g->start).point(g->end).number(g->radius).point(g->focal);
            });
        else
            e.none();
        e.word(spread == GradientSpread::pad      ? "pad"
               : spread == GradientSpread::repeat ? "repeat"
                                                  : "reflect");
        e.commit();
    }
    void gradient_positional(bool fill, GradientKind kind, DrawPoint start, float from, float to,
                             float angle, float sx, float sy,
                             const std::vector<GradientStop>& stops) override {
        Entry e("gradient-positional");
        e.pen_kind(fill).word(kind_name(kind)).point(start).number(from).number(to);
        e.number(angle).number(sx).number(sy);
        log_stops(e, stops);
        e.commit();
    }
    void brush_bitmap(bool fill, const Cell* img, std::optional<DrawPoint> start,
                      std::optional<DrawPoint> end, TileMode tile) override {
        Entry("bitmap")
            .pen_kind(fill)
            .image_size(img)
            .point(start)
            .point(end)
            .word(tile_name(tile))
            .commit();
    }
    void pattern_begin(DrawPoint size) override { Entry("pattern-begin").point(size).commit(); }
    void pattern_end(bool ok, bool fill, DrawPoint size, std::optional<DrawPoint> start,
                     std::optional<DrawPoint> end, TileMode tile) override {
        Entry("pattern-end")
            .logic(ok)
            .pen_kind(fill)
            .point(size)
            .point(start)
            .point(end)
            .word(tile_name(tile))
            .commit();
    }
    void line_width(float width) override { Entry("line-width").number(width).commit(); }
    void line_join(LineJoin join) override {
        const char* names[] = {"miter", "bevel", "round", "miter-bevel"};
        Entry("line-join").word(names[static_cast<int>(join)]).commit();
    }
    void line_cap(LineCap cap) override {
        const char* names[] = {"flat", "square", "round"};
        Entry("line-cap").word(names[static_cast<int>(cap)]).commit();
    }
    void line_pattern(const std::vector<float>& dashes) override {
        Entry e("line-pattern");
        for (float d : dashes) e.number(d);
        e.commit();
    }
    void anti_alias(bool on) override { Entry("anti-alias").logic(on).commit(); }
    void font(const Cell* f) override {
        Entry("font").value(object::find_value(f->data1, symbol::make("name"))).commit();
    }
    void shadow(DrawPoint offset, float blur, float spread, uint32_t colour, bool inset) override {
        Entry("shadow")
            .point(offset)
            .number(blur)
            .number(spread)
            .colour(colour)
            .logic(inset)
            .commit();
    }
    void shadow_off() override { Entry("shadow").word("off").commit(); }

    void line(const std::vector<DrawPoint>& pts) override { Entry("line").points(pts).commit(); }
    void box(DrawPoint a, DrawPoint b, float radius) override {
        Entry("box").point(a).point(b).number(radius).commit();
    }
    void triangle(DrawPoint a, DrawPoint b, DrawPoint c) override {
        Entry("triangle").point(a).point(b).point(c).commit();
    }
    void polygon(const std::vector<DrawPoint>& pts) override {
        Entry("polygon").points(pts).commit();
    }
    void circle(DrawPoint centre, float rx, float ry) override {
        Entry("circle").point(centre).number(rx).number(ry).commit();
    }
    void ellipse(DrawPoint a, DrawPoint size) override {
        Entry("ellipse").point(a).point(size).commit();
    }
    void arc(DrawPoint centre, DrawPoint radius, float start, float sweep, bool closed) override {
        Entry("arc").point(centre).point(radius).number(start).number(sweep).logic(closed).commit();
    }
    void curve(const std::vector<DrawPoint>& pts) override { Entry("curve").points(pts).commit(); }
    void spline(const std::vector<DrawPoint>& pts, bool closed) override {
        Entry("spline").points(pts).logic(closed).commit();
    }
    void text(DrawPoint at, const Cell* value) override {
        Entry e("text");
        e.point(at);
        if (type_of(value) == TYPE_STRING)
            e.value(value);
        else
            e.word("face");
        e.commit();
    }
    // An image without pixels cannot become a device bitmap.
    bool image(const Cell* img, const std::vector<DrawPoint>& pts, std::optional<uint32_t> key,
               bool border, std::optional<ImageCrop> crop) override {
        if (!image::store_of(img)) return false;
        Entry e("image");
        e.image_size(img).nested([&](Entry& b) { b.points(pts); });
        if (key)
            e.colour(*key);
        else
            e.none();
        e.logic(border);
        if (crop)
            e.point(crop->offset).point(crop->size);
        else
            e.none();
        e.commit();
        return true;
    }
    void clip_rect(DrawPoint a, DrawPoint b) override { Entry("clip").point(a).point(b).commit(); }

    void shape_begin(bool draw) override { Entry("shape-begin").logic(draw).commit(); }
    void shape_move(DrawPoint to) override { Entry("shape-move").point(to).commit(); }
    void shape_line(DrawPoint to) override { Entry("shape-line").point(to).commit(); }
    void shape_curve(DrawPoint c1, DrawPoint c2, DrawPoint to) override {
        Entry("shape-curve").point(c1).point(c2).point(to).commit();
    }
    void shape_qcurve(DrawPoint c, DrawPoint to) override {
        Entry("shape-qcurve").point(c).point(to).commit();
    }
    void shape_arc(DrawPoint to, float rx, float ry, float angle, bool sweep, bool large) override {
        Entry("shape-arc")
            .point(to)
            .number(rx)
            .number(ry)
            .number(angle)
            .logic(sweep)
            .logic(large)
            .commit();
    }
    void shape_close() override { Entry("shape-close").commit(); }
    bool shape_end() override {
        Entry("shape-end").commit();
        return true;
    }
    bool clip_shape() override {
        Entry("clip-shape").commit();
        return true;
    }

    void matrix_rotate(MatrixTarget t, float angle, std::optional<DrawPoint> centre) override {
        Entry("rotate").target(t).number(angle).point(centre).commit();
    }
    void matrix_scale(MatrixTarget t, float sx, float sy,
                      std::optional<DrawPoint> centre) override {
        Entry("scale").target(t).number(sx).number(sy).point(centre).commit();
    }
    void matrix_translate(MatrixTarget t, DrawPoint offset) override {
        Entry("translate").target(t).point(offset).commit();
    }
    void matrix_skew(MatrixTarget t, float ax, float ay, std::optional<DrawPoint> centre) override {
        Entry("skew").target(t).number(ax).number(ay).point(centre).commit();
    }
    void matrix_transform(MatrixTarget t, std::optional<DrawPoint> centre, float angle, float sx,
                          float sy, DrawPoint offset) override {
        Entry("transform")
            .target(t)
            .point(centre)
            .number(angle)
            .number(sx)
            .number(sy)
            .point(offset)
            .commit();
    }
    void set_matrix(MatrixTarget t, const std::array<float, 6>& m) override {
        Entry e("matrix");
        e.target(t).nested([&](Entry& b) {
            for (float f : m) b.number(f);
        });
        e.commit();
    }
    void matrix_reset(MatrixTarget t) override { Entry("reset-matrix").target(t).commit(); }
    void matrix_invert(MatrixTarget t) override { Entry("invert-matrix").target(t).commit(); }

  private:
    const char* routine_;
    const Cell* target_;
};

} // namespace

void record_draw_image(Cell* img, Cell* commands) {
    if (image::width_of(img) == 0 || image::height_of(img) == 0) return;
    Cell* base = stack::top;
    Cell* size = pair::push(static_cast<int32_t>(image::width_of(img)),
                            static_cast<int32_t>(image::height_of(img)));
    Recorder r("draw-image", size);
    do_draw(r, commands, false, false);
    Cell* none = make_none(stack::push_cell());
    series::notify(img, series::Change::poke, none, -1, -1);
    stack::top = base;
}

void record_draw_face(uint32_t name, Cell* commands) {
    Cell* base = stack::top;
    Recorder r("draw-face", word::push_symbol(name));
    do_draw(r, commands, true, true);
    stack::top = base;
}

} // namespace mox::gui

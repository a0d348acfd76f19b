// The draw dialect: walks draw blocks, checks and converts every argument and
// drives a Renderer (see draw-renderer.h). Nothing here knows a device.
//
// Errors. A bad value raises draw-invalid with the block positioned at it;
// a block met again inside itself raises draw-infinite. While painting
// (catch_errors) the error is printed instead and the drawing stops; with
// system/view/silent? on it stops without a word. Both stops travel as a
// DrawStop exception up to the entry that started the walk, through guards
// that pop renderer states and finish pattern brushes on the way.
//
// Blocks being walked sit on the evaluation stack (so the collector keeps
// them even when a change handler run by a set-word drops them elsewhere)
// and on the cycle stack. Values are read by absolute index and copied out,
// and the block's length is read again at every step: a handler may change
// the block under the walk.
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "core/context.h"
#include "core/cycles.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/point2d.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "view/draw-renderer.h"

namespace mox::gui {

namespace {

// A drawing cut short: its error was printed already, or it stopped quietly.
struct DrawStop {
    int code;
};

enum Command : uint8_t {
    C_PEN,
    C_FILL_PEN,
    C_LINE,
    C_LINE_WIDTH,
    C_LINE_JOIN,
    C_LINE_CAP,
    C_LINE_PATTERN,
    C_BOX,
    C_TRIANGLE,
    C_POLYGON,
    C_CIRCLE,
    C_ELLIPSE,
    C_ARC,
    C_CURVE,
    C_SPLINE,
    C_ANTI_ALIAS,
    C_FONT,
    C_TEXT,
    C_IMAGE,
    C_SHADOW,
    C_CLIP,
    C_SHAPE,
    C_ROTATE,
    C_SCALE,
    C_TRANSLATE,
    C_SKEW,
    C_TRANSFORM,
    C_PUSH,
    C_MATRIX,
    C_RESET_MATRIX,
    C_INVERT_MATRIX,
    C_COUNT
};

const char* const kCommandNames[C_COUNT] = {
    "pen",          "fill-pen", "line",      "line-width", "line-join", "line-cap",
    "line-pattern", "box",      "triangle",  "polygon",    "circle",    "ellipse",
    "arc",          "curve",    "spline",    "anti-alias", "font",      "text",
    "image",        "shadow",   "clip",      "shape",      "rotate",    "scale",
    "translate",    "skew",     "transform", "push",       "matrix",    "reset-matrix",
    "invert-matrix"};

enum PathWord : uint8_t {
    P_MOVE,
    P_LINE,
    P_HLINE,
    P_VLINE,
    P_ARC,
    P_CURVE,
    P_CURV,
    P_QCURVE,
    P_QCURV,
    P_CLOSE,
    P_COUNT
};
const char* const kPathNames[P_COUNT] = {"move",  "line", "hline",  "vline", "arc",
                                         "curve", "curv", "qcurve", "qcurv", "close"};

// Canonical symbols of the dialect's other words, in the order of the
// names in words().
struct Keywords {
    uint32_t off, linear, radial, diamond, pattern, bitmap, pad, repeat, reflect, tile, flip_x,
        flip_y, flip_xy, clamp, miter, miter_bevel, round, bevel, flat, square, closed, border,
        crop, inset, replace, intersect, union_, xor_, exclude, pen, fill_pen, sweep, large, system,
        view, silent, type, name, size, style;
};

// Every word the dialect knows, made once.
struct Words : Keywords {
    std::unordered_map<uint32_t, uint8_t> commands, path;
};

uint32_t canon(const char* name) { return symbol::resolve(symbol::make(name)); }

const Words& words() {
    static Words w;
    static bool ready = false;
    if (ready) return w;
    for (uint8_t i = 0; i < C_COUNT; i++) w.commands[canon(kCommandNames[i])] = i;
    for (uint8_t i = 0; i < P_COUNT; i++) w.path[canon(kPathNames[i])] = i;
    static constexpr const char* names[] = {
        "off",     "linear",    "radial", "diamond", "pattern", "bitmap", "pad",      "repeat",
        "reflect", "tile",      "flip-x", "flip-y",  "flip-xy", "clamp",  "miter",    "miter-bevel",
        "round",   "bevel",     "flat",   "square",  "closed",  "border", "crop",     "inset",
        "replace", "intersect", "union",  "xor",     "exclude", "pen",    "fill-pen", "sweep",
        "large",   "system",    "view",   "silent?", "type",    "name",   "size",     "style"};
    static_assert(sizeof(Keywords) == std::size(names) * sizeof(uint32_t));
    uint32_t* out = &w.off;
    for (size_t i = 0; i < std::size(names); i++) out[i] = canon(names[i]);
    ready = true;
    return w;
}

uint32_t canon_of(const Cell* word) { return symbol::resolve(word->data2); }

bool is_word(const Cell* v, uint32_t canonical) {
    return type_of(v) == TYPE_WORD && canon_of(v) == canonical;
}

bool is_point(const Cell* v) { return type_of(v) == TYPE_PAIR || type_of(v) == TYPE_POINT2D; }

DrawPoint point_of(const Cell* v) {
    if (type_of(v) == TYPE_PAIR)
        return {static_cast<float>(static_cast<int32_t>(v->data2)),
                static_cast<float>(static_cast<int32_t>(v->data3))};
    return {point2D::x_of(v), point2D::y_of(v)};
}

bool is_number(const Cell* v, bool percent) {
    uint32_t t = type_of(v);
    return t == TYPE_INTEGER || t == TYPE_FLOAT || (percent && t == TYPE_PERCENT);
}

float number_of(const Cell* v) {
    if (type_of(v) == TYPE_INTEGER) return static_cast<float>(get_integer(v));
    return static_cast<float>(get_float(v));
}

bool is_colour_tuple(const Cell* v) {
    if (type_of(v) != TYPE_TUPLE) return false;
    int32_t n = tuple::length_of(v);
    return n == 3 || n == 4;
}

// Whether a word names a live slot: bound, and not in the context of a
// function that has returned.
bool word_alive(const Cell* w) {
    if (static_cast<int32_t>(w->data3) == -1 || !w->data1) return false;
    return context::record_of(w->data1)->data2 != 0;
}

// system/view/silent? (false while the view object is not there yet).
bool silent_q() {
    const Words& w = words();
    Cell* system = word::get_value(word::from_symbol(w.system));
    if (type_of(system) != TYPE_OBJECT) return false;
    Cell* view = object::find_value(system->data1, w.view);
    if (type_of(view) != TYPE_OBJECT) return false;
    Cell* silent = object::find_value(view->data1, w.silent);
    return type_of(silent) == TYPE_LOGIC && silent->data1;
}

constexpr int STOP_QUIET = 1;
constexpr int STOP_ERROR = 2;

// The values of one block being walked: the block sits on the stack, pos
// is the absolute index of the next value.
struct Cursor {
    Cell* block;
    int32_t pos;

    int32_t tail() const { return static_cast<int32_t>(block::abs_length(block)); }
    bool at_end() const { return pos >= tail(); }
    // A copy of the next value (none past the tail).
    Cell peek() const {
        Cell c;
        if (at_end()) return *make_none(&c);
        return *block::ms_abs_at(block, static_cast<uint32_t>(pos));
    }
};

// A renderer state pushed for the length of a scope.
class StateScope {
  public:
    explicit StateScope(Renderer& r) : r_(r) { r_.state_push(); }
    ~StateScope() { r_.state_pop(); }
    StateScope(const StateScope&) = delete;
    StateScope& operator=(const StateScope&) = delete;

  private:
    Renderer& r_;
};

// The current point of a path and what smooth curves reflect.
struct PathState {
    DrawPoint current{0, 0};
    DrawPoint control{0, 0};
    bool after_curve = false;
};

class Walker {
  public:
    Walker(Renderer& r, bool catch_errors)
        : r_(r), catch_(catch_errors), w_(words()), cycles_base_(cycles::depth()) {}

    // Draws one block in place. May collect.
    void walk(const Cell* blk);

    [[noreturn]] void fail(const Cursor& c, int32_t pos) {
        fail_at(c.block, pos, err::draw_invalid);
    }

  private:
    Renderer& r_;
    bool catch_;
    const Words& w_;
    uint32_t cycles_base_; // cycle stack depth outside the walk

    [[noreturn]] void fail_at(const Cell* blk, int32_t pos, err::Code code);
    [[noreturn]] void fail_plain(err::Code code);
    void leave_cycles();
    Cell* enter(const Cell* blk);

    void command(uint8_t cmd, Cursor& c);
    void set_word(const Cell* word, Cursor& c);

    // Argument scanning: the take_ forms consume the next value when it has
    // the type and answer whether they did; the need_ forms fail when not.
    bool take_point(Cursor& c, DrawPoint* out);
    DrawPoint need_point(Cursor& c);
    std::vector<DrawPoint> points(Cursor& c, size_t at_least, size_t at_most);
    bool take_number(Cursor& c, float* out, bool percent = false);
    float need_number(Cursor& c, bool percent = false);
    bool take_word(Cursor& c, uint32_t canonical);
    bool take_block(Cursor& c, Cell* out);
    Cell word_value(const Cursor& c, int32_t pos, const Cell* word);
    bool colour_at(const Cursor& c, uint32_t* out);
    bool take_colour(Cursor& c, uint32_t* out);
    MatrixTarget target(Cursor& c);
    TileMode tile(Cursor& c);

    void pen(Cursor& c, bool fill);
    std::vector<GradientStop> stops(Cursor& c);
    void gradient(Cursor& c, bool fill, GradientKind kind);
    void pattern(Cursor& c, bool fill);
    void bitmap(Cursor& c, bool fill);
    void image(Cursor& c);
    void shadow(Cursor& c);
    void clip(Cursor& c);
    void shape(Cursor& c);
    void text(Cursor& c);
    void font(Cursor& c);
    void matrix(Cursor& c);
    template <class Apply> void with_block(Cursor& c, Apply apply);

    void path_block(const Cell* blk, PathState& p);
    void path_word(Cursor& c, uint8_t word, bool relative, PathState& p);
};

// The walk's blocks leave the cycle stack before the error is made, or its
// report would mold them as [...]. The walkers' scopes never cut below it.
void Walker::leave_cycles() {
    uint32_t d = cycles::depth();
    if (d > cycles_base_) cycles::pop_n(d - cycles_base_);
}

void Walker::fail_at(const Cell* blk, int32_t pos, err::Code code) {
    leave_cycles();
    if (silent_q()) throw DrawStop{catch_ ? STOP_ERROR : STOP_QUIET};
    Cell* arg = stack::push(blk);
    arg->data1 = static_cast<uint32_t>(pos);
    if (catch_) {
        error::report_error(code, arg, nullptr, nullptr);
        throw DrawStop{STOP_ERROR};
    }
    fire(code, arg);
}

void Walker::fail_plain(err::Code code) {
    leave_cycles();
    if (silent_q()) throw DrawStop{catch_ ? STOP_ERROR : STOP_QUIET};
    if (catch_) {
        error::report_error(code, nullptr, nullptr, nullptr);
        throw DrawStop{STOP_ERROR};
    }
    fire(code);
}

// Puts the block on the stack and on the cycle stack (the caller holds the
// cycles::Scope); a block already being walked is draw-infinite.
Cell* Walker::enter(const Cell* blk) {
    Cell* b = stack::push(blk);
    if (cycles::find(b->data2)) fail_at(b, static_cast<int32_t>(b->data1), err::draw_infinite);
    return b;
}

void Walker::walk(const Cell* blk) {
    Cell* b = enter(blk);
    cycles::Scope scope(b->data2);
    Cursor c{b, static_cast<int32_t>(b->data1)};
    while (!c.at_end()) {
        Cell v = c.peek();
        c.pos++;
        switch (type_of(&v)) {
        case TYPE_WORD: {
            auto it = w_.commands.find(canon_of(&v));
            if (it == w_.commands.end()) fail(c, c.pos - 1);
            command(it->second, c);
            break;
        }
        case TYPE_SET_WORD:
            set_word(&v, c);
            break;
        case TYPE_BLOCK:
            walk(&v);
            break;
        default:
            fail(c, c.pos - 1);
        }
        stack::top = b + 1;
    }
    stack::top = b;
}

// The word is set to the block positioned after it. A word that cannot be
// set (unbound, or of a function that has returned) is draw-invalid.
void Walker::set_word(const Cell* word, Cursor& c) {
    if (!word_alive(word)) fail(c, c.pos - 1);
    Cell* w = stack::push(word);
    Cell* value = stack::push(c.block);
    value->data1 = static_cast<uint32_t>(c.pos);
    word::set(w, value);
}

// ---------------------------------------------------------------------------
// Argument scanning
// ---------------------------------------------------------------------------

bool Walker::take_point(Cursor& c, DrawPoint* out) {
    Cell v = c.peek();
    if (!is_point(&v)) return false;
    *out = point_of(&v);
    c.pos++;
    return true;
}

DrawPoint Walker::need_point(Cursor& c) {
    DrawPoint p;
    if (!take_point(c, &p)) fail(c, c.pos);
    return p;
}

// Every point that follows; fewer than at_least is draw-invalid where the
// next one was wanted.
std::vector<DrawPoint> Walker::points(Cursor& c, size_t at_least, size_t at_most) {
    std::vector<DrawPoint> pts;
    DrawPoint p;
    while (pts.size() < at_most && take_point(c, &p)) pts.push_back(p);
    if (pts.size() < at_least) fail(c, c.pos);
    return pts;
}

bool Walker::take_number(Cursor& c, float* out, bool percent) {
    Cell v = c.peek();
    if (!is_number(&v, percent)) return false;
    *out = number_of(&v);
    c.pos++;
    return true;
}

float Walker::need_number(Cursor& c, bool percent) {
    float f;
    if (!take_number(c, &f, percent)) fail(c, c.pos);
    return f;
}

bool Walker::take_word(Cursor& c, uint32_t canonical) {
    Cell v = c.peek();
    if (!is_word(&v, canonical)) return false;
    c.pos++;
    return true;
}

bool Walker::take_block(Cursor& c, Cell* out) {
    Cell v = c.peek();
    if (type_of(&v) != TYPE_BLOCK) return false;
    *out = v;
    c.pos++;
    return true;
}

// The value of a word argument; none for an unbound word. A word of a
// function that has returned is draw-invalid at pos.
Cell Walker::word_value(const Cursor& c, int32_t pos, const Cell* word) {
    Cell v;
    if (static_cast<int32_t>(word->data3) == -1 || !word->data1) return *make_none(&v);
    if (!word_alive(word)) fail(c, pos);
    return *word::get_value(word);
}

// Whether the next value is a colour: a 3- or 4-value tuple, or a word
// holding one.
bool Walker::colour_at(const Cursor& c, uint32_t* out) {
    Cell v = c.peek();
    if (type_of(&v) == TYPE_WORD) v = word_value(c, c.pos, &v);
    if (!is_colour_tuple(&v)) return false;
    *out = tuple::to_color(&v);
    return true;
}

bool Walker::take_colour(Cursor& c, uint32_t* out) {
    if (!colour_at(c, out)) return false;
    c.pos++;
    return true;
}

// The optional lit-word pen or fill-pen of a transformation.
MatrixTarget Walker::target(Cursor& c) {
    Cell v = c.peek();
    if (type_of(&v) != TYPE_LIT_WORD) return MatrixTarget::drawing;
    uint32_t s = canon_of(&v);
    if (s != w_.pen && s != w_.fill_pen) fail(c, c.pos);
    c.pos++;
    return s == w_.pen ? MatrixTarget::pen : MatrixTarget::fill_pen;
}

TileMode Walker::tile(Cursor& c) {
    Cell v = c.peek();
    if (type_of(&v) != TYPE_WORD) return TileMode::tile;
    const std::pair<uint32_t, TileMode> modes[] = {{w_.tile, TileMode::tile},
                                                   {w_.flip_x, TileMode::flip_x},
                                                   {w_.flip_y, TileMode::flip_y},
                                                   {w_.flip_xy, TileMode::flip_xy},
                                                   {w_.clamp, TileMode::clamp}};
    for (auto& [s, mode] : modes)
        if (canon_of(&v) == s) {
            c.pos++;
            return mode;
        }
    return TileMode::tile;
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

// Runs apply, and when a block follows, draws it inside a pushed state that
// apply's change does not outlive.
template <class Apply> void Walker::with_block(Cursor& c, Apply apply) {
    Cell blk;
    if (!take_block(c, &blk)) {
        apply();
        return;
    }
    Cell* held = stack::push(&blk);
    StateScope scope(r_);
    apply();
    walk(held);
}

void Walker::command(uint8_t cmd, Cursor& c) {
    switch (cmd) {
    case C_PEN:
        pen(c, false);
        break;
    case C_FILL_PEN:
        pen(c, true);
        break;
    case C_LINE:
        r_.line(points(c, 2, SIZE_MAX));
        break;
    case C_LINE_WIDTH:
        r_.line_width(need_number(c));
        break;
    case C_LINE_JOIN: {
        Cell v = c.peek();
        if (type_of(&v) != TYPE_WORD) fail(c, c.pos);
        c.pos++;
        uint32_t s = canon_of(&v);
        r_.line_join(s == w_.round         ? LineJoin::round
                     : s == w_.bevel       ? LineJoin::bevel
                     : s == w_.miter_bevel ? LineJoin::miter_bevel
                                           : LineJoin::miter);
        break;
    }
    case C_LINE_CAP: {
        Cell v = c.peek();
        if (type_of(&v) != TYPE_WORD) fail(c, c.pos);
        c.pos++;
        uint32_t s = canon_of(&v);
        r_.line_cap(s == w_.square  ? LineCap::square
                    : s == w_.round ? LineCap::round
                                    : LineCap::flat);
        break;
    }
    case C_LINE_PATTERN: {
        std::vector<float> dashes;
        for (Cell v = c.peek(); type_of(&v) == TYPE_INTEGER; v = c.peek()) {
            dashes.push_back(static_cast<float>(get_integer(&v)));
            c.pos++;
        }
        r_.line_pattern(dashes);
        break;
    }
    case C_BOX: {
        DrawPoint a = need_point(c), b = need_point(c);
        float radius = 0;
        take_number(c, &radius);
        r_.box(a, b, radius);
        break;
    }
    case C_TRIANGLE: {
        DrawPoint a = need_point(c), b = need_point(c), d = need_point(c);
        r_.triangle(a, b, d);
        break;
    }
    case C_POLYGON:
        r_.polygon(points(c, 3, SIZE_MAX));
        break;
    case C_CIRCLE: {
        DrawPoint centre = need_point(c);
        float rx = need_number(c), ry = rx;
        take_number(c, &ry);
        r_.circle(centre, rx, ry);
        break;
    }
    case C_ELLIPSE: {
        DrawPoint a = need_point(c), size = need_point(c);
        r_.ellipse(a, size);
        break;
    }
    case C_ARC: {
        DrawPoint centre = need_point(c), radius = need_point(c);
        float start = need_number(c), sweep = need_number(c);
        bool closed = take_word(c, w_.closed);
        r_.arc(centre, radius, start, sweep, closed);
        break;
    }
    case C_CURVE:
        r_.curve(points(c, 3, 4));
        break;
    case C_SPLINE: {
        std::vector<DrawPoint> pts = points(c, 2, SIZE_MAX);
        bool closed = take_word(c, w_.closed);
        r_.spline(pts, closed);
        break;
    }
    case C_ANTI_ALIAS: {
        Cell v = c.peek();
        if (type_of(&v) != TYPE_WORD) fail(c, c.pos);
        c.pos++;
        r_.anti_alias(canon_of(&v) != w_.off);
        break;
    }
    case C_FONT:
        font(c);
        break;
    case C_TEXT:
        text(c);
        break;
    case C_IMAGE:
        image(c);
        break;
    case C_SHADOW:
        shadow(c);
        break;
    case C_CLIP:
        clip(c);
        break;
    case C_SHAPE:
        shape(c);
        break;
    case C_ROTATE: {
        MatrixTarget t = target(c);
        float angle = need_number(c);
        DrawPoint centre;
        std::optional<DrawPoint> at;
        if (take_point(c, &centre)) at = centre;
        with_block(c, [&] { r_.matrix_rotate(t, angle, at); });
        break;
    }
    case C_SCALE: {
        MatrixTarget t = target(c);
        float sx = need_number(c, true), sy = need_number(c, true);
        DrawPoint centre;
        std::optional<DrawPoint> at;
        if (take_point(c, &centre)) at = centre;
        with_block(c, [&] { r_.matrix_scale(t, sx, sy, at); });
        break;
    }
    case C_TRANSLATE: {
        MatrixTarget t = target(c);
        DrawPoint offset = need_point(c);
        with_block(c, [&] { r_.matrix_translate(t, offset); });
        break;
    }
    case C_SKEW: {
        MatrixTarget t = target(c);
        float ax = need_number(c), ay = 0;
        take_number(c, &ay);
        DrawPoint centre;
        std::optional<DrawPoint> at;
        if (take_point(c, &centre)) at = centre;
        with_block(c, [&] { r_.matrix_skew(t, ax, ay, at); });
        break;
    }
    case C_TRANSFORM: {
        MatrixTarget t = target(c);
        DrawPoint centre;
        std::optional<DrawPoint> at;
        if (take_point(c, &centre)) at = centre;
        float angle = need_number(c);
        float sx = need_number(c, true), sy = need_number(c, true);
        DrawPoint offset = need_point(c);
        with_block(c, [&] { r_.matrix_transform(t, at, angle, sx, sy, offset); });
        break;
    }
    case C_PUSH: {
        Cell blk;
        if (!take_block(c, &blk)) fail(c, c.pos);
        Cell* held = stack::push(&blk);
        StateScope scope(r_);
        walk(held);
        break;
    }
    case C_MATRIX:
        matrix(c);
        break;
    case C_RESET_MATRIX:
        r_.matrix_reset(target(c));
        break;
    case C_INVERT_MATRIX:
        r_.matrix_invert(target(c));
        break;
    }
}

// pen / fill-pen: off, a colour, a gradient, a pattern or a bitmap.
void Walker::pen(Cursor& c, bool fill) {
    Cell v = c.peek();
    if (type_of(&v) == TYPE_WORD) {
        uint32_t s = canon_of(&v);
        if (s == w_.off) {
            c.pos++;
            fill ? r_.fill_pen_off() : r_.pen_off();
            return;
        }
        if (s == w_.linear || s == w_.radial || s == w_.diamond) {
            c.pos++;
            gradient(c, fill,
                     s == w_.linear   ? GradientKind::linear
                     : s == w_.radial ? GradientKind::radial
                                      : GradientKind::diamond);
            return;
        }
        if (s == w_.pattern) {
            c.pos++;
            pattern(c, fill);
            return;
        }
        if (s == w_.bitmap) {
            c.pos++;
            bitmap(c, fill);
            return;
        }
    }
    uint32_t colour;
    if (!take_colour(c, &colour)) fail(c, c.pos);
    fill ? r_.fill_pen(colour) : r_.pen(colour);
}

// Colour stops, each optionally followed by a float offset; two at least.
// A stop without an offset takes the running offset, which steps evenly
// from 0 to 1 and restarts from each explicit offset.
std::vector<GradientStop> Walker::stops(Cursor& c) {
    struct Raw {
        uint32_t colour;
        bool explicit_offset;
        float offset;
    };
    std::vector<Raw> raw;
    for (;;) {
        uint32_t colour;
        if (!take_colour(c, &colour)) {
            if (raw.size() < 2) fail(c, c.pos);
            break;
        }
        Raw stop{colour, false, 0};
        Cell v = c.peek();
        if (type_of(&v) == TYPE_FLOAT) {
            stop.explicit_offset = true;
            stop.offset = static_cast<float>(get_float(&v));
            c.pos++;
        }
        raw.push_back(stop);
    }
    std::vector<GradientStop> out;
    out.reserve(raw.size());
    float step = 1.0f / static_cast<float>(raw.size() - 1);
    float running = 0;
    for (const Raw& s : raw) {
        if (s.explicit_offset) {
            running = s.offset;
            out.push_back({s.offset, s.colour});
        } else {
            out.push_back({running, s.colour});
            running += step;
        }
    }
    return out;
}

void Walker::gradient(Cursor& c, bool fill, GradientKind kind) {
    DrawPoint start;
    if (take_point(c, &start)) {
        Cell v = c.peek();
        if (type_of(&v) != TYPE_INTEGER) fail(c, c.pos);
        c.pos++;
        float from = static_cast<float>(get_integer(&v));
        v = c.peek();
        if (type_of(&v) != TYPE_INTEGER) fail(c, c.pos);
        c.pos++;
        float to = static_cast<float>(get_integer(&v));
        float angle = 0, sx = 1, sy = 1;
        if (take_number(c, &angle) && take_number(c, &sx)) take_number(c, &sy);
        std::vector<GradientStop> list = stops(c);
        r_.gradient_positional(fill, kind, start, from, to, angle, sx, sy, list);
        return;
    }
    std::vector<GradientStop> list = stops(c);
    std::optional<GradientGeometry> geometry;
    DrawPoint a;
    if (take_point(c, &a)) {
        GradientGeometry g{a, a, 0, std::nullopt};
        DrawPoint focal;
        switch (kind) {
        case GradientKind::linear:
            g.end = need_point(c);
            break;
        case GradientKind::radial:
            g.radius = need_number(c);
            if (take_point(c, &focal)) g.focal = focal;
            break;
        case GradientKind::diamond:
            g.end = need_point(c);
            g.radius = std::hypot(g.end.x - a.x, g.end.y - a.y);
            if (take_point(c, &focal)) g.focal = focal;
            break;
        }
        geometry = g;
    }
    GradientSpread spread = GradientSpread::pad;
    if (take_word(c, w_.repeat))
        spread = GradientSpread::repeat;
    else if (take_word(c, w_.reflect))
        spread = GradientSpread::reflect;
    else
        take_word(c, w_.pad);
    r_.gradient(fill, kind, list, geometry, spread);
}

// pattern size [start [end]] [tile mode] block: the block is drawn into the
// pattern's own surface; the brush is made only when it drew to its end.
void Walker::pattern(Cursor& c, bool fill) {
    DrawPoint size = need_point(c), p;
    std::optional<DrawPoint> start, end;
    if (take_point(c, &p)) {
        start = p;
        if (take_point(c, &p)) end = p;
    }
    TileMode mode = tile(c);
    Cell blk;
    if (!take_block(c, &blk)) fail(c, c.pos);
    Cell* held = stack::push(&blk);
    r_.pattern_begin(size);
    try {
        walk(held);
    } catch (...) {
        r_.pattern_end(false, fill, size, start, end, mode);
        throw;
    }
    r_.pattern_end(true, fill, size, start, end, mode);
}

// bitmap word [start [end]] [tile mode]: the word must hold an image.
void Walker::bitmap(Cursor& c, bool fill) {
    Cell v = c.peek();
    if (type_of(&v) != TYPE_WORD) fail(c, c.pos);
    Cell* img = stack::push(&v);
    *img = word_value(c, c.pos, &v);
    if (type_of(img) != TYPE_IMAGE) fail(c, c.pos);
    c.pos++;
    DrawPoint p;
    std::optional<DrawPoint> start, end;
    if (take_point(c, &p)) {
        start = p;
        if (take_point(c, &p)) end = p;
    }
    r_.brush_bitmap(fill, img, start, end, tile(c));
}

// image img [points] [key colour] [border | crop offset size]
void Walker::image(Cursor& c) {
    Cell v = c.peek();
    Cell* img = stack::push(&v);
    if (type_of(img) == TYPE_WORD) *img = word_value(c, c.pos, &v);
    if (type_of(img) != TYPE_IMAGE) fail(c, c.pos);
    c.pos++;
    std::vector<DrawPoint> pts = points(c, 0, 4);
    if (pts.size() == 3) pts.push_back({pts[0].x, pts[2].y});
    std::optional<uint32_t> key;
    uint32_t colour;
    if (take_colour(c, &colour)) key = colour;
    bool border = take_word(c, w_.border);
    std::optional<ImageCrop> crop;
    if (!border && take_word(c, w_.crop)) {
        DrawPoint offset = need_point(c), size = need_point(c);
        crop = ImageCrop{offset, size};
    }
    if (!r_.image(img, pts, key, border, crop)) fail_plain(err::no_memory);
}

// shadow off | offset [blur [spread]] [colour [inset]]
void Walker::shadow(Cursor& c) {
    if (take_word(c, w_.off)) {
        r_.shadow_off();
        return;
    }
    Cell v = c.peek();
    if (type_of(&v) != TYPE_PAIR) fail(c, c.pos);
    c.pos++;
    DrawPoint offset = point_of(&v);
    float blur = 0, spread = 0;
    v = c.peek();
    if (type_of(&v) == TYPE_INTEGER) {
        blur = static_cast<float>(get_integer(&v));
        c.pos++;
        v = c.peek();
        if (type_of(&v) == TYPE_INTEGER) {
            spread = static_cast<float>(get_integer(&v));
            c.pos++;
        }
    }
    uint32_t colour = 0;
    bool inset = false;
    v = c.peek();
    // A word here is a colour unless it is the next command.
    bool colour_word = type_of(&v) == TYPE_WORD && !w_.commands.count(canon_of(&v));
    if (is_colour_tuple(&v) || colour_word) {
        if (!take_colour(c, &colour)) fail(c, c.pos);
        inset = take_word(c, w_.inset);
    }
    r_.shadow(offset, blur, spread, colour, inset);
}

// clip shape-block | top-left bottom-right, [mode word], [block]
void Walker::clip(Cursor& c) {
    Cell shape_blk;
    DrawPoint a{0, 0}, b{0, 0};
    bool is_path = take_block(c, &shape_blk);
    Cell* held_shape = is_path ? stack::push(&shape_blk) : nullptr;
    if (!is_path) {
        a = need_point(c);
        b = need_point(c);
    }
    const uint32_t modes[] = {w_.replace, w_.intersect, w_.union_, w_.xor_, w_.exclude};
    for (uint32_t m : modes)
        if (take_word(c, m)) break;
    with_block(c, [&] {
        if (!is_path) {
            r_.clip_rect(a, b);
            return;
        }
        r_.shape_begin(false);
        PathState p;
        path_block(held_shape, p);
        if (!r_.clip_shape())
            fail_at(held_shape, static_cast<int32_t>(block::abs_length(held_shape)),
                    err::draw_invalid);
    });
}

void Walker::shape(Cursor& c) {
    Cell blk;
    if (!take_block(c, &blk)) fail(c, c.pos);
    Cell* held = stack::push(&blk);
    r_.shape_begin(true);
    PathState p;
    path_block(held, p);
    if (!r_.shape_end())
        fail_at(held, static_cast<int32_t>(block::abs_length(held)), err::draw_invalid);
}

// text position string-or-face
void Walker::text(Cursor& c) {
    DrawPoint at = need_point(c);
    Cell v = c.peek();
    bool face = type_of(&v) == TYPE_OBJECT && object::find_field(v.data1, w_.type) >= 0;
    if (type_of(&v) != TYPE_STRING && !face) fail(c, c.pos);
    Cell* held = stack::push(&v);
    c.pos++;
    r_.text(at, held);
}

// font object-or-word: an object with the fields of a font.
void Walker::font(Cursor& c) {
    Cell v = c.peek();
    Cell* held = stack::push(&v);
    if (type_of(held) == TYPE_WORD) *held = word_value(c, c.pos, &v);
    bool is_font = type_of(held) == TYPE_OBJECT;
    for (uint32_t f : {w_.name, w_.size, w_.style})
        if (is_font && object::find_field(held->data1, f) < 0) is_font = false;
    if (!is_font) fail(c, c.pos);
    c.pos++;
    r_.font(held);
}

// matrix ['pen | 'fill-pen] [m11 m12 m21 m22 dx dy]
void Walker::matrix(Cursor& c) {
    MatrixTarget t = target(c);
    Cell blk;
    int32_t at = c.pos;
    if (!take_block(c, &blk)) fail(c, at);
    int32_t n = block::rs_length_q(&blk);
    if (n != 6) fail(c, at);
    std::array<float, 6> m;
    const Cell* cells = block::rs_head(&blk);
    for (int32_t i = 0; i < 6; i++) {
        if (!is_number(cells + i, false)) fail(c, at);
        m[static_cast<size_t>(i)] = number_of(cells + i);
    }
    r_.set_matrix(t, m);
}

// ---------------------------------------------------------------------------
// The shape sub-dialect
// ---------------------------------------------------------------------------

void Walker::path_block(const Cell* blk, PathState& p) {
    Cell* b = enter(blk);
    cycles::Scope scope(b->data2);
    Cursor c{b, static_cast<int32_t>(b->data1)};
    while (!c.at_end()) {
        Cell v = c.peek();
        c.pos++;
        uint32_t t = type_of(&v);
        if (t == TYPE_WORD || t == TYPE_LIT_WORD) {
            auto it = w_.path.find(canon_of(&v));
            if (it == w_.path.end()) fail(c, c.pos - 1);
            path_word(c, it->second, t == TYPE_LIT_WORD, p);
        } else if (t == TYPE_SET_WORD) {
            set_word(&v, c);
        } else if (t == TYPE_BLOCK) {
            path_block(&v, p);
        } else {
            fail(c, c.pos - 1);
        }
        stack::top = b + 1;
    }
    stack::top = b;
}

DrawPoint plus(DrawPoint a, DrawPoint b) { return {a.x + b.x, a.y + b.y}; }
DrawPoint reflect(DrawPoint about, DrawPoint p) { return {2 * about.x - p.x, 2 * about.y - p.y}; }

void Walker::path_word(Cursor& c, uint8_t word, bool relative, PathState& p) {
    auto absolute = [&](DrawPoint base, DrawPoint q) { return relative ? plus(base, q) : q; };
    // The control point a smooth segment starts with.
    auto smooth = [&] { return p.after_curve ? reflect(p.current, p.control) : p.current; };
    DrawPoint q;
    switch (word) {
    case P_MOVE:
        p.current = absolute(p.current, need_point(c));
        r_.shape_move(p.current);
        p.after_curve = false;
        break;
    case P_LINE:
        for (int n = 0; n == 0 || take_point(c, &q); n++) {
            if (n == 0) q = need_point(c);
            p.current = absolute(p.current, q);
            r_.shape_line(p.current);
        }
        p.after_curve = false;
        break;
    case P_HLINE:
    case P_VLINE: {
        float v = need_number(c);
        float& axis = word == P_HLINE ? p.current.x : p.current.y;
        axis = relative ? axis + v : v;
        r_.shape_line(p.current);
        p.after_curve = false;
        break;
    }
    case P_ARC: {
        DrawPoint to = absolute(p.current, need_point(c));
        float rx = need_number(c), ry = need_number(c), angle = need_number(c);
        bool sweep = false, large = false;
        for (int i = 0; i < 2; i++) {
            if (!sweep && take_word(c, w_.sweep))
                sweep = true;
            else if (!large && take_word(c, w_.large))
                large = true;
            else
                break;
        }
        r_.shape_arc(to, rx, ry, angle, sweep, large);
        p.current = to;
        p.after_curve = false;
        break;
    }
    case P_CURVE:
        for (int n = 0; n == 0 || take_point(c, &q); n++) {
            if (n == 0) q = need_point(c);
            DrawPoint base = p.current;
            DrawPoint c1 = absolute(base, q);
            DrawPoint c2 = absolute(base, need_point(c));
            DrawPoint to = absolute(base, need_point(c));
            r_.shape_curve(c1, c2, to);
            p = {to, c2, true};
        }
        break;
    case P_CURV:
        for (int n = 0; n == 0 || take_point(c, &q); n++) {
            if (n == 0) q = need_point(c);
            DrawPoint base = p.current;
            DrawPoint c2 = absolute(base, q);
            DrawPoint to = absolute(base, need_point(c));
            r_.shape_curve(smooth(), c2, to);
            p = {to, c2, true};
        }
        break;
    case P_QCURVE:
        for (int n = 0; n == 0 || take_point(c, &q); n++) {
            if (n == 0) q = need_point(c);
            DrawPoint base = p.current;
            DrawPoint ctrl = absolute(base, q);
            DrawPoint to = absolute(base, need_point(c));
            r_.shape_qcurve(ctrl, to);
            p = {to, ctrl, true};
        }
        break;
    case P_QCURV:
        for (int n = 0; n == 0 || take_point(c, &q); n++) {
            if (n == 0) q = need_point(c);
            DrawPoint ctrl = smooth();
            DrawPoint to = absolute(p.current, q);
            r_.shape_qcurve(ctrl, to);
            p = {to, ctrl, true};
        }
        break;
    case P_CLOSE:
        r_.shape_close();
        p.after_curve = false;
        break;
    }
}

// Runs the walk of a top-level block, turning its stops into a status.
// Painting: under a frame that catches every exit, so that any error met
// (not only the dialect's own) is printed and ends the drawing there.
int run(Renderer& r, const Cell* commands, bool catch_errors) {
    Cell* base = stack::top;
    Walker walker(r, catch_errors);
    if (!catch_errors) {
        try {
            walker.walk(commands);
        } catch (const DrawStop&) {
            stack::top = base;
            return STOP_QUIET;
        }
        stack::top = base;
        return 0;
    }
    int status = 0;
    uint32_t exit = stack::protect(
        stack::Guard::all,
        [&] {
            try {
                walker.walk(commands);
            } catch (const DrawStop& stop) {
                status = stop.code;
            }
        },
        [&](uint32_t code) {
            if (code == stack::EXIT_ERROR) error::write_report(stack::top - 1);
        });
    if (exit) status = STOP_ERROR;
    stack::top = base;
    return status;
}

} // namespace

int parse_draw(Renderer& r, const Cell* commands, bool catch_errors) {
    if (type_of(commands) != TYPE_BLOCK) return 0;
    return run(r, commands, catch_errors);
}

int do_draw(Renderer& r, const Cell* commands, bool has_window, bool catch_errors) {
    bool is_block = type_of(commands) == TYPE_BLOCK;
    if (!has_window && (!is_block || block::rs_length_q(commands) <= 0)) return STOP_QUIET;
    if (!r.begin()) {
        r.end();
        return STOP_QUIET;
    }
    int status = 0;
    try {
        status = parse_draw(r, commands, catch_errors);
    } catch (...) {
        r.end();
        throw;
    }
    r.end();
    return status;
}

} // namespace mox::gui

// DirectWrite text: the factory, text formats of font objects, text layouts
// of strings and faces, the style data of rich-text faces and backdrops.
#include <windows.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cwchar>
#include <string>

#include "core/externals.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "view/windows/internal.h"
#include "view/windows/text.h"

namespace mox::gui::win {

namespace {

IDWriteFactory1* factory = nullptr;
IDWriteFontCollection* system_fonts = nullptr;
// The user's locale name, given to every text format.
constexpr int LOCALE_CAPACITY = 85;
wchar_t* locale = nullptr;
uint32_t com_kind = 0;

void release_com(uintptr_t object) {
    if (object) reinterpret_cast<IUnknown*>(object)->Release();
}

struct TextSymbols {
    uint32_t handles, tabs, line_spacing, backdrop, border, silent_q;
};
const TextSymbols& tsym() {
    static const TextSymbols s = {symbol::make("handles"),      symbol::make("tabs"),
                                  symbol::make("line-spacing"), symbol::make("backdrop"),
                                  symbol::make("border"),       symbol::make("silent?")};
    return s;
}

Cell* system_view_facet(uint32_t name) {
    Cell* system = word::get_value(word::load("system"));
    if (type_of(system) != TYPE_OBJECT) return nullptr;
    Cell* view = facet(system, sym.view);
    if (type_of(view) != TYPE_OBJECT) return nullptr;
    return facet(view, name);
}

// system/view/fonts/size, or 9 when it is not a positive integer.
int32_t default_font_size() {
    Cell* fonts = system_view_facet(sym.fonts);
    if (fonts && type_of(fonts) == TYPE_OBJECT) {
        const Cell* s = facet(fonts, sym.size);
        if (type_of(s) == TYPE_INTEGER && get_integer(s) > 0) return get_integer(s);
    }
    return 9;
}

// UTF-16 of a string cell from its index, at most limit characters (-1 for
// all); empty when it cannot be converted. May collect.
std::wstring wide_of(const Cell* value, int32_t limit) {
    if (type_of(value) != TYPE_STRING) return {};
    Cell* base = stack::top;
    Cell* s = stack::push(value);
    int32_t length = string::ms_length_q(s);
    if (limit >= 0 && length > limit) length = limit;
    const char16_t* units = unicode::to_utf16_part(s, &length, false);
    std::wstring out;
    if (units) out.assign(reinterpret_cast<const wchar_t*>(units), static_cast<size_t>(length));
    stack::top = base;
    return out;
}

// system/view/fonts/system, else the message font's face name. May collect.
std::wstring default_family() {
    Cell* fonts = system_view_facet(sym.fonts);
    std::wstring name;
    if (fonts && type_of(fonts) == TYPE_OBJECT) name = wide_of(facet(fonts, sym.system), 31);
    if (name.empty()) name.assign(reinterpret_cast<const wchar_t*>(g.default_font_name.c_str()));
    return name;
}

bool family_exists(const std::wstring& name) {
    if (!system_fonts || name.empty()) return false;
    UINT32 index = 0;
    BOOL exists = FALSE;
    return SUCCEEDED(system_fonts->FindFamilyName(name.c_str(), &index, &exists)) && exists;
}

// A family DirectWrite has: the name itself, else the default GUI family,
// else the collection's first family. Windows falls back by itself, but
// Wine fails the whole layout on a family it does not have. May collect.
std::wstring usable_family(const std::wstring& name) {
    if (!system_fonts || family_exists(name)) return name;
    std::wstring fallback = default_family();
    if (family_exists(fallback)) return fallback;
    ComRef<IDWriteFontFamily> family;
    ComRef<IDWriteLocalizedStrings> names;
    UINT32 length = 0;
    if (system_fonts->GetFontFamilyCount() > 0 &&
        SUCCEEDED(system_fonts->GetFontFamily(0, family.out())) &&
        SUCCEEDED(family->GetFamilyNames(names.out())) &&
        SUCCEEDED(names->GetStringLength(0, &length))) {
        std::wstring first(length + 1, L'\0');
        if (SUCCEEDED(names->GetString(0, first.data(), length + 1))) {
            first.resize(length);
            return first;
        }
    }
    return name;
}

// The style words of a font (a word or a block of words).
template <typename F> void each_style_word(const Cell* font, F&& f) {
    const Cell* style = facet(font, sym.style);
    if (type_of(style) == TYPE_BLOCK) {
        for (int32_t i = 0, n = block::rs_length_q(style); i < n; i++) {
            const Cell* w = block::rs_head(style) + i;
            if (is_any_word(type_of(w))) f(w->data2);
        }
    } else if (is_any_word(type_of(style))) {
        f(style->data2);
    }
}

// A new reference to a solid brush of a colour: the target's cached one,
// else one made on the shared context; null without either.
ID2D1Brush* brush_for(RenderTarget* rt, uint32_t color) {
    if (rt && rt->context) {
        bool owned = false;
        ID2D1SolidColorBrush* b = solid_brush(rt, color, &owned);
        if (b && !owned) b->AddRef();
        return b;
    }
    // Without a record the layout is for measuring, where colours change
    // nothing: one made before the device is ready goes without them
    // rather than wait for it (start-up measures while the device is made).
    if (!dx.context) return nullptr;
    ID2D1SolidColorBrush* b = nullptr;
    if (FAILED(dx.context->CreateSolidColorBrush(to_dx_color(color), &b))) return nullptr;
    return b;
}

void clear_backdrops(RenderTarget* rt) {
    if (!rt) return;
    for (Backdrop& b : rt->backdrops)
        if (b.brush) b.brush->Release();
    rt->backdrops.clear();
}

bool silent() {
    const Cell* s = system_view_facet(tsym().silent_q);
    return s && type_of(s) == TYPE_LOGIC && s->data1;
}

// What the style data of one face is applied with.
struct StyleRun {
    IDWriteTextLayout* layout;
    RenderTarget* rt;    // brushes
    bool keep_backdrops; // the target draws this layout
    std::vector<uint32_t> offsets;
    DWRITE_TEXT_RANGE range{0, 0};
};

uint32_t tuple_color(const Cell* c) { return tuple::to_color(c); }

// The colour after a `backdrop`: a tuple, or a word whose value is one.
bool backdrop_color(const Cell* c, uint32_t* color) {
    if (type_of(c) == TYPE_TUPLE) {
        *color = tuple_color(c);
        return true;
    }
    if (type_of(c) == TYPE_WORD) {
        const Cell* v = word::get_value(c);
        if (v && type_of(v) == TYPE_TUPLE) {
            *color = tuple_color(v);
            return true;
        }
    }
    return false;
}

// Walks the style data (the face's `data`, on the stack at data). Raises
// draw-invalid at the first value it cannot use. May collect.
void apply_style_data(StyleRun& run, Cell* data) {
    const TextSymbols& ts = tsym();
    int32_t n = block::rs_length_q(data);
    uint32_t chars = static_cast<uint32_t>(run.offsets.size() - 1);
    // Skips an optional tuple and an optional lit-word after a decoration.
    auto skip_options = [&](int32_t i) {
        if (i + 1 < n && type_of(block::rs_head(data) + i + 1) == TYPE_TUPLE) i++;
        if (i + 1 < n && type_of(block::rs_head(data) + i + 1) == TYPE_LIT_WORD) i++;
        return i;
    };
    for (int32_t i = 0; i < n; i++) {
        Cell v = block::rs_head(data)[i];
        IDWriteTextLayout* l = run.layout;
        switch (type_of(&v)) {
        case TYPE_PAIR: {
            // Start from 1 and a length in characters, clamped to the text.
            int64_t start = static_cast<int64_t>(static_cast<int32_t>(v.data2)) - 1;
            int64_t end = start + static_cast<int32_t>(v.data3);
            if (start < 0) start = 0;
            if (start > chars) start = chars;
            if (end > chars) end = chars;
            if (end < start) end = start;
            uint32_t s = run.offsets[static_cast<size_t>(start)];
            run.range = {s, run.offsets[static_cast<size_t>(end)] - s};
            continue;
        }
        case TYPE_STRING: {
            std::wstring name = usable_family(wide_of(&v, -1));
            if (name.empty() || FAILED(l->SetFontFamilyName(name.c_str(), run.range)))
                fire(err::draw_invalid, &v);
            continue;
        }
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            double points = type_of(&v) == TYPE_INTEGER ? get_integer(&v) : get_float(&v);
            float size = static_cast<float>(points * 96.0 / 72.0);
            if (!(size > 0) || !std::isfinite(size) || FAILED(l->SetFontSize(size, run.range)))
                fire(err::draw_invalid, &v);
            continue;
        }
        case TYPE_TUPLE: {
            ComRef<ID2D1Brush> brush(brush_for(run.rt, tuple_color(&v)));
            if (brush) l->SetDrawingEffect(brush.get(), run.range);
            continue;
        }
        case TYPE_WORD:
            if (same_word(v.data2, sym.bold)) {
                l->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, run.range);
                continue;
            }
            if (same_word(v.data2, sym.italic)) {
                l->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, run.range);
                continue;
            }
            if (same_word(v.data2, sym.underline)) {
                l->SetUnderline(TRUE, run.range);
                i = skip_options(i);
                continue;
            }
            if (same_word(v.data2, sym.strike)) {
                l->SetStrikethrough(TRUE, run.range);
                i = skip_options(i);
                continue;
            }
            if (same_word(v.data2, ts.border)) {
                i = skip_options(i);
                continue;
            }
            if (same_word(v.data2, ts.backdrop)) {
                uint32_t color = 0;
                if (i + 1 >= n) fire(err::draw_invalid, &v);
                Cell next = block::rs_head(data)[i + 1];
                if (!backdrop_color(&next, &color)) fire(err::draw_invalid, &next);
                i++;
                if (run.keep_backdrops && run.range.length > 0) {
                    ID2D1Brush* brush = brush_for(run.rt, color);
                    if (brush)
                        run.rt->backdrops.push_back(
                            {run.range.startPosition, run.range.length, brush});
                }
                continue;
            }
            fire(err::draw_invalid, &v);
        default:
            fire(err::draw_invalid, &v);
        }
    }
}

// The handles block of a rich-text face: made when the facet is not a
// block of four. May collect.
Cell* layout_block(Cell* face) {
    Cell* handles = facet(face, tsym().handles);
    if (type_of(handles) == TYPE_BLOCK && block::rs_length_q(handles) >= 4) return handles;
    Cell* base = stack::top;
    Cell* blk = block::make_at(stack::push_cell(), 4);
    Cell v;
    make_none(&v);
    block::ms_append(blk, &v);
    handle::make_cell(&v, 0, handle::CLASS_NULL);
    block::ms_append(blk, &v);
    make_none(&v);
    block::ms_append(blk, &v);
    make_logic(&v, false);
    block::ms_append(blk, &v);
    set_facet(face, tsym().handles, blk);
    stack::top = base;
    return facet(face, tsym().handles);
}

// Stores a new layout in the first value of a face's handles block,
// releasing the one it replaces (through the registry when it has a
// record there).
void keep_layout(Cell* face, IDWriteTextLayout* layout) {
    Cell* handles = layout_block(face);
    Cell* first = block::rs_head(handles);
    uintptr_t object = reinterpret_cast<uintptr_t>(layout);
    layout->AddRef();
    uint32_t index;
    if (type_of(first) == TYPE_HANDLE && static_cast<int32_t>(first->data3) >= 0 &&
        externals::entry(first->data3)) {
        index = first->data3;
        externals::replace(index, object);
    } else {
        index = externals::store(object, com_object_kind());
    }
    handles = facet(face, tsym().handles);
    first = block::rs_head(handles);
    handle::make_cell(first, object, handle::CLASS_RICH_TEXT);
    first->data3 = index;
}

} // namespace

void mark_stale(Cell* face) {
    Cell* handles = facet(face, tsym().handles);
    if (type_of(handles) == TYPE_BLOCK && block::rs_length_q(handles) >= 4)
        make_logic(block::rs_head(handles) + block::rs_length_q(handles) - 1, true);
}

namespace {

// Answers only for the back end's own objects that stand for a break place.
constexpr GUID BREAK_PLACE_IID = {
    0x6d6f7862, 0x7270, 0x4c61, {0x63, 0x65, 0x20, 0x62, 0x72, 0x65, 0x61, 0x6b}};

// The reference counting of the inline objects below.
class InlineObject : public IDWriteInlineObject {
  public:
    virtual ~InlineObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDWriteInlineObject)) {
            AddRef();
            *out = static_cast<IDWriteInlineObject*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        long left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

  private:
    long refs_ = 1;
};

// The room a tab takes up to its stop, for layouts whose tabs advance
// nothing (Wine's): an invisible inline object in the tab's place.
class TabGap final : public InlineObject {
  public:
    explicit TabGap(float width) : width_(width) {}
    HRESULT STDMETHODCALLTYPE Draw(void*, IDWriteTextRenderer*, FLOAT, FLOAT, WINBOOL, WINBOOL,
                                   IUnknown*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMetrics(DWRITE_INLINE_OBJECT_METRICS* m) override {
        *m = DWRITE_INLINE_OBJECT_METRICS{width_, 0, 0, FALSE};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOverhangMetrics(DWRITE_OVERHANG_METRICS* o) override {
        *o = DWRITE_OVERHANG_METRICS{0, 0, 0, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBreakConditions(DWRITE_BREAK_CONDITION* before,
                                                 DWRITE_BREAK_CONDITION* after) override {
        *before = DWRITE_BREAK_CONDITION_NEUTRAL;
        *after = DWRITE_BREAK_CONDITION_NEUTRAL;
        return S_OK;
    }

  private:
    float width_;
};

// The two clusters before a row's end inside a word, for layouts that never
// break inside one (Wine's; see break_at_places): an inline object drawing
// them through a layout of their own with their font and decorations.
class BreakableCluster final : public InlineObject {
  public:
    BreakableCluster(IDWriteTextLayout* glyphs, const BreakPlace& place)
        : glyphs_(glyphs), place_(place) {
        DWRITE_LINE_METRICS line{};
        UINT32 count = 0;
        if (SUCCEEDED(glyphs->GetLineMetrics(&line, 1, &count)) && count >= 1) {
            height_ = line.height;
            baseline_ = line.baseline;
        }
    }
    ~BreakableCluster() override { glyphs_->Release(); }
    // The private interface gives the object itself, without a reference.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == BREAK_PLACE_IID) {
            *out = this;
            return S_OK;
        }
        return InlineObject::QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE Draw(void* context, IDWriteTextRenderer* renderer, FLOAT x, FLOAT y,
                                   WINBOOL, WINBOOL, IUnknown*) override {
        return glyphs_->Draw(context, renderer, x, y);
    }
    HRESULT STDMETHODCALLTYPE GetMetrics(DWRITE_INLINE_OBJECT_METRICS* m) override {
        *m = DWRITE_INLINE_OBJECT_METRICS{place_.before + place_.width, height_, baseline_, FALSE};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOverhangMetrics(DWRITE_OVERHANG_METRICS* o) override {
        return glyphs_->GetOverhangMetrics(o);
    }
    HRESULT STDMETHODCALLTYPE GetBreakConditions(DWRITE_BREAK_CONDITION* before,
                                                 DWRITE_BREAK_CONDITION* after) override {
        *before = DWRITE_BREAK_CONDITION_NEUTRAL;
        *after = DWRITE_BREAK_CONDITION_NEUTRAL;
        return S_OK;
    }
    const BreakPlace& place() const { return place_; }
    float baseline() const { return baseline_; }

  private:
    IDWriteTextLayout* glyphs_; // owned
    BreakPlace place_;
    float height_ = 0, baseline_ = 0;
};

// UTF-16 positions of the tabs of a string from its index.
std::vector<uint32_t> tab_positions(const Cell* text) {
    std::vector<uint32_t> out;
    if (type_of(text) != TYPE_STRING) return out;
    Cell s = *text;
    int32_t n = string::ms_length_q(&s);
    uint32_t at = 0;
    for (int32_t i = 0; i < n; i++) {
        uint32_t cp = string::abs_char_at(&s, s.data1 + static_cast<uint32_t>(i));
        if (cp == '\t') out.push_back(at);
        at += cp > 0xFFFF ? 2 : 1;
    }
    return out;
}

// Gives each tab the width to its next stop when the layout gives tabs no
// width at all; tabs are placed one after the other, as each moves the
// text after it.
void widen_tabs(IDWriteTextLayout* layout, const std::vector<uint32_t>& tabs) {
    if (tabs.empty()) return;
    float stop = layout->GetIncrementalTabStop();
    if (!(stop > 0)) return;
    UINT32 count = 0;
    layout->GetClusterMetrics(nullptr, 0, &count);
    std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
    if (!count || FAILED(layout->GetClusterMetrics(clusters.data(), count, &count))) return;
    uint32_t at = 0;
    for (const DWRITE_CLUSTER_METRICS& c : clusters) {
        if (at == tabs.front()) {
            if (c.width > 0) return;
            break;
        }
        at += c.length;
    }
    for (uint32_t position : tabs) {
        float x = 0, y = 0;
        DWRITE_HIT_TEST_METRICS m{};
        if (FAILED(hit_test_position(layout, position, false, &x, &y, &m))) return;
        float width = (std::floor(x / stop + 1e-4f) + 1) * stop - x;
        ComRef<IDWriteInlineObject> gap(new TabGap(width));
        layout->SetInlineObject(gap.get(), DWRITE_TEXT_RANGE{position, 1});
    }
}

// The clusters after which a row must end inside a word: a word wider than
// a row starts a row of its own and fills each row up to the last cluster
// that fits, as DirectWrite wraps on Windows. Trailing blanks never make a
// row overflow.
std::vector<size_t> emergency_breaks(const std::vector<DWRITE_CLUSTER_METRICS>& clusters,
                                     float width) {
    std::vector<size_t> out;
    float row = 0;
    for (size_t i = 0; i < clusters.size();) {
        size_t end = i;
        while (end + 1 < clusters.size() && !clusters[end].canWrapLineAfter &&
               !clusters[end].isNewline)
            end++;
        float all = 0, ink = 0;
        for (size_t k = i; k <= end; k++) {
            all += clusters[k].width;
            if (!clusters[k].isWhitespace && !clusters[k].isNewline) ink = all;
        }
        if (row > 0 && row + ink > width) row = 0;
        if (ink > width) {
            for (size_t k = i; k <= end; k++) {
                const DWRITE_CLUSTER_METRICS& c = clusters[k];
                if (!c.isWhitespace && row > 0 && row + c.width > width) {
                    out.push_back(k - 1);
                    row = 0;
                }
                row += c.width;
            }
        } else {
            row += all;
        }
        if (clusters[end].isNewline) row = 0;
        i = end + 1;
    }
    return out;
}

// A layout of some units of another layout's text with the font, size,
// colour and decorations the first of them has there; null when it cannot
// be made.
IDWriteTextLayout* cluster_layout(IDWriteTextLayout* layout, const std::wstring& text,
                                  uint32_t position, uint32_t length) {
    UINT32 name_length = 0;
    if (FAILED(layout->GetFontFamilyNameLength(position, &name_length))) return nullptr;
    std::wstring family(name_length + 1, L'\0');
    ComRef<IDWriteFontCollection> collection;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
    DWRITE_FONT_STRETCH stretch = DWRITE_FONT_STRETCH_NORMAL;
    FLOAT size = 0;
    wchar_t locale_name[LOCALE_CAPACITY] = {};
    if (FAILED(layout->GetFontFamilyName(position, family.data(), name_length + 1)) ||
        FAILED(layout->GetFontCollection(position, collection.out())) ||
        FAILED(layout->GetFontWeight(position, &weight)) ||
        FAILED(layout->GetFontStyle(position, &style)) ||
        FAILED(layout->GetFontStretch(position, &stretch)) ||
        FAILED(layout->GetFontSize(position, &size)) ||
        FAILED(layout->GetLocaleName(position, locale_name, LOCALE_CAPACITY)))
        return nullptr;
    ComRef<IDWriteTextFormat> format;
    ComRef<IDWriteTextLayout> glyphs;
    if (FAILED(factory->CreateTextFormat(family.c_str(), collection.get(), weight, style, stretch,
                                         size, locale_name, format.out())) ||
        FAILED(factory->CreateTextLayout(text.data() + position, length, format.get(), FLT_MAX,
                                         FLT_MAX, glyphs.out())))
        return nullptr;
    DWRITE_TEXT_RANGE all{0, length};
    BOOL on = FALSE;
    if (SUCCEEDED(layout->GetUnderline(position, &on)) && on) glyphs->SetUnderline(TRUE, all);
    if (SUCCEEDED(layout->GetStrikethrough(position, &on)) && on)
        glyphs->SetStrikethrough(TRUE, all);
    ComRef<IUnknown> effect;
    if (SUCCEEDED(layout->GetDrawingEffect(position, effect.out())) && effect)
        glyphs->SetDrawingEffect(effect.get(), all);
    return glyphs.take();
}

constexpr UINT32 BREAK_LIMIT = 32768;

// Where a wrapping layout that never breaks inside a word (Wine's) must
// end rows inside words, at clusters of one unit after one of one unit on
// the same row (a row of one cluster, or an astral character ending it,
// stays unbroken).
std::vector<BreakPlace> long_word_breaks(IDWriteTextLayout* layout) {
    std::vector<BreakPlace> out;
    float width = layout->GetMaxWidth();
    if (layout->GetWordWrapping() != DWRITE_WORD_WRAPPING_WRAP || !(width < FLT_MAX / 2))
        return out;
    UINT32 count = 0;
    layout->GetClusterMetrics(nullptr, 0, &count);
    // Wine's time for a layout grows with its inline objects times its
    // runs: a megabyte typed on one line took a minute a key. A text this
    // long keeps Wine's own rows.
    if (count > BREAK_LIMIT) return out;
    std::vector<DWRITE_CLUSTER_METRICS> clusters(count);
    if (!count || FAILED(layout->GetClusterMetrics(clusters.data(), count, &count))) return out;
    clusters.resize(count);
    std::vector<uint32_t> starts(clusters.size() + 1, 0);
    for (size_t i = 0; i < clusters.size(); i++) starts[i + 1] = starts[i] + clusters[i].length;
    size_t row_start = 0;
    for (size_t k : emergency_breaks(clusters, width)) {
        if (k > row_start && clusters[k].length == 1 && clusters[k - 1].length == 1)
            out.push_back({starts[k], clusters[k - 1].width, clusters[k].width});
        row_start = k + 1;
    }
    return out;
}

// The layout's text has a zero-width space at each break place (see
// create_text_layout): an inline object in the place of the cluster before
// it draws both original clusters and takes the room of both (Wine gives
// the space no width, also not by character spacing); the hit-test layer
// places the two clusters inside it.
void break_at_places(IDWriteTextLayout* layout, const std::wstring& text,
                     const std::vector<BreakPlace>& breaks) {
    for (const BreakPlace& b : breaks) {
        if (b.position < 1 || b.position >= text.size()) continue;
        IDWriteTextLayout* glyphs = cluster_layout(layout, text, b.position - 1, 2);
        if (!glyphs) continue;
        ComRef<IDWriteInlineObject> object(new BreakableCluster(glyphs, b));
        layout->SetInlineObject(object.get(), DWRITE_TEXT_RANGE{b.position - 1, 1});
    }
}

} // namespace

// --- the factory ------------------------------------------------------------

bool text_init() {
    if (factory) return true;
    HMODULE module =
        failing_call("LoadLibrary", L"DWrite.dll") ? nullptr : LoadLibraryA("DWrite.dll");
    if (!module) return false;
    using CreateFn = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create = reinterpret_cast<CreateFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DWriteCreateFactory")));
    if (!create) return false;
    using LocaleFn = int(WINAPI*)(LPWSTR, int);
    auto locale_fn = reinterpret_cast<LocaleFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetUserDefaultLocaleName")));
    locale = new wchar_t[LOCALE_CAPACITY]();
    if (!locale_fn || locale_fn(locale, LOCALE_CAPACITY) == 0) wcscpy(locale, L"en-us");
    if (FAILED(create(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory1),
                      reinterpret_cast<IUnknown**>(&factory)))) {
        factory = nullptr;
        return false;
    }
    factory->GetSystemFontCollection(&system_fonts, FALSE);
    com_object_kind();
    return true;
}

void text_cleanup() {
    if (system_fonts) system_fonts->Release();
    system_fonts = nullptr;
    if (factory) factory->Release();
    factory = nullptr;
    delete[] locale;
    locale = nullptr;
}

IDWriteFactory1* dwrite() { return factory; }

uint32_t com_object_kind() {
    if (!com_kind) com_kind = externals::register_kind("com-object", &release_com);
    return com_kind;
}

// --- formats and layouts ----------------------------------------------------

IDWriteTextFormat* text_format(const Cell* font_in) {
    if (!factory) return nullptr;
    Cell* base = stack::top;
    Cell* font = stack::push(font_in);
    bool is_font = type_of(font) == TYPE_OBJECT;
    if (is_font) {
        Cell* state = font_state(font);
        if (state) {
            const Cell* slot = block::rs_head(state) + 1;
            if (type_of(slot) == TYPE_HANDLE && handle::value_of(slot)) {
                auto* kept = reinterpret_cast<IDWriteTextFormat*>(handle::value_of(slot));
                kept->AddRef();
                stack::top = base;
                return kept;
            }
        }
    }
    int32_t size = 0;
    std::wstring name;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
    if (is_font) {
        const Cell* s = facet(font, sym.size);
        if (type_of(s) == TYPE_INTEGER && get_integer(s) >= 1) size = get_integer(s);
        name = wide_of(facet(font, sym.name), 31);
        each_style_word(font, [&](uint32_t w) {
            if (same_word(w, sym.bold)) weight = DWRITE_FONT_WEIGHT_BOLD;
            if (same_word(w, sym.italic)) style = DWRITE_FONT_STYLE_ITALIC;
        });
    }
    if (size < 1) size = default_font_size();
    if (name.empty()) name = default_family();
    name = usable_family(name);
    IDWriteTextFormat* format = nullptr;
    if (FAILED(factory->CreateTextFormat(
            name.c_str(), nullptr, weight, style, DWRITE_FONT_STRETCH_NORMAL,
            static_cast<float>(size) * 96.0f / 72.0f, locale ? locale : L"", &format))) {
        stack::top = base;
        return nullptr;
    }
    if (is_font) {
        Cell* state = font_state(font);
        if (state) {
            Cell h;
            handle::make_cell(&h, reinterpret_cast<uintptr_t>(format), handle::CLASS_FONT);
            h.data3 = externals::store(reinterpret_cast<uintptr_t>(format), com_object_kind());
            block::rs_head(state)[1] = h;
            format->AddRef();
        }
    }
    stack::top = base;
    return format;
}

void set_text_alignment(IDWriteTextFormat* target, uint32_t flags) {
    target->SetTextAlignment(flags & 1   ? DWRITE_TEXT_ALIGNMENT_CENTER
                             : flags & 2 ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                         : DWRITE_TEXT_ALIGNMENT_LEADING);
    target->SetParagraphAlignment(flags & 4   ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                                  : flags & 8 ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                              : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    target->SetWordWrapping(flags & 16 ? DWRITE_WORD_WRAPPING_WRAP : DWRITE_WORD_WRAPPING_NO_WRAP);
}

void set_tab_stop(IDWriteTextFormat* target, const Cell* value) {
    float stop;
    if (type_of(value) == TYPE_INTEGER)
        stop = static_cast<float>(get_integer(value));
    else if (type_of(value) == TYPE_FLOAT)
        stop = static_cast<float>(get_float(value));
    else
        return;
    if (stop > 0 && std::isfinite(stop)) target->SetIncrementalTabStop(stop);
}

void set_line_spacing(IDWriteTextFormat* target, IDWriteTextFormat* format, const Cell* value) {
    float wanted = 0;
    if (value) {
        if (type_of(value) == TYPE_INTEGER)
            wanted = static_cast<float>(get_integer(value));
        else if (type_of(value) == TYPE_FLOAT)
            wanted = static_cast<float>(get_float(value));
        else
            return;
    }
    ComRef<IDWriteTextLayout> probe;
    if (!factory ||
        FAILED(factory->CreateTextLayout(L"I", 1, format, FLT_MAX, FLT_MAX, probe.out())))
        return;
    DWRITE_LINE_METRICS line{};
    UINT32 count = 0;
    if (FAILED(probe->GetLineMetrics(&line, 1, &count)) || count < 1) return;
    float spacing = wanted > line.height && std::isfinite(wanted) ? wanted : line.height;
    target->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, spacing, line.baseline);
}

namespace {

// Wine's DirectWrite shapes a run through 16-bit cluster maps and fails
// inside the paint on a run of more than 65,536 characters. Runs break
// where the locale changes, so a long text gets the locale on alternate
// pieces of it spelled as a private-use variant: the same language to the
// shaper, a new run to the layout.
constexpr int32_t WINE_RUN_LIMIT = 32768;

void split_long_runs(IDWriteTextLayout* layout, const char16_t* units, int32_t length) {
    std::wstring variant = locale ? locale : L"en-us";
    variant += L"-x-run";
    int32_t at = 0;
    bool odd = false;
    while (at < length) {
        int32_t end = std::min(length, at + WINE_RUN_LIMIT);
        // Never part a surrogate pair.
        if (end < length && units[end] >= 0xDC00 && units[end] <= 0xDFFF) end++;
        if (odd)
            layout->SetLocaleName(
                variant.c_str(),
                DWRITE_TEXT_RANGE{static_cast<UINT32>(at), static_cast<UINT32>(end - at)});
        odd = !odd;
        at = end;
    }
}

} // namespace

IDWriteTextLayout* create_text_layout(const Cell* text, IDWriteTextFormat* format, float width,
                                      float height, const std::vector<BreakPlace>& breaks) {
    if (!factory || !format) return nullptr;
    Cell* base = stack::top;
    const char16_t* units = nullptr;
    int32_t length = 0;
    if (type_of(text) == TYPE_STRING) {
        Cell* s = stack::push(text);
        length = -1;
        units = unicode::to_utf16_part(s, &length, false);
        if (!units) length = 0;
    }
    // Wine finds line breaks in the text alone: a zero-width space lets a
    // row end after it (break_at_places draws what it stands for).
    std::wstring spaced;
    if (units && !breaks.empty()) {
        spaced.assign(reinterpret_cast<const wchar_t*>(units), static_cast<size_t>(length));
        for (const BreakPlace& b : breaks)
            if (b.position < spaced.size()) spaced[b.position] = L'\u200B';
        units = reinterpret_cast<const char16_t*>(spaced.c_str());
    }
    float w = width > 0 ? width + 0.5f : FLT_MAX;
    float h = height > 0 ? height + 0.5f : FLT_MAX;
    IDWriteTextLayout* layout = nullptr;
    if (FAILED(factory->CreateTextLayout(units ? reinterpret_cast<const wchar_t*>(units) : L"",
                                         static_cast<UINT32>(length), format, w, h, &layout)))
        layout = nullptr;
    if (layout && dx.wine && length > WINE_RUN_LIMIT) split_long_runs(layout, units, length);
    stack::top = base;
    return layout;
}

namespace {

// text_box_layout with a break at each place; styled is cleared when the
// style data fails.
IDWriteTextLayout* box_layout(const Cell* face_in, RenderTarget* rt, bool catch_errors,
                              const std::vector<BreakPlace>& breaks, bool* styled) {
    if (!factory || type_of(face_in) != TYPE_OBJECT) return nullptr;
    const TextSymbols& ts = tsym();
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    FaceType type = face_type(face);
    bool rich = type == FT_RICH_TEXT;
    // Only a face with a handles field can keep its layout (a rich-text
    // face made without the style's template has none).
    bool keeps = rich && object::find_field(face->data1, ts.handles) >= 0;
    bool font_object = type_of(facet(face, sym.font)) == TYPE_OBJECT;
    ComRef<IDWriteTextFormat> format(text_format(facet(face, sym.font)));
    if (!format) {
        stack::top = base;
        return nullptr;
    }
    bool drawing = rt != nullptr;
    if (!rt) rt = render_target_of(face_handle(face));
    if (drawing) clear_backdrops(rt);
    if (keeps) {
        Cell* handles = layout_block(face);
        int32_t n = block::rs_length_q(handles);
        make_logic(block::rs_head(handles) + n - 1, false);
        handle::make_cell(block::rs_head(handles) + 1, reinterpret_cast<uintptr_t>(rt),
                          rt ? handle::CLASS_RICH_TEXT : handle::CLASS_NULL);
    }
    // The box: each side of a point size rounded; 0 x 0 is unbounded.
    const Cell* size = facet(face, sym.size);
    float width = 0, height = 0;
    if (type_of(size) == TYPE_PAIR || type_of(size) == TYPE_POINT2D) {
        width = std::trunc(coord(size, false) + 0.5f);
        height = std::trunc(coord(size, true) + 0.5f);
    }
    // The text: a rich-text face keeps the copy its positions convert
    // against.
    Cell* text = stack::push(facet(face, sym.text));
    if (type_of(text) == TYPE_STRING) {
        Cell* copy = string::push_new(static_cast<uint32_t>(string::ms_length_q(text)) + 1, 1);
        string::concatenate(copy, text);
        *text = *copy;
        stack::top = copy;
    }
    if (keeps) {
        Cell* handles = layout_block(face);
        block::rs_head(handles)[2] = *text;
    }
    ComRef<IDWriteTextLayout> layout(create_text_layout(text, format.get(), width, height, breaks));
    if (!layout) {
        stack::top = base;
        return nullptr;
    }
    // Alignment, tabs and spacing go on this layout: the format is shared
    // by every face using the font.
    const Cell* para = facet(face, sym.para);
    uint32_t flags = rich ? 0x10 : 5;
    if (type_of(para) == TYPE_OBJECT) flags = get_para_flags(rich ? FT_RICH_TEXT : FT_BASE, para);
    set_text_alignment(layout.get(), flags);
    if (rich) {
        set_tab_stop(layout.get(), facet(face, ts.tabs));
        const Cell* spacing = facet(face, ts.line_spacing);
        if (type_of(spacing) == TYPE_INTEGER || type_of(spacing) == TYPE_FLOAT)
            set_line_spacing(layout.get(), format.get(), spacing);
    }
    if (keeps) keep_layout(face, layout.get());
    if (font_object) {
        Cell* font = stack::push(facet(face, sym.font));
        const Cell* color = facet(font, sym.color);
        DWRITE_TEXT_RANGE all{0, 0x7FFFFFFF};
        if (type_of(color) == TYPE_TUPLE) {
            ComRef<ID2D1Brush> brush(brush_for(rt, tuple::to_color(color)));
            if (brush) layout->SetDrawingEffect(brush.get(), all);
        }
        uint32_t decorations = 0;
        each_style_word(font, [&](uint32_t w) {
            if (same_word(w, sym.underline)) decorations |= 1;
            if (same_word(w, sym.strike)) decorations |= 2;
        });
        if (decorations & 1) layout->SetUnderline(TRUE, all);
        if (decorations & 2) layout->SetStrikethrough(TRUE, all);
    }
    Cell* data = stack::push(facet(face, sym.data));
    if (type_of(data) == TYPE_BLOCK && block::rs_length_q(data) > 1) {
        StyleRun run{layout.get(), rt, drawing && rt != nullptr, utf16_offsets(text)};
        // A style run that fails leaves the layout plain.
        auto unstyled = [&] {
            *styled = false;
            if (drawing) clear_backdrops(rt);
            if (keeps) mark_stale(face);
        };
        if (catch_errors) {
            Cell* mark = stack::top;
            uint32_t exit = stack::protect(
                stack::Guard::all, [&] { apply_style_data(run, data); },
                [&](uint32_t code) {
                    unstyled();
                    if (code == stack::EXIT_ERROR && stack::top > mark && !silent())
                        error::write_report(stack::top - 1);
                });
            if (exit == stack::EXIT_FOREIGN) unstyled();
        } else {
            try {
                apply_style_data(run, data);
            } catch (const stack::Unwind&) {
                unstyled();
                throw;
            }
        }
    }
    widen_tabs(layout.get(), tab_positions(text));
    if (!breaks.empty()) break_at_places(layout.get(), wide_of(text, -1), breaks);
    stack::top = base;
    return layout.take();
}

} // namespace

IDWriteTextLayout* text_box_layout(const Cell* face, RenderTarget* rt, bool catch_errors) {
    bool styled = true;
    IDWriteTextLayout* layout = box_layout(face, rt, catch_errors, {}, &styled);
    // Wine's layouts break no word: where a word overflows its row, the
    // layout is made again with a break there.
    if (!layout || !dx.wine || !styled) return layout;
    std::vector<BreakPlace> breaks = long_word_breaks(layout);
    if (breaks.empty()) return layout;
    IDWriteTextLayout* broken = box_layout(face, rt, catch_errors, breaks, &styled);
    if (!broken) return layout;
    layout->Release();
    return broken;
}

void draw_backdrops(RenderTarget* rt, D2D1_POINT_2F origin, IDWriteTextLayout* layout) {
    if (!rt) return;
    if (rt->context && layout) {
        std::vector<DWRITE_HIT_TEST_METRICS> rects;
        for (const Backdrop& b : rt->backdrops) {
            if (!b.brush ||
                FAILED(hit_test_range(layout, b.start, b.length, origin.x, origin.y, &rects)))
                continue;
            for (const DWRITE_HIT_TEST_METRICS& r : rects) {
                float x = std::trunc(r.left + 0.5f), y = std::trunc(r.top + 0.5f);
                float w = std::trunc(r.width + 0.5f), h = std::trunc(r.height + 0.99f);
                rt->context->FillRectangle(D2D1::RectF(x, y, x + w, y + h), b.brush);
            }
        }
    }
    clear_backdrops(rt);
}

void draw_text_layout(RenderTarget* rt, D2D1_POINT_2F origin, IDWriteTextLayout* layout,
                      ID2D1Brush* brush, D2D1_DRAW_TEXT_OPTIONS options) {
    if (!rt || !rt->context || !layout) return;
    draw_backdrops(rt, origin, layout);
    rt->context->DrawTextLayout(origin, layout, brush, options);
}

// --- positions --------------------------------------------------------------

bool break_place_of(IDWriteInlineObject* object, BreakPlace* place, float* baseline) {
    void* found = nullptr;
    if (!object || FAILED(object->QueryInterface(BREAK_PLACE_IID, &found)) || !found) return false;
    auto* cluster = static_cast<BreakableCluster*>(static_cast<IDWriteInlineObject*>(found));
    *place = cluster->place();
    *baseline = cluster->baseline();
    return true;
}

std::vector<uint32_t> utf16_offsets(const Cell* text) {
    std::vector<uint32_t> out{0};
    if (type_of(text) != TYPE_STRING) return out;
    Cell s = *text;
    int32_t n = string::ms_length_q(&s);
    out.reserve(static_cast<size_t>(n) + 1);
    uint32_t at = 0;
    for (int32_t i = 0; i < n; i++) {
        at += string::abs_char_at(&s, s.data1 + static_cast<uint32_t>(i)) > 0xFFFF ? 2 : 1;
        out.push_back(at);
    }
    return out;
}

uint32_t char_of_offset(const std::vector<uint32_t>& offsets, uint32_t position) {
    // The last character starting at or before the position.
    auto it = std::upper_bound(offsets.begin(), offsets.end(), position);
    return it == offsets.begin() ? 0 : static_cast<uint32_t>(it - offsets.begin() - 1);
}

} // namespace mox::gui::win

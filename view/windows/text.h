// DirectWrite text of the Windows view back end: the DirectWrite factory
// (loaded at run time), text formats made from font! objects, text layouts
// of strings and of faces (rich-text faces with their style ranges), the
// backdrops drawn under rich text, and the metrics queries behind the
// routine text-box-metrics (caret, offset, line and size questions).
//
// Wine answers E_NOTIMPL to the layout's HitTest* calls: the hit tests here
// fall back to a layer of our own built from a recording text renderer
// (glyph-run origins, advances, cluster positions) and GetLineMetrics.
// Wine also gives tabs no width (a face's layout then gets an invisible
// inline object up to each tab's stop) and fails a layout whose family it
// lacks (formats and ranges take the default family instead).
//
// GUI thread only. Layouts and formats are COM objects outside the
// collector's heap: cells hold handle-table indexes to them, and the
// external-resource registry (kind "com-object") releases the ones values
// keep.
#pragma once

#include <windows.h>

#include <d2d1_1.h>
#include <dwrite_1.h>

#include <cstdint>
#include <vector>

#include "core/cell.h"
#include "view/windows/dx.h"

namespace mox::gui::win {

// --- the factory ------------------------------------------------------------

// Loads "DWrite.dll", makes the shared IDWriteFactory1 and reads the user's
// locale name. False when DirectWrite is missing (the back end then has no
// Direct2D either). Called by dx_init before the Direct2D factory is made.
bool text_init();
// Releases the factory and frees the locale buffer (dx_cleanup calls it).
void text_cleanup();
// The factory, or null before text_init / without DirectWrite.
IDWriteFactory1* dwrite();
// The registry kind "com-object" (released with Release), registered once.
uint32_t com_object_kind();

// --- formats and layouts ----------------------------------------------------

// The text format of a font! object, kept in the font's state block and
// shared by every face using that font; for any other value a format of
// system/view/fonts (size and name). Returns a new reference (the caller
// releases it) or null. May collect.
IDWriteTextFormat* text_format(const Cell* font);

// Text-drawing flags (as para flags of base and rich-text faces): bit 0
// centred, else bit 1 trailing, else leading; bit 2 middle, else bit 3
// bottom, else top; bit 4 word wrapping.
void set_text_alignment(IDWriteTextFormat* target, uint32_t flags);
// An integer or float value sets the incremental tab stop; else nothing.
void set_tab_stop(IDWriteTextFormat* target, const Cell* value);
// Uniform line spacing on target: the value (integer or float), never less
// than the line height of format (measured on "I"); a null value gives that
// line height itself; any other value does nothing.
void set_line_spacing(IDWriteTextFormat* target, IDWriteTextFormat* format, const Cell* value);

// A place where a row ends inside a word: the UTF-16 position of the
// cluster ending the row (one unit) and the widths of that cluster and of
// the one before it.
struct BreakPlace {
    uint32_t position;
    float before, width;
};

// The break place an inline object of text_box_layout stands for (it covers
// the unit before the place and is as wide as both clusters), and its
// baseline; false for any other object.
bool break_place_of(IDWriteInlineObject* object, BreakPlace* place, float* baseline);

// A layout of a string (from its index) or of the empty text for any other
// value. A width or height of 0 or less is unbounded; otherwise the box is
// value + 0.5. The unit at each break place becomes a zero-width space.
// Returns a new reference or null. May collect.
IDWriteTextLayout* create_text_layout(const Cell* text, IDWriteTextFormat* format, float width,
                                      float height, const std::vector<BreakPlace>& breaks = {});

// The layout of a face's text with its font, para (default flags: rich-text
// 0x10, others 5), the box of its size, and for a rich-text face its tabs,
// line spacing and style data (the `data` facet). A rich-text face keeps
// the layout in its `handles` block [layout target text stale?] (made when
// missing). Colours are brushes of the target (rt: d2d's record, or null
// for measuring only: brushes then come from the shared context, and are
// left out while the device is not ready yet); backdrops
// go to rt->backdrops. An error in the style data is reported and the
// layout kept as far as it got when catch_errors, else raised (the face's
// layout is marked stale). Returns a new reference or null. May collect.
IDWriteTextLayout* text_box_layout(const Cell* face, RenderTarget* rt, bool catch_errors);

// Marks a rich-text face's kept layout (its `handles` block) to be made
// again before its next measurement; a face without one is left alone.
void mark_stale(Cell* face);

// Fills the backdrops of rt (from text_box_layout) behind the layout drawn
// at origin, then empties the list.
void draw_backdrops(RenderTarget* rt, D2D1_POINT_2F origin, IDWriteTextLayout* layout);

// The text drawing of a face: backdrops, then the layout in the default
// brush (coloured ranges carry their own).
void draw_text_layout(RenderTarget* rt, D2D1_POINT_2F origin, IDWriteTextLayout* layout,
                      ID2D1Brush* brush, D2D1_DRAW_TEXT_OPTIONS options);

// --- metrics ----------------------------------------------------------------

// The answer of text-box-metrics for a rich-text face's layout block:
// 0 caret top-left (point2D!), 6 the same plus the character's size,
// 1 caret index under a point, 5 character index under a point, 2 line
// height at a position (float!), 3 layout size (point2D!), 4 line count.
// Indexes count characters from 1. Writes the result into out. May collect.
void text_box_metrics(Cell* out, const Cell* layout_block, const Cell* arg, int32_t type);

// The layout's hit tests, with the Wine layer where the real ones answer
// E_NOTIMPL. Positions are UTF-16 offsets.
HRESULT hit_test_position(IDWriteTextLayout* layout, uint32_t position, bool trailing, float* x,
                          float* y, DWRITE_HIT_TEST_METRICS* metrics);
HRESULT hit_test_point(IDWriteTextLayout* layout, float x, float y, BOOL* trailing, BOOL* inside,
                       DWRITE_HIT_TEST_METRICS* metrics);
HRESULT hit_test_range(IDWriteTextLayout* layout, uint32_t start, uint32_t length, float x, float y,
                       std::vector<DWRITE_HIT_TEST_METRICS>* out);

// The line metrics of a layout in the process-wide buffer (grown as needed);
// the line count, 0 on failure.
uint32_t line_metrics(IDWriteTextLayout* layout, const DWRITE_LINE_METRICS** lines);

// --- shared by the text files -----------------------------------------------

// One COM reference, released when the holder goes (also when an error
// unwinds through it).
template <typename T> class ComRef {
  public:
    ComRef() = default;
    explicit ComRef(T* p) : p_(p) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }
    void reset(T* p = nullptr) {
        if (p_) p_->Release();
        p_ = p;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** out() {
        reset();
        return &p_;
    }
    T* take() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// The UTF-16 offset of every character of a string from its index, and the
// total at the end (n + 1 entries); a single 0 for anything but a string.
std::vector<uint32_t> utf16_offsets(const Cell* text);
// The character index (from 0) holding a UTF-16 offset.
uint32_t char_of_offset(const std::vector<uint32_t>& offsets, uint32_t position);

} // namespace mox::gui::win

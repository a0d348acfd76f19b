// Hit tests and metrics of text layouts, and the routine text-box-metrics.
//
// Wine's layouts answer E_NOTIMPL to every HitTest* call. The layer here
// draws the layout once into a renderer that only records where each glyph
// run starts and how far each glyph advances; together with the layout's
// line metrics that places every cluster of the text, and the three hit
// tests are answered from those places.
#include <windows.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/point2d.h"
#include "view/windows/internal.h"
#include "view/windows/text.h"

namespace mox::gui::win {

namespace {

std::vector<DWRITE_LINE_METRICS> line_buffer;

// Records the glyph runs a layout draws (origin 0, 0).
class RunRecorder final : public IDWriteTextRenderer {
  public:
    struct Run {
        float x, y;
        uint32_t position, length;
        bool rtl;
        std::vector<uint16_t> clusters; // glyph index of each UTF-16 unit
        std::vector<float> advances;
    };
    std::vector<Run> runs;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDWritePixelSnapping) ||
            iid == __uuidof(IDWriteTextRenderer)) {
            *out = static_cast<IDWriteTextRenderer*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the caller's stack for one Draw.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE IsPixelSnappingDisabled(void*, WINBOOL* disabled) override {
        *disabled = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentTransform(void*, DWRITE_MATRIX* m) override {
        *m = DWRITE_MATRIX{1, 0, 0, 1, 0, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelsPerDip(void*, FLOAT* pixels) override {
        *pixels = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawGlyphRun(void*, FLOAT x, FLOAT y, DWRITE_MEASURING_MODE,
                                           const DWRITE_GLYPH_RUN* glyphs,
                                           const DWRITE_GLYPH_RUN_DESCRIPTION* description,
                                           IUnknown*) override {
        if (!glyphs || !description || !description->clusterMap) return S_OK;
        Run r{x,
              y,
              description->textPosition,
              description->stringLength,
              (glyphs->bidiLevel & 1) != 0,
              {},
              {}};
        r.clusters.assign(description->clusterMap, description->clusterMap + r.length);
        if (glyphs->glyphAdvances)
            r.advances.assign(glyphs->glyphAdvances, glyphs->glyphAdvances + glyphs->glyphCount);
        else
            r.advances.assign(glyphs->glyphCount, 0.0f);
        runs.push_back(std::move(r));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawUnderline(void*, FLOAT, FLOAT, const DWRITE_UNDERLINE*,
                                            IUnknown*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawStrikethrough(void*, FLOAT, FLOAT, const DWRITE_STRIKETHROUGH*,
                                                IUnknown*) override {
        return S_OK;
    }
    // An object standing for the two clusters before a row's break holds
    // both as one run of its own.
    HRESULT STDMETHODCALLTYPE DrawInlineObject(void*, FLOAT x, FLOAT y, IDWriteInlineObject* object,
                                               WINBOOL, WINBOOL, IUnknown*) override {
        BreakPlace place{};
        float baseline = 0;
        if (break_place_of(object, &place, &baseline))
            runs.push_back({x,
                            y + baseline,
                            place.position - 1,
                            2,
                            false,
                            {0, 1},
                            {place.before, place.width}});
        return S_OK;
    }
};

// One cluster of the text as the layer places it.
struct Place {
    uint32_t position, length;
    float left, width;
    uint32_t line;
    bool rtl, newline;
};

struct Line {
    uint32_t start, length, newline;
    float top, height;
};

// Where every cluster of a layout lies.
struct Places {
    std::vector<Place> clusters; // by text position, covering the whole text
    std::vector<Line> lines;
    uint32_t length = 0;
};

uint32_t line_of(const std::vector<Line>& lines, uint32_t position) {
    for (uint32_t i = 0; i + 1 < lines.size(); i++)
        if (position < lines[i].start + lines[i].length) return i;
    return lines.empty() ? 0 : static_cast<uint32_t>(lines.size() - 1);
}

// The x where an empty line's caret stands, by the layout's alignment.
float empty_line_x(IDWriteTextLayout* layout) {
    float width = layout->GetMaxWidth();
    if (!(width < FLT_MAX / 2)) return 0;
    switch (layout->GetTextAlignment()) {
    case DWRITE_TEXT_ALIGNMENT_CENTER:
        return width / 2;
    case DWRITE_TEXT_ALIGNMENT_TRAILING:
        return width;
    default:
        return 0;
    }
}

HRESULT place_clusters(IDWriteTextLayout* layout, Places* out) {
    RunRecorder recorder;
    HRESULT hr = layout->Draw(nullptr, &recorder, 0, 0);
    if (FAILED(hr)) return hr;
    const DWRITE_LINE_METRICS* lm = nullptr;
    uint32_t count = line_metrics(layout, &lm);
    if (!count) return E_FAIL;
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; i++) {
        out->lines.push_back({start, lm[i].length, lm[i].newlineLength, 0, lm[i].height});
        start += lm[i].length;
    }
    out->length = start;
    std::vector<float> baselines(count);
    for (uint32_t i = 0; i < count; i++) baselines[i] = lm[i].baseline;
    // Line tops: from the first run's baseline when there is one (it
    // carries the paragraph alignment), else the layout's own top.
    float top = 0;
    if (!recorder.runs.empty()) {
        const RunRecorder::Run& r = recorder.runs.front();
        uint32_t l = line_of(out->lines, r.position);
        top = r.y - baselines[l];
        for (uint32_t i = 0; i < l; i++) top -= out->lines[i].height;
    } else {
        DWRITE_TEXT_METRICS m{};
        if (SUCCEEDED(layout->GetMetrics(&m))) top = m.top;
    }
    for (Line& line : out->lines) {
        line.top = top;
        top += line.height;
    }
    // Clusters of the runs: units sharing a first glyph form one cluster.
    std::vector<Place>& places = out->clusters;
    for (const RunRecorder::Run& r : recorder.runs) {
        float before = 0;
        uint32_t glyphs = static_cast<uint32_t>(r.advances.size());
        for (uint32_t k = 0; k < r.length;) {
            uint32_t next = k + 1;
            while (next < r.length && r.clusters[next] == r.clusters[k]) next++;
            uint32_t g0 = std::min<uint32_t>(r.clusters[k], glyphs);
            uint32_t g1 = next < r.length ? std::min<uint32_t>(r.clusters[next], glyphs) : glyphs;
            float width = 0;
            for (uint32_t g = g0; g < g1; g++) width += r.advances[g];
            float left = r.rtl ? r.x - before - width : r.x + before;
            before += width;
            uint32_t position = r.position + k;
            places.push_back(
                {position, next - k, left, width, line_of(out->lines, position), r.rtl, false});
            k = next;
        }
    }
    // The zero-width space at a break place is drawn too: the object's
    // wider place for it comes first.
    std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
        return a.position != b.position ? a.position < b.position : a.width > b.width;
    });
    // Clusters no run drew (line breaks, and the whitespace that ends a
    // wrapped line, which Wine leaves out of its runs) follow the text
    // before them on their line, as wide as the layout measures them.
    std::vector<DWRITE_CLUSTER_METRICS> measured;
    UINT32 cluster_count = 0;
    if (layout->GetClusterMetrics(nullptr, 0, &cluster_count) == E_NOT_SUFFICIENT_BUFFER &&
        cluster_count) {
        measured.resize(cluster_count);
        if (FAILED(layout->GetClusterMetrics(measured.data(), cluster_count, &cluster_count)))
            measured.clear();
        measured.resize(std::min<size_t>(measured.size(), cluster_count));
    }
    std::vector<std::pair<uint32_t, const DWRITE_CLUSTER_METRICS*>> starts;
    for (uint32_t i = 0, at = 0; i < measured.size(); at += measured[i++].length)
        starts.emplace_back(at, &measured[i]);
    auto measured_at = [&](uint32_t position) -> const DWRITE_CLUSTER_METRICS* {
        auto it = std::lower_bound(
            starts.begin(), starts.end(),
            std::make_pair(position, static_cast<const DWRITE_CLUSTER_METRICS*>(nullptr)));
        return it != starts.end() && it->first == position ? it->second : nullptr;
    };
    std::vector<Place> all;
    uint32_t at = 0;
    float line_start = empty_line_x(layout);
    auto fill_to = [&](uint32_t end) {
        while (at < end) {
            uint32_t line = line_of(out->lines, at);
            float x = line_start;
            if (!all.empty() && all.back().line == line)
                x = all.back().rtl ? all.back().left : all.back().left + all.back().width;
            const DWRITE_CLUSTER_METRICS* m = measured_at(at);
            uint32_t length = m && m->length > 0 && m->length <= end - at ? m->length : 1;
            float width = m && length == m->length && !m->isNewline ? m->width : 0;
            all.push_back({at, length, x, width, line, false, false});
            at += length;
        }
    };
    for (const Place& p : places) {
        if (p.position < at) continue;
        fill_to(p.position);
        all.push_back(p);
        at = p.position + p.length;
    }
    fill_to(out->length);
    for (Place& p : all) {
        const Line& l = out->lines[p.line];
        p.newline = p.position >= l.start + l.length - l.newline;
    }
    out->clusters = std::move(all);
    return S_OK;
}

DWRITE_HIT_TEST_METRICS metrics_of(const Places& places, const Place& p) {
    const Line& l = places.lines[p.line];
    DWRITE_HIT_TEST_METRICS m{};
    m.textPosition = p.position;
    m.length = p.length;
    m.left = p.left;
    m.top = l.top;
    m.width = p.width;
    m.height = l.height;
    m.bidiLevel = p.rtl ? 1 : 0;
    m.isText = TRUE;
    m.isTrimmed = FALSE;
    return m;
}

HRESULT layer_position(IDWriteTextLayout* layout, uint32_t position, bool trailing, float* x,
                       float* y, DWRITE_HIT_TEST_METRICS* m) {
    Places places;
    HRESULT hr = place_clusters(layout, &places);
    if (FAILED(hr)) return hr;
    const Line& last_line = places.lines.back();
    if (position >= places.length) {
        // The end of the text: after the last cluster, or at the start of
        // an empty last line (a text ending in a line break).
        DWRITE_HIT_TEST_METRICS end{};
        end.textPosition = places.length;
        end.top = last_line.top;
        end.height = last_line.height;
        end.isText = FALSE;
        end.left = empty_line_x(layout);
        if (!places.clusters.empty() && last_line.length > 0) {
            const Place& p = places.clusters.back();
            end.left = p.rtl ? p.left : p.left + p.width;
        }
        *m = end;
        *x = end.left;
        *y = end.top;
        return S_OK;
    }
    const Place* hit = &places.clusters.front();
    for (const Place& p : places.clusters)
        if (position >= p.position && position < p.position + p.length) hit = &p;
    *m = metrics_of(places, *hit);
    bool right = trailing != hit->rtl;
    *x = right ? hit->left + hit->width : hit->left;
    *y = m->top;
    return S_OK;
}

HRESULT layer_point(IDWriteTextLayout* layout, float x, float y, BOOL* trailing, BOOL* inside,
                    DWRITE_HIT_TEST_METRICS* m) {
    Places places;
    HRESULT hr = place_clusters(layout, &places);
    if (FAILED(hr)) return hr;
    uint32_t line = static_cast<uint32_t>(places.lines.size() - 1);
    bool in_y = y >= places.lines.front().top;
    for (uint32_t i = 0; i < places.lines.size(); i++) {
        if (y < places.lines[i].top + places.lines[i].height) {
            line = i;
            break;
        }
    }
    if (y >= places.lines.back().top + places.lines.back().height) in_y = false;
    // The line's clusters left to right; its line break counts only when
    // the line holds nothing else.
    std::vector<const Place*> row;
    const Place* brk = nullptr;
    for (const Place& p : places.clusters) {
        if (p.line != line) continue;
        if (p.newline) {
            if (!brk) brk = &p;
        } else {
            row.push_back(&p);
        }
    }
    std::sort(row.begin(), row.end(),
              [](const Place* a, const Place* b) { return a->left < b->left; });
    *inside = FALSE;
    *trailing = FALSE;
    if (row.empty()) {
        const Line& l = places.lines[line];
        DWRITE_HIT_TEST_METRICS e{};
        e.textPosition = brk ? brk->position : l.start;
        e.top = l.top;
        e.height = l.height;
        e.left = brk ? brk->left : empty_line_x(layout);
        e.isText = brk != nullptr;
        *m = e;
        return S_OK;
    }
    const Place* hit = nullptr;
    if (x < row.front()->left) {
        hit = row.front();
        *trailing = hit->rtl;
    } else if (x >= row.back()->left + row.back()->width) {
        if (brk && !row.back()->rtl) {
            hit = brk;
        } else {
            hit = row.back();
            *trailing = !hit->rtl;
        }
    } else {
        for (const Place* p : row)
            if (x >= p->left && x < p->left + p->width) hit = p;
        if (!hit) hit = row.back();
        bool right_half = x >= hit->left + hit->width / 2;
        *trailing = right_half != hit->rtl;
        *inside = in_y;
    }
    *m = metrics_of(places, *hit);
    return S_OK;
}

HRESULT layer_range(IDWriteTextLayout* layout, uint32_t start, uint32_t length, float x, float y,
                    std::vector<DWRITE_HIT_TEST_METRICS>* out) {
    Places places;
    HRESULT hr = place_clusters(layout, &places);
    if (FAILED(hr)) return hr;
    uint32_t end =
        length > places.length - std::min(start, places.length) ? places.length : start + length;
    for (uint32_t line = 0; line < places.lines.size(); line++) {
        bool any = false;
        float left = 0, right = 0;
        uint32_t first = 0, last = 0;
        for (const Place& p : places.clusters) {
            if (p.line != line || p.position + p.length <= start || p.position >= end) continue;
            if (!any) {
                left = p.left;
                right = p.left + p.width;
                first = p.position;
            }
            left = std::min(left, p.left);
            right = std::max(right, p.left + p.width);
            last = p.position + p.length;
            any = true;
        }
        if (!any) continue;
        const Line& l = places.lines[line];
        DWRITE_HIT_TEST_METRICS m{};
        m.textPosition = first;
        m.length = last - first;
        m.left = left + x;
        m.top = l.top + y;
        m.width = right - left;
        m.height = l.height;
        m.isText = TRUE;
        out->push_back(m);
    }
    return S_OK;
}

Cell* kept_handles(Cell* face) {
    static const uint32_t handles = symbol::make("handles");
    return facet(face, handles);
}

} // namespace

uint32_t line_metrics(IDWriteTextLayout* layout, const DWRITE_LINE_METRICS** lines) {
    if (line_buffer.empty()) line_buffer.resize(16);
    UINT32 count = 0;
    HRESULT hr =
        layout->GetLineMetrics(line_buffer.data(), static_cast<UINT32>(line_buffer.size()), &count);
    if (hr == E_NOT_SUFFICIENT_BUFFER || count > line_buffer.size()) {
        line_buffer.resize(static_cast<size_t>(count) + 1);
        hr = layout->GetLineMetrics(line_buffer.data(), static_cast<UINT32>(line_buffer.size()),
                                    &count);
    }
    if (FAILED(hr)) return 0;
    *lines = line_buffer.data();
    return count;
}

HRESULT hit_test_position(IDWriteTextLayout* layout, uint32_t position, bool trailing, float* x,
                          float* y, DWRITE_HIT_TEST_METRICS* metrics) {
    HRESULT hr = layout->HitTestTextPosition(position, trailing, x, y, metrics);
    if (hr == E_NOTIMPL) hr = layer_position(layout, position, trailing, x, y, metrics);
    return hr;
}

HRESULT hit_test_point(IDWriteTextLayout* layout, float x, float y, BOOL* trailing, BOOL* inside,
                       DWRITE_HIT_TEST_METRICS* metrics) {
    HRESULT hr = layout->HitTestPoint(x, y, trailing, inside, metrics);
    if (hr == E_NOTIMPL) hr = layer_point(layout, x, y, trailing, inside, metrics);
    return hr;
}

HRESULT hit_test_range(IDWriteTextLayout* layout, uint32_t start, uint32_t length, float x, float y,
                       std::vector<DWRITE_HIT_TEST_METRICS>* out) {
    out->clear();
    // Its own buffer, sized by a first call that only counts.
    UINT32 count = 0;
    HRESULT hr = layout->HitTestTextRange(start, length, x, y, nullptr, 0, &count);
    if (hr == E_NOT_SUFFICIENT_BUFFER) {
        out->resize(count);
        hr = layout->HitTestTextRange(start, length, x, y, out->data(), count, &count);
        if (SUCCEEDED(hr)) out->resize(count);
    }
    if (hr == E_NOTIMPL) {
        out->clear();
        hr = layer_range(layout, start, length, x, y, out);
    }
    return hr;
}

void text_box_metrics(Cell* out, const Cell* layout_block, const Cell* arg_in, int32_t type) {
    Cell arg = *arg_in;
    if (type_of(layout_block) != TYPE_BLOCK || block::rs_length_q(layout_block) < 3 ||
        type_of(block::rs_head(layout_block)) != TYPE_HANDLE ||
        !handle::value_of(block::rs_head(layout_block))) {
        make_none(out);
        return;
    }
    auto* layout =
        reinterpret_cast<IDWriteTextLayout*>(handle::value_of(block::rs_head(layout_block)));
    std::vector<uint32_t> offsets = utf16_offsets(block::rs_head(layout_block) + 2);
    uint32_t chars = static_cast<uint32_t>(offsets.size() - 1);
    auto offset_of_index = [&](const Cell* index) {
        int64_t i =
            type_of(index) == TYPE_INTEGER ? static_cast<int64_t>(get_integer(index)) - 1 : 0;
        if (i < 0) i = 0;
        if (i > chars) i = chars;
        return offsets[static_cast<size_t>(i)];
    };
    switch (type) {
    case 0:
    case 6: {
        if (type_of(&arg) != TYPE_INTEGER) fire(err::invalid_arg, &arg);
        float x = 0, y = 0;
        DWRITE_HIT_TEST_METRICS m{};
        if (FAILED(hit_test_position(layout, offset_of_index(&arg), false, &x, &y, &m))) {
            make_none(out);
            return;
        }
        if (y < 0) y = 0;
        if (type == 6) {
            x += m.width;
            y += m.height;
        }
        point2D::make_cell(out, x, y);
        return;
    }
    case 1:
    case 5: {
        if (type_of(&arg) != TYPE_PAIR && type_of(&arg) != TYPE_POINT2D)
            fire(err::invalid_arg, &arg);
        BOOL trailing = FALSE, inside = FALSE;
        DWRITE_HIT_TEST_METRICS m{};
        if (FAILED(hit_test_point(layout, coord(&arg, false), coord(&arg, true), &trailing, &inside,
                                  &m))) {
            make_none(out);
            return;
        }
        // A trailing hit puts the caret after the whole cluster, which may
        // hold several characters (a ligature).
        uint32_t position = m.textPosition;
        if (type == 1 && trailing) position += m.length > 0 ? m.length : 1;
        uint32_t index = char_of_offset(offsets, position);
        make_integer(out, static_cast<int32_t>(index) + 1);
        return;
    }
    case 2: {
        // Positions count characters; the lines count UTF-16 units.
        uint32_t position = offset_of_index(&arg);
        const DWRITE_LINE_METRICS* lines = nullptr;
        uint32_t count = line_metrics(layout, &lines);
        if (!count) {
            make_none(out);
            return;
        }
        uint32_t i = 0;
        while (i + 1 < count && position >= lines[i].length) position -= lines[i++].length;
        make_float(out, lines[i].height);
        return;
    }
    case 3: {
        DWRITE_TEXT_METRICS m{};
        if (FAILED(layout->GetMetrics(&m))) {
            make_none(out);
            return;
        }
        point2D::make_cell(out, m.width, m.height);
        return;
    }
    default: {
        DWRITE_TEXT_METRICS m{};
        if (FAILED(layout->GetMetrics(&m))) {
            make_none(out);
            return;
        }
        make_integer(out, static_cast<int32_t>(m.lineCount));
        return;
    }
    }
}

void text_box_metrics_star() {
    Cell* a = stack::arguments;
    if (face_type(a) != FT_RICH_TEXT) {
        Cell t = *facet(a, sym.type);
        fire(err::face_type, &t);
    }
    if (type_of(facet(a, sym.text)) != TYPE_STRING) {
        make_none(a);
        return;
    }
    const Cell* handles = kept_handles(a);
    bool fresh = type_of(handles) == TYPE_BLOCK && block::rs_length_q(handles) >= 4 &&
                 type_of(block::rs_head(handles) + block::rs_length_q(handles) - 1) == TYPE_LOGIC &&
                 !block::rs_head(handles)[block::rs_length_q(handles) - 1].data1;
    if (!fresh) ComRef<IDWriteTextLayout> rebuilt(text_box_layout(a, nullptr, false));
    Cell* kept = stack::push(kept_handles(a));
    int32_t type = get_integer(a + 2);
    text_box_metrics(a, kept, a + 1, type);
}

} // namespace mox::gui::win

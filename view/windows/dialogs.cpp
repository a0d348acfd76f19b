// The common dialogs: file open and save, folder choice, and the font
// chooser. Each runs modally over the foreground window and answers with
// values in the language's own form (file! names with slashes), or none
// when the user cancels.
#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "io/clipboard.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

namespace {

// A file! of a Windows path, pushed. May collect.
Cell* push_file(const std::u16string& path) {
    std::u16string name = clipboard::to_mox_file(path);
    return make_series(
        stack::push_cell(), TYPE_FILE,
        unicode::load_utf16(name.data(), static_cast<uint32_t>(name.size()), nullptr, false));
}

// The Windows form of a file! or string! name. May collect.
std::u16string local_path(const Cell* name) {
    Cell* base = stack::top;
    Cell* from = stack::push(name);
    Cell* out = string::push_new(64);
    file::to_local_path(from, out, false);
    std::u16string path = wide_text(out);
    stack::top = base;
    return path;
}

// A modal dialog starts with no mouse capture of ours.
void end_capture() {
    if (GetCapture()) ReleaseCapture();
}

// Label and pattern strings of a filter block, each ended by a NUL, the
// whole by a second one; an empty block gives no filter.
std::u16string make_file_filter(const Cell* block_in) {
    Cell* base = stack::top;
    Cell* blk = stack::push(block_in);
    std::u16string out;
    for (int32_t i = 0; i < block::rs_length_q(blk); i++) {
        const Cell* v = block::rs_head(blk) + i;
        if (type_of(v) != TYPE_STRING && type_of(v) != TYPE_FILE) fire(err::invalid_arg, v);
        out += wide_text(v);
        out += u'\0';
    }
    stack::top = base;
    if (!out.empty()) out += u'\0';
    return out;
}

const char16_t DEFAULT_FILTER[] = u"All files\0*.*\0Mox scripts\0*.mox;*.moxs\0"
                                  u"KAXEL scripts\0*.kx\0Text files\0*.txt\0";

} // namespace

// request-file: title, name, filter, save?, multi?. May collect.
void request_file_star() {
    Cell* a = stack::arguments;
    end_capture();
    constexpr size_t UNITS = 8192;
    std::vector<char16_t> buffer(UNITS, u'\0');
    std::u16string dir;
    if (type_of(a + 1) == TYPE_FILE || type_of(a + 1) == TYPE_STRING) {
        std::u16string path = local_path(a + 1);
        std::u16string file = path;
        size_t slash = path.rfind(u'\\');
        if (slash != std::u16string::npos) {
            dir = path.substr(0, slash);
            file = path.substr(slash + 1);
        }
        file.copy(buffer.data(), std::min(file.size(), UNITS - 1));
    }
    std::u16string title = type_of(a) == TYPE_STRING ? wide_text(a) : u"";
    std::u16string filter;
    const char16_t* filter_units = DEFAULT_FILTER;
    if (type_of(a + 2) == TYPE_BLOCK) {
        filter = make_file_filter(a + 2);
        filter_units = filter.empty() ? nullptr : filter.c_str();
    }
    bool save = type_of(a + 3) == TYPE_LOGIC && a[3].data1;
    bool multi = type_of(a + 4) == TYPE_LOGIC && a[4].data1;
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetForegroundWindow();
    ofn.lpstrFilter = reinterpret_cast<LPCWSTR>(filter_units);
    ofn.lpstrFile = reinterpret_cast<LPWSTR>(buffer.data());
    ofn.nMaxFile = UNITS;
    ofn.lpstrInitialDir = dir.empty() ? nullptr : reinterpret_cast<LPCWSTR>(dir.c_str());
    ofn.lpstrTitle = type_of(a) == TYPE_STRING ? reinterpret_cast<LPCWSTR>(title.c_str()) : nullptr;
    ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (multi) ofn.Flags |= OFN_ALLOWMULTISELECT;
    BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!ok) {
        make_none(stack::arguments);
        return;
    }
    buffer.back() = u'\0';
    std::u16string first(buffer.data());
    if (!multi) {
        *stack::arguments = *push_file(first);
        return;
    }
    Cell* list = block::make_at(stack::push_cell(), 4);
    size_t at = first.size() + 1;
    if (at >= UNITS || buffer[at] == u'\0') {
        block::ms_append(list, push_file(first));
    } else {
        // The folder, then each name in it, up to the empty name.
        if (first.empty() || first.back() != u'\\') first += u'\\';
        while (at < UNITS && buffer[at] != u'\0') {
            std::u16string name(buffer.data() + at);
            at += name.size() + 1;
            Cell* f = push_file(first + name);
            block::ms_append(list, f);
            stack::top = f;
        }
    }
    *stack::arguments = *list;
}

namespace {

struct Browse {
    LPITEMIDLIST kept = nullptr; // the folder a /keep call chose
    bool reselect = false;       // send the selection again at the next change
    bool by_path = true;         // the start selection is a path (else kept)
};
Browse browse;

int CALLBACK browse_callback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) {
        SendMessageW(hwnd, BFFM_SETSELECTIONW, browse.by_path, data);
        browse.reselect = true;
    } else if (msg == BFFM_SELCHANGED && browse.reselect && data) {
        browse.reselect = false;
        SendMessageW(hwnd, BFFM_SETSELECTIONW, browse.by_path, data);
    }
    return 0;
}

} // namespace

// request-dir: title, dir, filter (unused), keep?, multi? (unused). May
// collect.
void request_dir_star() {
    Cell* a = stack::arguments;
    end_capture();
    wchar_t path[MAX_PATH] = {0};
    if (type_of(a + 1) == TYPE_FILE || type_of(a + 1) == TYPE_STRING) {
        std::u16string start = local_path(a + 1);
        size_t n = std::min(start.size(), static_cast<size_t>(MAX_PATH - 1));
        for (size_t i = 0; i < n; i++) path[i] = static_cast<wchar_t>(start[i]);
    }
    std::u16string title = type_of(a) == TYPE_STRING ? wide_text(a) : u"";
    bool keep = type_of(a + 3) == TYPE_LOGIC && a[3].data1;
    static const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    (void)com;
    BROWSEINFOW bi{};
    bi.hwndOwner = GetForegroundWindow();
    bi.lpszTitle = type_of(a) == TYPE_STRING ? reinterpret_cast<LPCWSTR>(title.c_str()) : nullptr;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    bi.lpfn = &browse_callback;
    browse.by_path = !(keep && browse.kept);
    bi.lParam =
        browse.by_path ? reinterpret_cast<LPARAM>(path) : reinterpret_cast<LPARAM>(browse.kept);
    if (browse.by_path && !path[0]) bi.lParam = 0;
    browse.reselect = false;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&bi);
    if (!chosen) {
        make_none(stack::arguments);
        return;
    }
    wchar_t out[MAX_PATH] = {0};
    BOOL ok = SHGetPathFromIDListW(chosen, out);
    if (keep) {
        if (browse.kept) CoTaskMemFree(browse.kept);
        browse.kept = chosen;
    } else {
        CoTaskMemFree(chosen);
    }
    if (!ok) {
        make_none(stack::arguments);
        return;
    }
    std::u16string result(reinterpret_cast<const char16_t*>(out));
    if (result.empty() || result.back() != u'\\') result += u'\\';
    *stack::arguments = *push_file(result);
}

// request-font: font, selected, mono?. The chosen face name, point size and
// bold/italic style go into the font object. May collect.
void request_font_star() {
    Cell* a = stack::arguments;
    LOGFONTW lf{};
    bool from_font = false;
    if (type_of(a + 1) == TYPE_OBJECT) {
        Cell* base = stack::top;
        HFONT h = font_object_handle(stack::push(a + 1));
        stack::top = base;
        from_font = h && GetObjectW(h, sizeof lf, &lf) == sizeof lf;
    }
    if (!from_font) {
        lf = LOGFONTW{};
        lstrcpynW(lf.lfFaceName, L"Courier New", LF_FACESIZE);
        lf.lfHeight = (-11 * g.dpi_y) / 72;
        lf.lfCharSet = DEFAULT_CHARSET;
    }
    CHOOSEFONTW cf{};
    cf.lStructSize = sizeof cf;
    cf.hwndOwner = GetForegroundWindow();
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_PRINTERFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOVERTFONTS;
    if (type_of(a + 2) == TYPE_LOGIC && a[2].data1) cf.Flags |= CF_FIXEDPITCHONLY;
    if (!ChooseFontW(&cf)) {
        make_none(stack::arguments);
        return;
    }
    Cell* font = stack::push(a);
    Cell* name = stack::push_cell();
    const auto* face_name = reinterpret_cast<const char16_t*>(lf.lfFaceName);
    make_series(name, TYPE_STRING,
                unicode::load_utf16(face_name, static_cast<uint32_t>(lstrlenW(lf.lfFaceName)),
                                    nullptr, false));
    set_facet(font, sym.name, name);
    Cell size;
    make_integer(&size, cf.iPointSize / 10);
    set_facet(font, sym.size, &size);
    bool bold = lf.lfWeight == 700, italic = lf.lfItalic != 0;
    if (bold && italic) {
        Cell* style = block::make_at(stack::push_cell(), 2);
        block::ms_append(style, word::push_symbol(sym.bold));
        block::ms_append(style, word::push_symbol(sym.italic));
        set_facet(font, sym.style, style);
    } else if (bold || italic) {
        set_facet(font, sym.style, word::push_symbol(bold ? sym.bold : sym.italic));
    }
    *stack::arguments = *font;
}

} // namespace mox::gui::win

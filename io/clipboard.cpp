// The system clipboard (see clipboard.h). Values are turned into the
// clipboard's formats before the platform layer opens it, and what comes
// back is parsed here, where every length and offset is checked.
#include "io/clipboard.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "platform/platform.h"

namespace mox::clipboard {

namespace {

constexpr size_t DROPFILES_HEADER = 20;

uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// UTF-16 of a string from its index (crlf: LF as CR LF). May collect.
std::u16string utf16_of(Cell* str, bool crlf) {
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(str, &length, crlf);
    if (!units) fire(err::invalid_arg, str);
    return std::u16string(units, static_cast<size_t>(length));
}

// Appends a string! (of type) of UTF-16 units to the block in list. May
// collect.
void append_text(Cell* list, const std::u16string& text, uint32_t type) {
    Cell* made = string::load_in(reinterpret_cast<const uint8_t*>(text.data()),
                                 static_cast<uint32_t>(text.size()), list->data2,
                                 string::ENCODING_UTF16LE);
    set_type(made, type);
}

} // namespace

std::vector<std::u16string> read_dropfiles(const uint8_t* block, size_t size) {
    std::vector<std::u16string> names;
    if (!block || size < DROPFILES_HEADER) return names;
    const uint32_t offset = read_u32(block);
    const bool wide = read_u32(block + 16) != 0;
    if (offset < DROPFILES_HEADER || offset >= size) return names;
    size_t at = offset;
    for (;;) {
        std::u16string name;
        bool ended = false;
        if (wide) {
            for (; at + 1 < size; at += 2) {
                const char16_t u = static_cast<char16_t>(block[at] | block[at + 1] << 8);
                if (u == 0) {
                    ended = true;
                    at += 2;
                    break;
                }
                name += u;
            }
        } else {
            size_t start = at;
            while (at < size && block[at]) at++;
            if (at < size) {
                ended = true;
                if (at > start) {
                    size_t units = 0;
                    std::unique_ptr<char16_t, void (*)(void*)> text(
                        platform::ansi_to_utf16(block + start, at - start, &units), std::free);
                    if (text) name.assign(text.get(), units);
                }
                at++;
            }
        }
        if (!ended || name.empty()) break;
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<uint8_t> make_dropfiles(const std::vector<std::u16string>& paths) {
    size_t units = 1;
    for (const std::u16string& p : paths) units += p.size() + 1;
    std::vector<uint8_t> block(DROPFILES_HEADER + 2 * units, 0);
    put_u32(block.data(), DROPFILES_HEADER);
    put_u32(block.data() + 16, 1);
    size_t at = DROPFILES_HEADER;
    for (const std::u16string& p : paths) {
        std::memcpy(block.data() + at, p.data(), 2 * p.size());
        at += 2 * (p.size() + 1);
    }
    return block;
}

std::u16string to_mox_file(const std::u16string& path) {
    std::u16string out;
    size_t i = 0;
    if (path.size() >= 2 && path[1] == u':') {
        out = {u'/', path[0]};
        i = 2;
        if (path.size() == 2) out += u'/';
    } else if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        out = u"/";
        i = 2;
    } else if (!path.empty() && path[0] == u'\\') {
        out = u"//";
        i = 1;
    }
    for (; i < path.size(); i++) out += path[i] == u'\\' ? u'/' : path[i];
    return out;
}

void read(Cell* slot) {
    uint8_t* raw = nullptr;
    size_t size = 0;
    const platform::ClipKind kind = platform::clipboard_read(&raw, &size);
    std::unique_ptr<uint8_t, void (*)(void*)> bytes(raw, std::free);
    switch (kind) {
    case platform::CLIP_FAILED:
        make_logic(slot, false);
        return;
    case platform::CLIP_TEXT: {
        // The text ends at its NUL, or at the end of the block without one.
        size_t units = 0;
        while (2 * units + 1 < size && (bytes.get()[2 * units] | bytes.get()[2 * units + 1]))
            units++;
        string::load_at(bytes.get(), static_cast<uint32_t>(units), slot,
                        string::ENCODING_UTF16LE);
        return;
    }
    case platform::CLIP_FILES: {
        const std::vector<std::u16string> names = read_dropfiles(bytes.get(), size);
        Cell* list = stack::push_cell();
        block::make_at(list, static_cast<int32_t>(names.size()) + 1);
        for (const std::u16string& name : names) append_text(list, to_mox_file(name), TYPE_FILE);
        *slot = *list;
        stack::pop(1);
        return;
    }
    default:
        make_none(slot);
        return;
    }
}

bool write(Cell* value) {
    const uint32_t t = type_of(value);
    std::u16string text;
    std::vector<uint8_t> files;
    platform::ClipItem item{platform::CLIP_NONE, nullptr, 0};
    if (t == TYPE_STRING) {
        text = utf16_of(value, true);
        item = {platform::CLIP_TEXT, text.c_str(), 2 * (text.size() + 1)};
    } else if (t == TYPE_BLOCK) {
        std::vector<std::u16string> paths;
        const int32_t n = block::ms_length_q(value);
        for (int32_t i = 0; i < n; i++) {
            Cell* saved = stack::top;
            Cell* entry = stack::push(block::ms_head(value) + i);
            if (!is_any_string(type_of(entry))) fire(err::invalid_arg, entry);
            Cell* local = string::push_new(static_cast<uint32_t>(string::ms_length_q(entry)) + 3);
            file::to_local_path(entry, local, false);
            paths.push_back(utf16_of(local, false));
            stack::top = saved;
        }
        files = make_dropfiles(paths);
        item = {platform::CLIP_FILES, files.data(), files.size()};
    } else if (t != TYPE_NONE) {
        fire(err::invalid_arg, value);
    }
    return platform::clipboard_write(&item, item.kind == platform::CLIP_NONE ? 0 : 1);
}

} // namespace mox::clipboard

// file!: a file name. Its own parts here are the molded form and the
// current directory; the rest comes from url! and string!.
#include "datatypes/file.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/datatype.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "platform/platform.h"

namespace mox::file {

// %name, or %"name" when a character below 127 would end or change a bare
// file token. Inside the quotes a caret and the control characters are
// written as caret escapes, which the quoted form decodes. A double quote
// would end the quoted form, so a name holding one is written bare with
// percent escapes (as a URL molds), which the bare form decodes. Either way
// the text loads back as the same name.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    int32_t length = string::ms_length_q(value);
    int32_t count = part ? std::max(0, std::min(length, limit)) : length;
    std::vector<uint32_t> text(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; i++)
        text[static_cast<size_t>(i)] =
            string::abs_char_at(value, value->data1 + static_cast<uint32_t>(i));
    bool quoted = length == 0;
    bool encoded = false;
    for (uint32_t c : text) {
        if (c < 127 && !url::url_char_q(static_cast<uint8_t>(c))) quoted = true;
        if (c == '"') encoded = true;
    }
    int32_t before = string::total_length(buffer);
    string::append_char(buffer, '%');
    if (encoded) return url::mold(value, buffer, only, all, flat, part, limit - 1, indent);
    if (!quoted) {
        if (!text.empty()) string::append_chars(buffer, text.data(), text.size());
    } else {
        string::append_char(buffer, '"');
        for (uint32_t c : text) {
            if (c < 32 || c == '^')
                string::append_escaped_char(buffer, c, false);
            else
                string::append_char(buffer, c);
        }
        string::append_char(buffer, '"');
    }
    return limit - (string::total_length(buffer) - before);
}

Cell* get_current_dir(Cell* slot) {
#ifdef _WIN32
    constexpr char16_t separator = u'\\';
#else
    constexpr char16_t separator = u'/';
#endif
    int length = 0;
    char16_t* dir = platform::get_current_dir(&length);
    if (!dir) return make_none(slot);
    std::u16string text(dir, static_cast<size_t>(length));
    std::free(dir);
    if (text.empty() || text.back() != separator) text += separator;
    *slot = Cell{
        TYPE_STRING, 0,
        unicode::load_utf16(text.data(), static_cast<uint32_t>(text.size()), nullptr, false), 0};
    return slot;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MOLD>(&mold);
    // The file system's actions are io's (simple_io::init provides them).
    for (Action a : {A_OPEN, A_DELETE, A_QUERY, A_READ, A_RENAME, A_WRITE})
        slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_FILE, TYPE_URL, "file!", slots);
}

} // namespace mox::file

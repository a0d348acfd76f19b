// simple-io: files and directories (see simple-io.h).
//
// Handles live only inside one operation and are closed on every way out
// (an error raised half-way included) by a guard. Bytes handed to the
// system are taken from series only after the last allocation before the
// system call.
#include "io/simple-io.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "io/clipboard.h"
#include "io/http.h"
#include "platform/platform.h"

namespace mox::simple_io {

namespace {

// The largest byte count a series holds.
constexpr int64_t MAX_SERIES_BYTES = 0x7FF00000;
constexpr size_t CHUNK = 65536;

// Closes the handle however the operation ends.
struct Handle {
    intptr_t h;
    explicit Handle(intptr_t handle) : h(handle) {}
    ~Handle() {
        if (h != platform::NO_FILE) platform::close_handle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// The characters of a string from its index.
std::u32string chars_of(Cell* str) {
    const int32_t n = string::ms_length_q(str);
    const uint32_t unit = string::buffer_of(str)->unit();
    const uint8_t* p = string::ms_head(str);
    std::u32string text;
    text.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++)
        text += static_cast<char32_t>(string::get_char(p + i * unit, unit));
    return text;
}

bool separator(char32_t c) { return c == U'/' || c == U'\\'; }

// A part or seek argument as a number, ABSENT when not given.
// File offsets pass 32 bits, so a float! is taken whole when it is integral
// and within 2^53.
int64_t count_of(Cell* value) {
    if (!value) return ABSENT;
    if (type_of(value) != TYPE_FLOAT) return integer::get_int(value);
    const double d = get_float(value);
    if (!(d >= -9007199254740992.0 && d <= 9007199254740992.0)) fire(err::out_of_range, value);
    return static_cast<int64_t>(d);
}

// The whole rest of a file whose size the system does not report, read in
// chunks. False on a read error.
bool read_to_end(intptr_t h, std::vector<uint8_t>* out) {
    for (;;) {
        const size_t at = out->size();
        if (static_cast<int64_t>(at) > MAX_SERIES_BYTES) fire(err::too_long);
        out->resize(at + CHUNK);
        const int64_t got = platform::read_handle(h, out->data() + at, CHUNK);
        if (got < 0) return false;
        out->resize(at + static_cast<size_t>(got));
        if (got == 0) return true;
    }
}

// Reads exactly count bytes into out; false on an error or an early end.
bool read_exact(intptr_t h, uint8_t* out, size_t count) {
    while (count > 0) {
        const int64_t got = platform::read_handle(h, out, count);
        if (got <= 0) return false;
        out += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

// Builds the value of the bytes as read asks. May collect.
void bytes_to_value(const uint8_t* bytes, size_t count, bool binary, bool lines, Cell* slot) {
    if (binary) {
        *slot = *binary::make_from_bytes(bytes, static_cast<uint32_t>(count));
        stack::pop(1);
    } else if (lines) {
        split_lines(bytes, count, slot);
    } else {
        string::load_at(bytes, static_cast<uint32_t>(count), slot, string::ENCODING_UTF8);
    }
}

// ---------------------------------------------------------------------------
// Turning values into bytes for writing
// ---------------------------------------------------------------------------

// The bytes of a value to write: a string as UTF-8 (LF as CR LF unless
// binary), a binary from its index (cut to part when 0 < part < length),
// anything else molded and then taken as a string. The bytes are valid until
// the next allocation. May collect.
struct Bytes {
    const uint8_t* data;
    size_t count;
};

Bytes value_to_bytes(Cell* value, int64_t part, bool binary) {
    const uint32_t t = type_of(value);
    if (t == TYPE_BINARY) {
        size_t n = static_cast<size_t>(binary::ms_length_q(value));
        if (part > 0 && static_cast<size_t>(part) < n) n = static_cast<size_t>(part);
        return {binary::ms_head(value), n};
    }
    Cell* text = value;
    if (t != TYPE_STRING) {
        text = string::push_new(64);
        actions::mold(value, text, false, false, false, nullptr, 0, 0);
    }
    int32_t length = -1;
    const char* utf8 = unicode::to_utf8_crlf(text, &length, !binary);
    return {reinterpret_cast<const uint8_t*>(utf8), static_cast<size_t>(length)};
}

const uint8_t CRLF[2] = {'\r', '\n'};

// Writes to the handle, or to standard output when there is none.
bool put(intptr_t h, const uint8_t* bytes, size_t count) {
    if (h == platform::NO_FILE) {
        platform::write_stdout(bytes, count);
        return true;
    }
    return platform::write_handle(h, bytes, count);
}

// ---------------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------------

struct Entry {
    std::u16string name;
    bool directory;
};

void collect_entry(void* context, const char16_t* name, size_t length, bool directory) {
    static_cast<std::vector<Entry>*>(context)->push_back({std::u16string(name, length), directory});
}

// Appends a file! of the UTF-16 name to the block in list (with a trailing
// "/" for a directory). May collect.
void append_file(Cell* list, const std::u16string& name, bool directory) {
    Cell* made =
        string::load_in(reinterpret_cast<const uint8_t*>(name.data()),
                        static_cast<uint32_t>(name.size()), list->data2, string::ENCODING_UTF16LE);
    set_type(made, TYPE_FILE);
    if (directory) {
        Cell* entry = stack::push(made);
        string::append_char(entry, '/');
        stack::pop(1);
    }
}

} // namespace

bool dir_q(Cell* file) {
    const std::u32string name = chars_of(file);
    const size_t n = name.size();
    if (n == 0) return false;
    if (separator(name[n - 1])) return true;
    if (name[n - 1] != U'.') return false;
    size_t dots = n >= 2 && name[n - 2] == U'.' ? 2 : 1;
    return n == dots || separator(name[n - dots - 1]);
}

void split_lines(const uint8_t* bytes, size_t count, Cell* slot) {
    block::make_at(slot, 16);
    size_t start = 0;
    for (size_t i = 0; i < count; i++) {
        if (bytes[i] != '\n') continue;
        size_t end = i > start && bytes[i - 1] == '\r' ? i - 1 : i;
        string::load_in(bytes + start, static_cast<uint32_t>(end - start), slot->data2,
                        string::ENCODING_UTF8);
        start = i + 1;
    }
    if (start < count)
        string::load_in(bytes + start, static_cast<uint32_t>(count - start), slot->data2,
                        string::ENCODING_UTF8);
}

bool read_file(const char16_t* path, int64_t part, int64_t seek, bool binary, bool lines,
               Cell* slot) {
    Handle file(platform::open_file(path, platform::FILE_READ));
    if (file.h == platform::NO_FILE) return false;
    int64_t size = platform::handle_size(file.h);
    if (size < 0) return false;

    std::vector<uint8_t> rest;
    if (size == 0) {
        // Devices and files like /proc entries report no size: read them
        // whole and cut the seek and part from what came.
        if (!read_to_end(file.h, &rest)) return false;
        size_t from = seek > 0 ? std::min(rest.size(), static_cast<size_t>(seek)) : 0;
        size_t n = rest.size() - from;
        if (part >= 0 && static_cast<size_t>(part) < n) n = static_cast<size_t>(part);
        if (n > static_cast<size_t>(MAX_SERIES_BYTES)) fire(err::too_long);
        bytes_to_value(rest.data() + from, n, binary, lines, slot);
        return true;
    }
    if (seek >= 0) {
        if (seek >= size) {
            size = 0;
        } else {
            if (!platform::seek_handle(file.h, seek, false)) return false;
            size -= seek;
        }
    }
    if (part >= 0 && part < size) size = part;
    if (size > MAX_SERIES_BYTES) fire(err::too_long);
    const auto n = static_cast<size_t>(size);
    if (binary) {
        binary::make_cell(slot, static_cast<uint32_t>(n));
        // No allocation happens until the tail is set.
        if (!read_exact(file.h, binary::ms_head(slot), n)) return false;
        memory::SeriesBuffer* b = memory::buffer_of(slot);
        b->tail = b->head + static_cast<uint32_t>(n);
        return true;
    }
    std::unique_ptr<uint8_t, void (*)(void*)> bytes(static_cast<uint8_t*>(std::malloc(n ? n : 1)),
                                                    std::free);
    if (!bytes) fire(err::no_memory);
    if (!read_exact(file.h, bytes.get(), n)) return false;
    platform::close_handle(file.h);
    file.h = platform::NO_FILE;
    bytes_to_value(bytes.get(), n, false, lines, slot);
    return true;
}

void read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, Cell* slot) {
    if (dir_q(file)) {
        read_dir(file, slot);
        return;
    }
    const int64_t part_n = count_of(part);
    const int64_t seek_n = count_of(seek);
    const std::u16string path = file::to_OS_path(file);
    Cell* out = stack::push_cell();
    if (!read_file(path.c_str(), part_n, seek_n, binary, lines, out)) fire(err::cannot_open, file);
    *slot = *out;
    stack::pop(1);
}

void write(Cell* file, Cell* value, Cell* part, Cell* seek, bool binary, bool append, bool lines) {
    if (part && type_of(part) != TYPE_INTEGER)
        fire(err::invalid_refine_arg, &words::refinements::part, part);
    const int64_t part_n = part ? get_integer(part) : ABSENT;
    if (part && part_n < 0) return;
    const int64_t seek_n = count_of(seek);
    std::u16string path;
    if (file) path = file::to_OS_path(file);

    const bool each_line = lines && type_of(value) == TYPE_BLOCK;
    Handle out(platform::NO_FILE);
    if (file) {
        int mode = 0;
        if (append) mode |= platform::FILE_APPEND;
        if (seek_n >= 0) mode |= platform::FILE_SEEK;
        out.h = platform::open_file(path.c_str(), mode);
        if (out.h == platform::NO_FILE) fire(err::cannot_open, file);
        bool placed = true;
        if (seek_n > 0) placed = platform::seek_handle(out.h, seek_n, false);
        if (append) placed = placed && platform::seek_handle(out.h, 0, true);
        if (!placed) fire(err::no_create, file);
    }
    auto fail = [&] { fire(err::no_create, file ? file : value); };
    if (each_line) {
        const int32_t n = block::ms_length_q(value);
        for (int32_t i = 0; i < n; i++) {
            Cell* saved = stack::top;
            Cell* item = stack::push(block::ms_head(value) + i);
            Bytes bytes = value_to_bytes(item, part_n, binary);
            if (!put(out.h, bytes.data, bytes.count) || !put(out.h, CRLF, 2)) fail();
            stack::top = saved;
        }
    } else {
        Bytes bytes = value_to_bytes(value, part_n, binary);
        if (!put(out.h, bytes.data, bytes.count)) fail();
        if (lines && !put(out.h, CRLF, 2)) fail();
    }
    if (out.h != platform::NO_FILE) {
        const bool closed = platform::close_handle(out.h);
        out.h = platform::NO_FILE;
        if (!closed) fail();
    }
}

void read_dir(Cell* dir, Cell* slot) {
    std::u32string name = chars_of(dir);
    std::vector<Entry> entries;
    if (name == U"/") {
        std::unique_ptr<char16_t, void (*)(void*)> roots(platform::drive_strings(), std::free);
        if (!roots) fire(err::cannot_open, dir);
        for (const char16_t* p = roots.get(); *p;) {
            std::u16string root(p);
            p += root.size() + 1;
            std::replace(root.begin(), root.end(), u'\\', u'/');
            entries.push_back({root, false});
        }
    } else {
        Cell* target = dir;
        if (!name.empty() && name.back() == U'.') {
            target = string::push_new(static_cast<uint32_t>(name.size()) + 2);
            string::concatenate(target, dir);
            string::append_char(target, '/');
        }
        const std::u16string path = file::to_OS_path(target);
        if (!platform::list_dir(path.c_str(), collect_entry, &entries)) fire(err::cannot_open, dir);
    }
    Cell* list = stack::push_cell();
    block::make_at(list, static_cast<int32_t>(entries.size()) + 1);
    for (const Entry& e : entries) append_file(list, e.name, e.directory);
    *slot = *list;
}

void query(Cell* file, Cell* slot) {
    const std::u32string name = chars_of(file);
    const bool wants_dir = !name.empty() && separator(name.back());
    const std::u16string path = file::to_OS_path(file);
    platform::FileStamp stamp;
    if (!platform::file_stamp(path.c_str(), &stamp) || (wants_dir && !stamp.directory)) {
        make_none(slot);
        return;
    }
    date::make_cell_hms(slot, stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute,
                        stamp.second, stamp.millisecond * 1000000);
}

bool delete_(Cell* file) {
    const bool directory = dir_q(file);
    const std::u16string path = file::to_OS_path(file);
    return directory ? platform::remove_dir(path.c_str()) : platform::delete_file(path.c_str());
}

bool rename(Cell* from, Cell* to) {
    const std::u16string old_path = file::to_OS_path(from);
    const std::u16string new_path = file::to_OS_path(to);
    return platform::rename_path(old_path.c_str(), new_path.c_str());
}

bool make_dir(Cell* dir) { return platform::make_dir(file::to_OS_path(dir).c_str()); }

bool exists_q(Cell* file) { return platform::path_exists(file::to_OS_path(file).c_str()); }

// ---------------------------------------------------------------------------
// The system routines
// ---------------------------------------------------------------------------

namespace {

void create_dir_star() {
    Cell* args = stack::arguments;
    if (!make_dir(args)) fire(err::no_create, args);
    make_unset(args);
}

void exists_q_star() { make_logic(stack::arguments, exists_q(stack::arguments)); }

void write_stdout_star() {
    Cell* args = stack::arguments;
    write(nullptr, args, nullptr, nullptr, false, false, false);
    make_unset(args);
}

void read_clipboard_star() { clipboard::read(stack::arguments); }

void write_clipboard_star() {
    Cell* args = stack::arguments;
    make_logic(args, clipboard::write(args));
}

} // namespace

void init() {
    datatype::provide<A_DELETE>(TYPE_FILE, &file::delete_);
    datatype::provide<A_QUERY>(TYPE_FILE, &file::query);
    datatype::provide<A_READ>(TYPE_FILE, &file::read);
    datatype::provide<A_RENAME>(TYPE_FILE, &file::rename);
    datatype::provide<A_WRITE>(TYPE_FILE, &file::write);
    datatype::provide<A_READ>(TYPE_URL, &url::read);
    datatype::provide<A_WRITE>(TYPE_URL, &url::write);
    MOX_NATIVES_SIMPLE_IO(MOX_NATIVE_REGISTER)
}

} // namespace mox::simple_io

// ---------------------------------------------------------------------------
// The file! actions
// ---------------------------------------------------------------------------

namespace mox::file {

Cell* delete_(Cell* file) { return make_logic(file, simple_io::delete_(file)); }

Cell* query(Cell* target) {
    simple_io::query(target, target);
    return target;
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as) fire(err::not_done);
    simple_io::read(source, part, seek, binary, lines, source);
    return source;
}

Cell* rename(Cell* from, Cell* to) {
    if (type_of(to) != TYPE_FILE) fire(err::invalid_arg, to);
    return make_logic(from, simple_io::rename(from, to));
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append, Cell* part,
            Cell* seek, Cell* allow, Cell* as) {
    if (allow || as) fire(err::not_done);
    simple_io::write(destination, data, part, seek, binary, append, lines);
    return make_unset(destination);
}

} // namespace mox::file

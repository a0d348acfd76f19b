// The natives that reach the operating system and the byte codecs (see
// os-natives.h). Each checks and converts its arguments, hands the work to
// the checksum module, the deflate module or the platform layer, and turns
// the answer into a value.
//
// Bytes taken from series are copied out before anything is allocated, so
// that no pointer into a series buffer lives across a collection.
#include "io/os-natives.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "evaluator/checksum.h"
#include "io/deflate.h"
#include "platform/platform.h"

namespace mox::natives {

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Argument conversions
// ---------------------------------------------------------------------------

// UTF-16 of a string from its index, without its NUL; crlf writes each LF as
// CR LF. May collect.
std::u16string utf16_of(Cell* str, bool crlf) {
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(str, &length, crlf);
    if (!units) fire(err::invalid_arg, str);
    return std::u16string(units, static_cast<size_t>(length));
}

// A name given as a string or a word (its spelling). May collect.
std::u16string name_of(Cell* value) {
    if (!is_any_word(type_of(value))) return utf16_of(value, false);
    size_t length = 0;
    const char* utf8 = symbol::name_utf8(value->data2, &length);
    Cell* spelling = string::load(reinterpret_cast<const uint8_t*>(utf8),
                                  static_cast<uint32_t>(length), string::ENCODING_UTF8);
    return utf16_of(spelling, false);
}

// The path the operating system is given for a file!: its Windows form on
// the product, the name as written on the native test build. May collect.
std::u16string os_path(Cell* file) {
#ifdef _WIN32
    Cell* local = string::push_new(static_cast<uint32_t>(string::ms_length_q(file)) + 3);
    file::to_local_path(file, local, false);
    return utf16_of(local, false);
#else
    return utf16_of(file, false);
#endif
}

// The bytes of data: a binary! from its index, text as UTF-8 from its index,
// and (with files) a file! read whole. May collect.
Bytes bytes_of(Cell* data, bool files) {
    const uint32_t t = type_of(data);
    if (t == TYPE_BINARY) {
        const int32_t n = binary::ms_length_q(data);
        const uint8_t* p = binary::ms_head(data);
        return Bytes(p, p + n);
    }
    if (files && t == TYPE_FILE) {
        std::u16string path = os_path(data);
        size_t size = 0;
        uint8_t* content = platform::read_file(path.c_str(), &size);
        if (!content) fire(err::cannot_open, data);
        Bytes bytes(content, content + size);
        std::free(content);
        return bytes;
    }
    if (!is_any_string(t)) fire(err::invalid_arg, data);
    Bytes bytes(4 * static_cast<size_t>(string::ms_length_q(data)) + 1);
    bytes.resize(unicode::encode_utf8_part(data, bytes.data(), -1, false));
    return bytes;
}

// Makes a binary! of the bytes in the result slot. May collect.
void result_bytes(const uint8_t* bytes, size_t length) {
    Cell* made = binary::make_from_bytes(bytes, static_cast<uint32_t>(length));
    *stack::arguments = *made;
}

// ---------------------------------------------------------------------------
// checksum
// ---------------------------------------------------------------------------

// Refinement order: /with.
void checksum_star(int32_t with) {
    Cell* args = stack::arguments;
    Cell* method = args + 1;
    const uint32_t t = type_of(args);
    if (t != TYPE_BINARY && t != TYPE_STRING && t != TYPE_FILE) fire(err::invalid_arg, args);
    const uint32_t sym = symbol::resolve(method->data2);
    if (!checksum::method_q(sym)) fire(err::invalid_arg, method);
    const int32_t id = checksum::method_id(sym);
    const bool plain = id == checksum::ID_CRC32 || id == checksum::ID_TCP ||
                       sym == symbol::resolve(checksum::sym_adler32);
    const bool hash = sym == symbol::resolve(checksum::sym_hash);
    if (plain && with >= 0) fire(err::invalid_refine_arg, &words::refinements::with, method);
    Cell* spec = with >= 0 ? args + with : nullptr;
    if (spec && type_of(spec) == TYPE_INTEGER) {
        make_integer(args, checksum::hash());
        return;
    }
    if (spec && type_of(spec) != TYPE_BINARY && !is_any_string(type_of(spec)))
        fire(err::invalid_arg, spec);
    if (hash) fire(err::invalid_refine_arg, &words::refinements::with, method);

    const Bytes data = bytes_of(args, true);
    if (plain) {
        uint32_t v = id == checksum::ID_CRC32 ? checksum::crc32(data.data(), data.size())
                     : id == checksum::ID_TCP ? checksum::tcp(data.data(), data.size())
                                              : checksum::adler32(data.data(), data.size());
        make_integer(args, static_cast<int32_t>(v));
        return;
    }
    uint8_t out[checksum::DIGEST_BUFFER];
    if (spec) {
        const Bytes key = bytes_of(spec, false);
        checksum::hmac(data.data(), data.size(), key.data(), key.size(), id, out);
    } else {
        checksum::digest(data.data(), data.size(), id, out);
    }
    result_bytes(out, checksum::digest_size(id));
}

// ---------------------------------------------------------------------------
// compress and decompress
// ---------------------------------------------------------------------------

using Codec = int32_t (*)(uint8_t*, int32_t*, const uint8_t*, int32_t);

// The operation of a method word; another word raises invalid-arg.
Codec codec_of(Cell* method, bool compressing) {
    const uint32_t sym = symbol::resolve(method->data2);
    if (sym == symbol::resolve(deflate::sym_zlib))
        return compressing ? deflate::zlib_compress : deflate::zlib_decompress;
    if (sym == symbol::resolve(deflate::sym_deflate))
        return compressing ? deflate::compress : deflate::decompress;
    if (sym == symbol::resolve(deflate::sym_gzip))
        return compressing ? deflate::gzip_compress : deflate::gzip_decompress;
    fire(err::invalid_arg, method);
}

// Runs the codec into a new binary! of the capacity, and once more with the
// size it reports when that was too small; the binary is the result. May
// collect.
void run_codec(Codec codec, const Bytes& in, int32_t capacity) {
    Cell* out = stack::push_cell();
    for (int attempt = 0;; attempt++) {
        binary::make_cell(out, static_cast<uint32_t>(capacity));
        int32_t size = capacity;
        int32_t result =
            codec(binary::ms_head(out), &size, in.data(), static_cast<int32_t>(in.size()));
        if (result == deflate::TOO_SMALL && attempt == 0) {
            capacity = size;
            continue;
        }
        if (result != deflate::OK) fire(err::invalid_data);
        memory::SeriesBuffer* b = memory::buffer_of(out);
        b->tail = b->head + static_cast<uint32_t>(size);
        break;
    }
    *stack::arguments = *out;
}

void compress_star() {
    Cell* args = stack::arguments;
    Codec codec = codec_of(args + 1, true);
    const Bytes in = bytes_of(args, false);
    if (in.size() > INT32_MAX - (INT32_MAX >> 11) - 32) fire(err::invalid_arg, args);
    const auto len = static_cast<int32_t>(in.size());
    run_codec(codec, in, len + (len >> 11) + 32);
}

// Refinement order: /size.
void decompress_star(int32_t size) {
    Cell* args = stack::arguments;
    Codec codec = codec_of(args + 1, false);
    if (type_of(args) != TYPE_BINARY) fire(err::invalid_arg, args);
    const Bytes in = bytes_of(args, false);
    const bool gzip = codec == deflate::gzip_decompress;
    int32_t capacity = 0;
    if (!gzip && size >= 0 && get_integer(args + size) > static_cast<int32_t>(in.size())) {
        capacity = get_integer(args + size);
    } else {
        int32_t result = codec(nullptr, &capacity, in.data(), static_cast<int32_t>(in.size()));
        if (result != deflate::OK && result != deflate::TOO_SMALL) fire(err::invalid_data);
    }
    run_codec(codec, in, capacity);
}

// ---------------------------------------------------------------------------
// The environment
// ---------------------------------------------------------------------------

void set_env_star() {
    Cell* args = stack::arguments;
    const std::u16string name = name_of(args);
    if (type_of(args + 1) == TYPE_NONE) {
        platform::set_env(name.c_str(), nullptr);
    } else {
        const std::u16string value = utf16_of(args + 1, false);
        platform::set_env(name.c_str(), value.c_str());
    }
    *args = args[1];
}

void get_env_star() {
    Cell* args = stack::arguments;
    const std::u16string name = name_of(args);
    // The value can change between asking its size and reading it: ask
    // again until it fits.
    for (int needed = platform::get_env(name.c_str(), nullptr, 0); needed >= 1;) {
        std::u16string value(static_cast<size_t>(needed), u'\0');
        int got = platform::get_env(name.c_str(), value.data(), needed);
        if (got >= needed) {
            needed = got;
            continue;
        }
        string::load_at(reinterpret_cast<const uint8_t*>(value.data()), static_cast<uint32_t>(got),
                        args, string::ENCODING_UTF16LE);
        return;
    }
    make_none(args);
}

void list_env_star() {
    Cell* list = stack::push_cell();
    block::make_at(list, 100);
    std::unique_ptr<char16_t, void (*)(char16_t*)> env(platform::env_strings(),
                                                       platform::free_env_strings);
    for (const char16_t* entry = env.get(); entry && *entry;) {
        size_t length = 0;
        while (entry[length]) length++;
        // A name may itself begin with "=" (the per-drive directories).
        size_t eq = 1;
        while (eq < length && entry[eq] != u'=') eq++;
        const size_t value_at = eq < length ? eq + 1 : length;
        string::load_in(reinterpret_cast<const uint8_t*>(entry), static_cast<uint32_t>(eq),
                        list->data2, string::ENCODING_UTF16LE);
        string::load_in(reinterpret_cast<const uint8_t*>(entry + value_at),
                        static_cast<uint32_t>(length - value_at), list->data2,
                        string::ENCODING_UTF16LE);
        entry += length + 1;
    }
    map::make_cell(stack::arguments, list, 0);
}

// ---------------------------------------------------------------------------
// Files and the shell
// ---------------------------------------------------------------------------

// Refinement order: /full.
void to_local_file_star(int32_t full) {
    Cell* args = stack::arguments;
    Cell* local = string::push_new(static_cast<uint32_t>(string::ms_length_q(args)) + 3);
    file::to_local_path(args, local, full >= 0);
    *args = *local;
}

void size_q_star() {
    Cell* args = stack::arguments;
    const int32_t n = string::ms_length_q(args);
    const uint32_t unit = string::buffer_of(args)->unit();
    const uint8_t* p = string::ms_head(args);
    auto at = [&](int32_t i) { return string::get_char(p + i * unit, unit); };
    const bool directory = (n > 0 && (at(n - 1) == '/' || at(n - 1) == '\\')) ||
                           (n == 1 && at(0) == '.') || (n == 2 && at(0) == '.' && at(1) == '.');
    if (directory) {
        make_none(args);
        return;
    }
    const std::u16string path = os_path(args);
    const int64_t size = platform::file_size(path.c_str());
    if (size < 0)
        make_none(args);
    else if (size <= INT32_MAX)
        make_integer(args, static_cast<int32_t>(size));
    else
        make_float(args, static_cast<double>(size));
}

void browse_star() {
    Cell* args = stack::arguments;
    Cell* target = args;
    if (type_of(args) == TYPE_FILE) {
        target = string::push_new(static_cast<uint32_t>(string::ms_length_q(args)) + 3);
        file::to_local_path(args, target, false);
    }
    const std::u16string text = utf16_of(target, false);
    platform::shell_open(u"open", text.c_str());
    make_unset(args);
}

// ---------------------------------------------------------------------------
// call
// ---------------------------------------------------------------------------

// Frees the capture buffers however the native ends.
struct Captures {
    platform::Redirect streams[3];
    ~Captures() {
        for (auto& r : streams) std::free(r.captured);
    }
};

// Fills a redirection record from an argument cell: a file! by its path,
// input bytes from a string (UTF-16LE with CR LF line ends) or a binary, and
// a capture for an output string or binary. The texts are kept in holders
// that live as long as the record. May collect.
void redirect_from(Cell* value, bool input, platform::Redirect* r, std::u16string* text,
                   Bytes* bytes) {
    const uint32_t t = type_of(value);
    if (t == TYPE_FILE) {
        *text = os_path(value);
        r->path = text->c_str();
    } else if (!input) {
        r->capture = true;
    } else if (t == TYPE_BINARY) {
        *bytes = bytes_of(value, false);
        r->data = bytes->data();
        r->size = bytes->size();
    } else {
        *text = utf16_of(value, true);
        r->data = reinterpret_cast<const uint8_t*>(text->data());
        r->size = text->size() * sizeof(char16_t);
    }
}

// Hands captured output to its target: inserted at a binary's index, or
// appended to a string's tail as text (in the ANSI code page when it came
// through the shell, else UTF-8). May collect.
void deliver(Cell* target, const platform::Redirect& r, bool shell_used) {
    if (r.captured_size == 0) return;
    Cell* value;
    if (type_of(target) == TYPE_BINARY) {
        const auto n = static_cast<uint32_t>(r.captured_size);
        memory::alloc_tail_bytes(target->data2, n);
        memory::SeriesBuffer* b = memory::buffer_of(target);
        const uint32_t used = b->used_bytes();
        const uint32_t at = std::min(target->data1, used - n);
        uint8_t* head = b->head_ptr();
        std::memmove(head + at + n, head + at, used - n - at);
        std::memcpy(head + at, r.captured, n);
        return;
    }
    if (shell_used) {
        size_t units = 0;
        char16_t* text = platform::ansi_to_utf16(r.captured, r.captured_size, &units);
        if (!text) fire(err::no_memory);
        std::unique_ptr<char16_t, void (*)(void*)> owned(text, std::free);
        value = string::load(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(units),
                             string::ENCODING_UTF16LE);
    } else {
        value =
            string::load(r.captured, static_cast<uint32_t>(r.captured_size), string::ENCODING_UTF8);
    }
    actions::append(target, value, -1, false, 1);
}

// Refinement order: /wait /show /console /shell /input /output /error.
void call_star(int32_t wait, int32_t show, int32_t console, int32_t shell, int32_t input,
               int32_t output, int32_t error) {
    Cell* args = stack::arguments;
    if (console >= 0) fire(err::not_done);
    if (string::ms_length_q(args) == 0) {
        make_integer(args, 0);
        return;
    }
    Cell* command = args;
    if (type_of(args) == TYPE_FILE) {
        command = string::push_new(static_cast<uint32_t>(string::ms_length_q(args)) + 3);
        file::to_local_path(args, command, false);
    }
    const std::u16string line = utf16_of(command, true);

    Captures captures;
    std::u16string texts[3];
    Bytes bytes[3];
    platform::CallOptions options;
    options.wait = wait >= 0;
    options.show = show >= 0;
    options.shell = shell >= 0;
    platform::Redirect** slots[3] = {&options.input, &options.output, &options.error};
    const int32_t refs[3] = {input, output, error};
    for (int i = 0; i < 3; i++) {
        if (refs[i] < 0) continue;
        redirect_from(args + refs[i], i == 0, &captures.streams[i], &texts[i], &bytes[i]);
        *slots[i] = &captures.streams[i];
    }
    const int32_t result = platform::call(line.c_str(), &options);
    for (int i = 1; i < 3; i++)
        if (refs[i] >= 0 && captures.streams[i].capture && result != -1)
            deliver(args + refs[i], captures.streams[i], options.shell_used);
    make_integer(args, result);
}

} // namespace

void register_os() { MOX_NATIVES_OS(MOX_NATIVE_REGISTER) }

} // namespace mox::natives

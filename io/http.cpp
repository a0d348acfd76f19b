// The HTTP client (see http.h): the request is assembled here from the
// language's values, performed by the platform layer, and its answer turned
// back into values.
#include "io/http.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/actions.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "io/simple-io.h"
#include "platform/platform.h"

namespace mox::simple_io {

namespace {

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string utf8_of(const char16_t* text, size_t units) {
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; i++) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        uint8_t bytes[4];
        const uint32_t n = unicode::cp_to_utf8(cp, bytes);
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
    return out;
}

// UTF-16 of a string value from its index. May collect.
std::u16string utf16_of(Cell* str) {
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(str, &length, false);
    if (!units) fire(err::invalid_arg, str);
    return std::u16string(units, static_cast<size_t>(length));
}

// The spelling of a word, or the formed text of any other value (a string
// as it is). May collect.
std::u16string text_of(Cell* value) {
    Cell* saved = stack::top;
    Cell* text = value;
    if (is_any_word(type_of(value))) {
        size_t length = 0;
        const char* utf8 = symbol::name_utf8(value->data2, &length);
        text = string::load(reinterpret_cast<const uint8_t*>(utf8), static_cast<uint32_t>(length),
                            string::ENCODING_UTF8);
    } else if (type_of(value) != TYPE_STRING) {
        text = string::push_new(32);
        actions::form(value, text, nullptr, 0);
    }
    std::u16string out = utf16_of(text);
    stack::top = saved;
    return out;
}

// Frees the platform's answer however the request ends.
struct Response : platform::HttpResponse {
    Response() : platform::HttpResponse{0, nullptr, 0, nullptr, 0} {}
    ~Response() {
        std::free(headers);
        std::free(body);
    }
};

} // namespace

std::vector<Header> split_headers(const char* text, size_t length) {
    std::vector<Header> headers;
    size_t line = 0;
    while (line < length) {
        size_t end = line;
        while (end < length && text[end] != '\r' && text[end] != '\n') end++;
        const void* found = std::memchr(text + line, ':', end - line);
        if (found) {
            const size_t colon = static_cast<size_t>(static_cast<const char*>(found) - text);
            size_t value = colon + 1;
            while (value < end && (text[value] == ' ' || text[value] == '\t')) value++;
            std::string name(text + line, colon - line);
            std::string content(text + value, end - value);
            if (!name.empty()) {
                Header* entry = nullptr;
                for (Header& h : headers)
                    if (same_name(h.name, name)) entry = &h;
                if (entry)
                    entry->values.push_back(std::move(content));
                else
                    headers.push_back({std::move(name), {std::move(content)}});
            }
        }
        line = end;
        while (line < length && (text[line] == '\r' || text[line] == '\n')) line++;
    }
    return headers;
}

void parse_response_headers(const char16_t* text, size_t units, Cell* slot) {
    const std::string utf8 = utf8_of(text, units);
    const std::vector<Header> headers = split_headers(utf8.data(), utf8.size());
    Cell* saved = stack::top;
    Cell* list = stack::push_cell();
    block::make_at(list, static_cast<int32_t>(headers.size() * 2) + 1);
    for (const Header& h : headers) {
        word::make_in(list->data2, symbol::make_sized(h.name.data(), h.name.size()));
        if (h.values.size() == 1) {
            string::load_in(reinterpret_cast<const uint8_t*>(h.values[0].data()),
                            static_cast<uint32_t>(h.values[0].size()), list->data2,
                            string::ENCODING_UTF8);
            continue;
        }
        Cell* values = stack::push(block::make_in(list, static_cast<int32_t>(h.values.size())));
        for (const std::string& v : h.values)
            string::load_in(reinterpret_cast<const uint8_t*>(v.data()),
                            static_cast<uint32_t>(v.size()), values->data2, string::ENCODING_UTF8);
        stack::pop(1);
    }
    map::make_cell(slot, list, 0);
    stack::top = saved;
}

bool send_request(Cell* method, Cell* url, Cell* headers, Cell* data, bool binary, bool lines,
                  bool info, Cell* slot) {
    std::u16string verb = text_of(method);
    for (char16_t& c : verb)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    const bool carries_body = verb != u"GET" && verb != u"HEAD";

    std::vector<std::u16string> fields;
    if (headers) {
        const int32_t n = block::ms_length_q(headers);
        for (int32_t i = 0; i + 1 < n; i += 2) {
            fields.push_back(text_of(stack::push(block::ms_head(headers) + i)));
            fields.push_back(text_of(stack::push(block::ms_head(headers) + i + 1)));
            stack::pop(2);
        }
    } else {
        fields = {u"Content-Type",   u"application/x-www-form-urlencoded",
                  u"Accept-Charset", u"UTF-8",
                  u"User-Agent",     u"Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
    }
    std::vector<const char16_t*> pointers;
    for (const std::u16string& f : fields) pointers.push_back(f.c_str());

    platform::HttpRequest request{};
    std::u16string body_text;
    std::vector<uint8_t> body_bytes;
    if (carries_body && data && type_of(data) != TYPE_NONE) {
        if (type_of(data) == TYPE_BINARY) {
            const uint8_t* p = binary::ms_head(data);
            body_bytes.assign(p, p + binary::ms_length_q(data));
            request.body_kind = 1;
            request.body = body_bytes.data();
            request.body_size = body_bytes.size();
        } else {
            body_text = text_of(data);
            request.body_kind = 2;
            request.body = body_text.c_str();
            request.body_size = body_text.size();
        }
    }
    const std::u16string address = utf16_of(url);
    request.method = verb.c_str();
    request.url = address.c_str();
    request.headers = pointers.data();
    request.header_count = static_cast<int>(fields.size() / 2);
    request.want_headers = info;

    Response response;
    if (!platform::http_request(request, &response)) return false;
    if (response.body_size > 0x7FF00000u) fire(err::too_long);

    Cell* saved = stack::top;
    Cell* body = stack::push_cell();
    const uint8_t* bytes = response.body ? response.body : reinterpret_cast<const uint8_t*>("");
    if (binary) {
        *body = *binary::make_from_bytes(bytes, static_cast<uint32_t>(response.body_size));
    } else if (lines) {
        split_lines(bytes, response.body_size, body);
    } else {
        string::load_at(bytes, static_cast<uint32_t>(response.body_size), body,
                        string::ENCODING_UTF8);
    }
    if (info) {
        Cell* result = stack::push_cell();
        block::make_at(result, 3);
        Cell status;
        make_integer(&status, response.status);
        block::ms_append(result, &status);
        Cell* map = stack::push_cell();
        parse_response_headers(response.headers ? response.headers : u"", response.header_units,
                               map);
        block::ms_append(result, map);
        block::ms_append(result, body);
        *slot = *result;
    } else {
        *slot = *body;
    }
    stack::top = saved;
    return true;
}

} // namespace mox::simple_io

namespace mox::url {

namespace {

bool http_q(Cell* url) {
    static const char prefix[] = "http";
    if (string::ms_length_q(url) < 4) return false;
    const uint32_t unit = string::buffer_of(url)->unit();
    const uint8_t* p = string::ms_head(url);
    for (uint32_t i = 0; i < 4; i++) {
        uint32_t c = string::get_char(p + i * unit, unit);
        if (c >= 'A' && c <= 'Z') c += 32;
        if (c != static_cast<uint8_t>(prefix[i])) return false;
    }
    return true;
}

bool body_type_q(uint32_t t) {
    return t == TYPE_NONE || t == TYPE_BLOCK || t == TYPE_STRING || t == TYPE_BINARY;
}

} // namespace

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (!http_q(source)) {
        Cell* port = to_port(source);
        *source = *actions::read(port, part, seek, binary, lines, info, as);
        return source;
    }
    if (part || seek || as) fire(err::not_done);
    Cell* method = stack::push(word::load("get"));
    Cell* out = stack::push_cell();
    if (!simple_io::send_request(method, source, nullptr, nullptr, binary, lines, info, out))
        fire(err::no_connect, source);
    *source = *out;
    return source;
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as) {
    if (!http_q(destination)) {
        Cell* port = to_port(destination);
        *destination =
            *actions::write(port, data, binary, lines, info, append, part, seek, allow, as);
        return destination;
    }
    if (seek || allow || as) fire(err::not_done);
    Cell* method = nullptr;
    Cell* headers = nullptr;
    Cell* body = nullptr;
    if (type_of(data) == TYPE_BLOCK) {
        const int32_t n = block::ms_length_q(data);
        Cell* parts[3] = {};
        for (int32_t i = 0; i < n && i < 3; i++) parts[i] = stack::push(block::ms_head(data) + i);
        method = parts[0] ? parts[0] : stack::push(word::load("get"));
        if (type_of(method) != TYPE_WORD) fire(err::invalid_arg, method);
        headers = parts[1];
        if (headers && type_of(headers) != TYPE_BLOCK) fire(err::invalid_arg, headers);
        body = parts[2];
    } else {
        method = stack::push(word::load("post"));
        body = data;
    }
    if (body && !body_type_q(type_of(body))) fire(err::invalid_arg, body);
    Cell* out = stack::push_cell();
    if (!simple_io::send_request(method, destination, headers, body, binary, lines, info, out))
        fire(err::no_connect, destination);
    *destination = *out;
    return destination;
}

} // namespace mox::url

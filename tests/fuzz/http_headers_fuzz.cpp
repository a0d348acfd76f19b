// libFuzzer target over the response header parser: any text must split
// into named headers whose names and values hold no line break and no
// colon-led name, reading nothing past the input, and the same text given
// as UTF-16 (as the system hands it over) must build a map without an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/stack.h"
#include "io/http.h"
#include "program/startup.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mox;
    mox::start();
    // An exact-size copy, so that any read past the input is caught.
    std::vector<char> text(data, data + size);
    const auto headers = simple_io::split_headers(text.data(), text.size());
    for (const auto& h : headers) {
        check(!h.name.empty() && !h.values.empty());
        check(h.name.find_first_of("\r\n:") == std::string::npos);
        for (const auto& v : h.values) check(v.find_first_of("\r\n") == std::string::npos);
    }
    std::vector<char16_t> wide(size / 2);
    for (size_t i = 0; i < wide.size(); i++)
        wide[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    Cell* top = stack::top;
    Cell* map = stack::push_cell();
    simple_io::parse_response_headers(wide.data(), wide.size(), map);
    check(type_of(map) == TYPE_MAP);
    stack::top = top;
    return 0;
}

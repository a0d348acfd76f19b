// The operating-system information object (see os-info.h).
#include "io/os-info.h"

#include <string>

#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "platform/platform.h"

namespace mox::os_info {

const char* edition(uint32_t major, uint32_t minor, uint32_t build, bool server) {
    struct Row {
        uint32_t major, minor;
        const char* workstation;
        const char* server;
    };
    static const Row rows[] = {
        {5, 0, "2000", "2000"},
        {5, 1, "XP", "XP"},
        {5, 2, "Server 2003", "Server 2003 R2"},
        {6, 0, "Vista", "Server 2008"},
        {6, 1, "7", "Server 2008 R1"},
        {6, 2, "8", "Server 2012"},
        {6, 3, "8.1", "Server 2012 R2"},
    };
    for (const Row& row : rows)
        if (row.major == major && row.minor == minor) return server ? row.server : row.workstation;
    // Later minor versions of 5 and 6 are not expected; they are named like
    // the systems that report a new major version.
    if (!server) return build < 22000 ? "10" : "11";
    return build < 17134 ? "Server 2016" : build < 20285 ? "Server 2019" : "Server 2022";
}

const char* arch_name(uint32_t architecture) {
    switch (architecture) {
    case 0:
        return "x86-32";
    case 5:
        return "ARM";
    case 6:
        return "IA-64";
    case 9:
        return "x86-64";
    case 12:
        return "ARM64";
    default:
        return "Unknown";
    }
}

namespace {

// Appends a set-word of the name to the block. May collect.
void add_field(Cell* spec, const char* name) {
    Cell* word = word::make_in(spec->data2, symbol::make(name));
    set_type(word, TYPE_SET_WORD);
}

} // namespace

Cell* get_OS_info() {
    platform::OsVersion v;
    if (!platform::os_version(&v)) return make_none(stack::push_cell());

    std::u16string name = u"Windows ";
    for (const char* e = edition(v.major, v.minor, v.build, v.server); *e; e++)
        name += char16_t(*e);
    if (v.service_pack[0]) name += u" " + std::u16string(v.service_pack);
    Cell* spec = stack::push_cell();
    block::make_at(spec, 8);
    add_field(spec, "name");
    string::load_in(reinterpret_cast<const uint8_t*>(name.data()),
                    static_cast<uint32_t>(name.size()), spec->data2, string::ENCODING_UTF16LE);
    add_field(spec, "arch");
    word::make_in(spec->data2, symbol::make(arch_name(v.architecture)));
    add_field(spec, "version");
    const uint8_t version[3] = {static_cast<uint8_t>(v.major), static_cast<uint8_t>(v.minor),
                                static_cast<uint8_t>(v.service_pack_major)};
    tuple::make_cell(memory::alloc_tail(spec->data2), version, 3);
    add_field(spec, "build");
    make_integer(memory::alloc_tail(spec->data2), static_cast<int32_t>(v.build));
    return object::make_from_spec(spec, nullptr, true);
}

} // namespace mox::os_info

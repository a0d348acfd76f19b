// make-boot-image: writes the boot image at build time.
//
//   make-boot-image ROOT ORDER IMAGE SOURCE [--lz]
//
// Loads each Mox file that ORDER lists (one path from ROOT a line; blank
// lines and lines starting with # are skipped), and writes one compact
// Moxbin document holding the block [name code name code ...] (name a
// file! value, code the file's loaded, unevaluated block) to IMAGE, and the
// same bytes as a C++ array (mox::boot::image) to SOURCE. --lz compresses
// the body. The document is decoded and encoded again before it is
// written: an image that does not come back byte for byte is refused.
// The output depends on nothing but the files, so two runs give the same
// bytes.
//
// Every native! and action! definition in the files (name: make native!
// [[spec] id]) must carry the id that core/natives-table.h gives its name,
// and every native and action of the table must be defined: a wrong
// pairing stops the build here rather than calling the wrong body.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/natives-table.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "io/lz.h"
#include "io/moxbin.h"
#include "platform/platform.h"
#include "program/boot.h"
#include "program/startup.h"

// The tool makes the image, so it embeds none.
namespace mox::boot {
const unsigned char image[1] = {0};
const uint32_t image_size = 0;
} // namespace mox::boot

using namespace mox;

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "make-boot-image: %s\n", message.c_str());
    sys_quit_status(1);
}

bool read_file(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

std::vector<std::string> module_names(const std::string& order) {
    std::string text;
    if (!read_file(order, &text)) fail("cannot read " + order);
    std::vector<std::string> names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t a = line.find_first_not_of(" \t\r");
        if (a == std::string::npos || line[a] == '#') continue;
        size_t b = line.find_last_not_of(" \t\r");
        names.push_back(line.substr(a, b - a + 1));
    }
    return names;
}

// The definitions of one kind (native! or action!) against their lists of
// the table.
struct Pairing {
    const char* kind;
    std::vector<natives::Named> listed;
    // Listed, but run by routines only: no definition may name them.
    std::vector<natives::Named> unnamed;
    std::map<std::string, std::string> defined_in; // name -> file
};

const natives::Named boot_natives[] = {MOX_NATIVES(MOX_NAMED)};
const natives::Named routine_natives[] = {MOX_NATIVES_SIMPLE_IO(MOX_NAMED)};
const natives::Named boot_actions[] = {MOX_ACTIONS(MOX_NAMED)};

Pairing natives_pairing{"native!",
                        {std::begin(boot_natives), std::end(boot_natives)},
                        {std::begin(routine_natives), std::end(routine_natives)},
                        {}};
Pairing actions_pairing{"action!", {std::begin(boot_actions), std::end(boot_actions)}, {}, {}};
std::vector<std::string> pairing_faults;

std::string spelling(const Cell* word) {
    size_t n = 0;
    const char* s = symbol::name_utf8(word->data2, &n);
    return std::string(s, n);
}

bool is_word(const Cell* c, const char* name) {
    return type_of(c) == TYPE_WORD && spelling(c) == name;
}

const natives::Named* find(const std::vector<natives::Named>& list, const std::string& name) {
    for (const natives::Named& n : list)
        if (n.name == name) return &n;
    return nullptr;
}

void check_definition(Pairing& p, const std::string& file, const std::string& name,
                      const Cell* body) {
    std::string what = file + ": " + p.kind + " " + name;
    if (type_of(body) != TYPE_BLOCK || block::abs_length(body) != body->data1 + 2 ||
        type_of(block::ms_abs_at(body, body->data1 + 1)) != TYPE_INTEGER) {
        pairing_faults.push_back(what + " is not made from [spec id]");
        return;
    }
    int32_t id = get_integer(block::ms_abs_at(body, body->data1 + 1));
    auto [first, fresh] = p.defined_in.emplace(name, file);
    if (!fresh)
        pairing_faults.push_back(what + " is defined again (first in " + first->second + ")");
    const natives::Named* listed = find(p.listed, name);
    if (listed && listed->id != id)
        pairing_faults.push_back(what + " has id " + std::to_string(id) +
                                 ", but core/natives-table.h gives it " +
                                 std::to_string(listed->id));
    else if (!listed)
        pairing_faults.push_back(
            what + " (id " + std::to_string(id) + ") is " +
            (find(p.unnamed, name) ? "run by routines only" : "not in core/natives-table.h"));
}

// Finds the definitions in a loaded block and the blocks and parens within
// it. Allocates nothing, so the cells stay put.
void check_definitions(const Cell* blk, const std::string& file) {
    uint32_t n = block::abs_length(blk);
    for (uint32_t i = blk->data1; i < n; i++) {
        const Cell* c = block::ms_abs_at(blk, i);
        if (type_of(c) == TYPE_BLOCK || type_of(c) == TYPE_PAREN) check_definitions(c, file);
        if (type_of(c) != TYPE_SET_WORD || i + 3 >= n ||
            !is_word(block::ms_abs_at(blk, i + 1), "make"))
            continue;
        const Cell* kind = block::ms_abs_at(blk, i + 2);
        Pairing* p = is_word(kind, "native!")   ? &natives_pairing
                     : is_word(kind, "action!") ? &actions_pairing
                                                : nullptr;
        if (p) check_definition(*p, file, spelling(c), block::ms_abs_at(blk, i + 3));
    }
}

// Every listed entry must have been defined; then all faults are told and
// the build stops.
void check_pairings() {
    for (const Pairing* p : {&natives_pairing, &actions_pairing})
        for (const natives::Named& n : p->listed)
            if (!p->defined_in.count(std::string(n.name)))
                pairing_faults.push_back(std::string(p->kind) + " " + std::string(n.name) +
                                         " (id " + std::to_string(n.id) +
                                         " in core/natives-table.h) is defined in no file");
    for (const std::string& fault : pairing_faults)
        std::fprintf(stderr, "make-boot-image: %s\n", fault.c_str());
    if (!pairing_faults.empty()) fail("the natives and actions do not match core/natives-table.h");
}

// Runs f under a try frame; an error is reported with what failed.
template <class F> void guarded(const std::string& what, F f) {
    stack::protect(stack::Guard::errors, f, [&](uint32_t exit) {
        if (exit == stack::EXIT_ERROR) error::write_report(stack::top - 1);
        fail(what + " failed");
    });
}

std::vector<uint8_t> bytes_of(const Cell* binary) {
    memory::SeriesBuffer* b = memory::buffer_of(binary->data2);
    return std::vector<uint8_t>(b->head_ptr(), b->tail_ptr());
}

// The document with its body compressed (flags bit 1).
std::vector<uint8_t> compressed(const std::vector<uint8_t>& doc) {
    std::vector<uint8_t> out(doc.begin(), doc.begin() + 8);
    std::vector<uint8_t> body(doc.size() - 8);
    int32_t n = lz::compress(doc.data() + 8, int32_t(doc.size() - 8), body.data());
    if (n < 0) return doc;
    out[7] |= 2;
    out.insert(out.end(), body.begin(), body.begin() + n);
    return out;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) fail("cannot write " + path);
}

std::string as_source(const std::vector<uint8_t>& doc) {
    std::string s = "// Generated by tools/make-boot-image from library/order.txt: do not edit.\n"
                    "#include \"program/boot.h\"\n\nnamespace mox::boot {\n\n"
                    "alignas(8) extern const unsigned char image[] = {\n";
    char hex[8];
    for (size_t i = 0; i < doc.size(); i++) {
        std::snprintf(hex, sizeof hex, "%u,", unsigned(doc[i]));
        s += hex;
        if (i % 24 == 23) s += '\n';
    }
    s += "};\nextern const uint32_t image_size = " + std::to_string(doc.size()) +
         ";\n\n}  // namespace mox::boot\n";
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6 || (argc == 6 && std::strcmp(argv[5], "--lz") != 0)) {
        std::fprintf(stderr, "usage: make-boot-image ROOT ORDER IMAGE SOURCE [--lz]\n");
        return 2;
    }
    const std::string root = argv[1];
    platform::reset_fpu();
    platform::record_stack_bounds();
    platform::init_process();
    init_runtime();

    Cell* list = stack::push_cell();
    block::make_at(list, 64);
    for (const std::string& name : module_names(argv[2])) {
        std::string text;
        if (!read_file(root + "/" + name, &text)) fail("cannot read " + root + "/" + name);
        guarded(name, [&] {
            Cell* file = stack::push_cell();
            string::make_at(file, uint32_t(name.size()), 1, TYPE_FILE);
            string::append_utf8(file, name.data(), name.size());
            block::ms_append(list, file);
            Cell* code = stack::push_cell();
            lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()),
                             code);
            check_definitions(code, name);
            block::ms_append(list, code);
        });
    }
    check_pairings();

    std::vector<uint8_t> doc, again;
    guarded("encoding", [&] { doc = bytes_of(moxbin::encode_cp(list, stack::push_cell())); });
    guarded("checking", [&] {
        Cell* decoded = stack::push_cell();
        block::make_at(decoded, 1);
        moxbin::boot_load(doc.data(), decoded, int64_t(doc.size()));
        if (block::abs_length(decoded) != 1) fail("the image decodes to more than one value");
        Cell* value = stack::push(block::ms_abs_at(decoded, 0));
        again = bytes_of(moxbin::encode_cp(value, stack::push_cell()));
    });
    if (again != doc) fail("the image does not decode to what was encoded");
    if (argc == 6) doc = compressed(doc);

    write_file(argv[3], std::string(doc.begin(), doc.end()));
    write_file(argv[4], as_source(doc));
    sys_quit_status(0);
}

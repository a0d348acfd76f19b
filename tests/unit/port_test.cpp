// port! with a native actor (a table of action entries named by a handle!),
// the percent-encoder's targets and limits, and the current directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "core/context.h"
#include "core/error-codes.h"
#include "core/symbol.h"
#include "datatypes/file.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/url.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

// The native actor: length? answers 7, copy a string naming the port's
// host, open and close count their calls; every other entry is empty.
int opened = 0;
int closed = 0;

int32_t native_length(Cell*) { return 7; }
Cell* native_copy(Cell* port, Cell* dest, Cell*, bool, Cell*) {
    const uint32_t host_symbol = symbol::make("host");
    Cell* spec = context::value_ptr(port->data1, port::FIELD_SPEC);
    Cell* host = stack::push(object::find_value(spec->data1, host_symbol));
    Cell* out = string::push_new(8);
    string::concatenate_literal(out, "copy of ");
    string::concatenate(out, host);
    *dest = *out;
    return dest;
}
Cell* native_open(Cell* port, bool, bool, bool, bool, Cell*) {
    opened++;
    return port;
}
Cell* native_close(Cell* port) {
    closed++;
    return port;
}

port::NativeActor native_table() {
    port::NativeActor t{};
    t[A_LENGTH_Q - A_APPEND] = reinterpret_cast<ActionFn>(&native_length);
    t[A_COPY - A_APPEND] = reinterpret_cast<ActionFn>(&native_copy);
    t[A_OPEN - A_APPEND] = reinterpret_cast<ActionFn>(&native_open);
    t[A_CLOSE - A_APPEND] = reinterpret_cast<ActionFn>(&native_close);
    return t;
}

class PortTest : public RuntimeTest {
  protected:
    // Registers the scheme name with the handle as its actor.
    void register_scheme(const char* name, const Cell& actor) {
        Cell* scheme = eval_text(std::string("s: make system/standard/scheme [name: '") + name +
                                 "] append system/schemes reduce ['" + name + " s] s");
        const uint32_t actor_symbol = symbol::make("actor");
        *object::find_value(scheme->data1, actor_symbol) = actor;
    }
};

TEST_F(PortTest, NativeActorEntriesServeTheActions) {
    static const port::NativeActor table = native_table();
    Cell actor;
    port::make_actor_handle(&actor, port::register_native_actor(&table));
    register_scheme("native", actor);

    Cell* length = eval_text("np: make port! [scheme: 'native host: \"box\"] length? np");
    EXPECT_EQ(molded(length), "7");
    EXPECT_EQ(molded(eval_text("copy np")), "\"copy of box\"");
    EXPECT_EQ(molded(eval_text("type? np/actor")), "handle!");

    // read goes to the table's own entry, which this actor leaves empty.
    Raised r = raised_by([] { eval_text("read np"); });
    EXPECT_EQ(r.code, static_cast<int>(err::no_port_action));
    EXPECT_EQ(opened, 0);
    for (const char* code : {"pick np 1", "clear np", "insert np 1", "open? np", "write np 1"})
        EXPECT_EQ(raised_by([&] { eval_text(code); }).code, static_cast<int>(err::no_port_action))
            << code;
    eval_text("open np close np close np");
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 2);
}

TEST_F(PortTest, HandlesThatNameNoActorAreRefused) {
    // A handle of another class holds a system value, never a table number;
    // a null-class handle must name a registered table.
    Cell fd, unknown;
    handle::make_cell(&fd, 1, handle::CLASS_FD);
    port::make_actor_handle(&unknown, 999999);
    register_scheme("fd-actor", fd);
    register_scheme("unknown-actor", unknown);
    for (const char* code :
         {"length? make port! [scheme: 'fd-actor]", "length? make port! [scheme: 'unknown-actor]",
          "copy make port! [scheme: 'unknown-actor]"})
        EXPECT_EQ(raised_by([&] { eval_text(code); }).code, static_cast<int>(err::no_port_action))
            << code;
}

TEST_F(PortTest, EncoderAppendsToWideTargetsAndStopsAtTheLimit) {
    Cell* source = string::push_new(0);
    const char* text = "a b\xC3\xA9/\xE2\x82\xAC";
    string::append_utf8(source, text, std::strlen(text));
    struct Row {
        int32_t mode;
        int32_t limit;
        const char* expected;
    };
    const Row rows[] = {
        {url::ENCODE_STRICT, INT32_MAX, "a%20b%C3%A9%2F%E2%82%AC"},
        {url::ENCODE_URL, INT32_MAX, "a%20b%C3%A9/%E2%82%AC"},
        // An escape begun below the limit is written whole.
        {url::ENCODE_URL, 2, "a%20"},
        {url::ENCODE_URL, 5, "a%20b"},
        {url::ENCODE_URL, 6, "a%20b%C3"},
        {url::ENCODE_URL, 0, ""},
    };
    for (const Row& row : rows) {
        // The target already holds a character above 255, so it is wide.
        Cell* target = string::push_new(0);
        string::append_utf8(target, "\xE2\x82\xAC", 3);
        const int32_t n = url::encode(source, target, row.mode, row.limit);
        EXPECT_EQ(utf8_of(target), std::string("\xE2\x82\xAC") + row.expected) << row.limit;
        EXPECT_EQ(n, static_cast<int32_t>(std::strlen(row.expected))) << row.limit;
    }
}

TEST_F(PortTest, CurrentDirectoryEndsInTheSeparator) {
    Cell* dir = file::get_current_dir(stack::push_cell());
    std::string expected = std::filesystem::current_path().string();
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (expected.empty() || expected.back() != separator) expected += separator;
    EXPECT_EQ(utf8_of(dir), expected);
}

} // namespace
} // namespace mox::test

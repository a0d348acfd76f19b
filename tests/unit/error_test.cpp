// error!: making errors from codes, blocks and strings, the catalogue's
// agreement with the C++ codes, the report text of every kind of message,
// mold, comparison, the where and stack fields, and the report shown where
// nothing may unwind.
#include "datatypes/error.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/dyn-print.h"
#include "core/symbol.h"
#include "core/words.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

// The catalogue source as the boot source has it.
std::string catalogue_source() {
    std::ifstream in(std::string(MOX_SOURCE_DIR) + "/library/boot/errors.mox");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Cell* global_value(const char* name) {
    Cell w = *word::load(name);
    return context::symbol_value(context::global, w.data2);
}

void set_global(const char* name, const Cell* value) {
    Cell w = *word::load(name);
    context::put(context::global, &w, value);
}

// Builds the values of a loaded block as the boot source's evaluation
// would for the catalogue's plain shape: "make object! [...]" becomes the
// object (fields taken without evaluation), a lit-word its word. Pushes the
// new block.
Cell* build_objects(Cell* blk) {
    Cell* out = block::push_only_star(8);
    const uint32_t total = block::abs_length(blk);
    for (uint32_t i = blk->data1; i < total; i++) {
        Cell* saved = stack::top;
        Cell* item = stack::push(block::ms_abs_at(blk, i));
        if (type_of(item) == TYPE_WORD && i + 2 < total &&
            symbol::resolve(item->data2) == symbol::resolve(symbol::make("make"))) {
            Cell* spec = stack::push(block::ms_abs_at(blk, i + 2));
            Cell* built = build_objects(spec);
            *item = *object::make_from_spec(built, nullptr, false);
            i += 2;
        } else if (type_of(item) == TYPE_LIT_WORD) {
            set_type(item, TYPE_WORD);
        }
        block::ms_append(out, item);
        stack::top = saved;
    }
    return out;
}

// A system object with the catalogue and the standard error of the boot
// source, for test binaries that run without the boot source.
void install_catalogue() {
    if (Cell* s = global_value("system"); s && type_of(s) == TYPE_OBJECT) return;
    Cell* saved = stack::top;
    Cell* file = load_block(catalogue_source());
    // system/catalog/errors: make object! [...] system/standard/error: make object! [...]
    Cell* catalogue_spec = stack::push(block::ms_abs_at(file, 3));
    Cell* standard_spec = stack::push(block::ms_abs_at(file, 7));
    Cell* catalogue =
        stack::push(object::make_from_spec(build_objects(catalogue_spec), nullptr, false));
    Cell* standard = stack::push(object::make_from_spec(standard_spec, nullptr, false));
    Cell* spec = load_block("catalog: standard: state: _");
    Cell* system = stack::push(object::make_from_spec(spec, nullptr, false));
    Cell* catalog = stack::push(object::make_from_spec(load_block("errors: _"), nullptr, false));
    context::put(catalog->data1, word::load("errors"), catalogue);
    Cell* std_obj = stack::push(object::make_from_spec(load_block("error: _"), nullptr, false));
    context::put(std_obj->data1, word::load("error"), standard);
    Cell* state = stack::push(
        object::make_from_spec(load_block("stack-trace: source-files: _"), nullptr, false));
    Cell one;
    make_integer(&one, 1);
    context::put(state->data1, word::load("stack-trace"), &one);
    context::put(state->data1, word::load("source-files"), block::push_only_star(1));
    context::put(system->data1, word::load("catalog"), catalog);
    context::put(system->data1, word::load("standard"), std_obj);
    context::put(system->data1, word::load("state"), state);
    set_global("system", system);
    stack::top = saved;
}

Cell* state_field(const char* name) {
    Cell* state = object::find_value(global_value("system")->data1, symbol::make("state"));
    return object::find_value(state->data1, symbol::make(name));
}

class ErrorTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        boot();
        install_catalogue();
    }
    void SetUp() override {
        RuntimeTest::SetUp();
        make_integer(state_field("stack-trace"), 1);
    }
    static Cell* word_cell(const char* name) { return stack::push(word::load(name)); }
    static Cell* text_cell(const std::string& text) {
        return string::load(reinterpret_cast<const uint8_t*>(text.data()),
                            static_cast<uint32_t>(text.size()), string::ENCODING_UTF8);
    }
    static Cell* make_error(Cell* spec) {
        Cell* proto = make_datatype(stack::push_cell(), TYPE_ERROR);
        return stack::push(error::make(proto, spec, TYPE_ERROR));
    }
    static Cell* make_error(const std::string& spec) { return make_error(load_block(spec)); }
    static std::string type_and_id(Cell* e) {
        return formed(error::field(e, error::FIELD_TYPE)) + "/" +
               formed(error::field(e, error::FIELD_ID));
    }
};

TEST_F(ErrorTest, CatalogueAgreesWithTheCodes) {
    Cell* errors = object::find_value(
        object::find_value(global_value("system")->data1, symbol::make("catalog"))->data1,
        symbol::make("errors"));
    ASSERT_EQ(type_of(errors), TYPE_OBJECT);
    ASSERT_EQ(object::field_count(errors->data1), 10);
    std::vector<std::string> seen;
    for (int32_t c = 0; c < 10; c++) {
        Cell* cat = context::value_ptr(errors->data1, c);
        ASSERT_EQ(type_of(cat), TYPE_OBJECT);
        EXPECT_EQ(get_integer(object::find_value(cat->data1, symbol::make("code"))), c * 100);
        for (int32_t i = 2; i < object::field_count(cat->data1); i++) {
            Cell w = *object::get_word(cat->data1, i);
            seen.push_back(std::to_string(c * 100 + i - 2) + " " + symbol::name_utf8(w.data2));
        }
    }
    std::vector<std::string> codes;
    auto spell = [](std::string s) {
        if (s.back() == '_') s.pop_back();
        for (char& ch : s)
            if (ch == '_') ch = '-';
        return s;
    };
#define MOX_TEST_CODE(name, code) codes.push_back(std::to_string(code) + " " + spell(#name));
    MOX_ERROR_CODES(MOX_TEST_CODE)
#undef MOX_TEST_CODE
    EXPECT_EQ(seen, codes);
}

TEST_F(ErrorTest, MakeFromCodes) {
    struct Case {
        int32_t code;
        const char* type_id; // null: out-of-range
    } cases[] = {
        {300, "script/no-value"}, {0, "throw/break"},
        {402, "math/positive"},   {913, "internal/deprecated"},
        {800, "user/message"},    {-1, nullptr},
        {1000, nullptr},          {394, nullptr},
        {600, nullptr},
    };
    for (const Case& c : cases) {
        Cell* spec = make_integer(stack::push_cell(), c.code);
        Raised r = raised_by([&] {
            Cell* e = make_error(spec);
            EXPECT_EQ(error::code_of(e), c.code);
            EXPECT_EQ(type_and_id(e), c.type_id);
        });
        EXPECT_EQ(r.code, c.type_id ? -1 : static_cast<int>(err::out_of_range)) << c.code;
    }
}

TEST_F(ErrorTest, MakeFromBlocks) {
    struct Case {
        const char* spec;
        int expected; // the error raised, or the code made
        const char* arg1;
    } cases[] = {
        {"script no-value", 300, nullptr},
        {"Math Overflow extra", 401, nullptr},
        {"nothing no-value", err::invalid_spec_field, "type"},
        {"script", err::invalid_spec_field, "id"},
        {"script 3", err::invalid_arg, "3"},
        {"script nonesuch", err::invalid_spec_field, "id"},
        {"1 2", err::invalid_error, "none"},
        {"", err::invalid_error, "none"},
        {"type: 'access id: 'cannot-open arg1: 5", 500, "5"},
        {"type: 'access id: 'nonesuch", err::invalid_spec_field, "id"},
    };
    for (const Case& c : cases) {
        Cell* spec = load_block(c.spec);
        Cell* made = stack::push_cell();
        Raised r = raised_by([&] { *made = *make_error(spec); });
        if (r.code < 0) {
            EXPECT_EQ(error::code_of(made), c.expected) << c.spec;
            if (c.arg1) {
                EXPECT_EQ(molded(error::field(made, error::FIELD_ARG1)), c.arg1);
            }
        } else {
            EXPECT_EQ(r.code, c.expected) << c.spec;
            if (c.arg1) {
                EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), c.arg1);
            }
        }
    }
    Cell i;
    make_float(&i, 1.5);
    Raised r = raised_by([&] { make_error(&i); });
    ASSERT_EQ(r.code, err::bad_make_arg);
    EXPECT_EQ(molded(error::field(r.error, error::FIELD_ARG1)), "error!");
}

TEST_F(ErrorTest, ReportsOfEveryMessageShape) {
    struct Case {
        err::Code code;
        std::vector<std::string> args; // loaded values; "" leaves the argument out
        std::string report;
    } cases[] = {
        {err::no_value, {"x"}, "*** Script Error: x has no value"},
        {err::zero_divide, {}, "*** Math Error: attempt to divide by zero"},
        {err::expect_arg,
         {"append", "integer!", "series"},
         "*** Script Error: append does not allow integer! for its series argument"},
        {err::invalid_arg, {"\"x y\""}, "*** Script Error: invalid argument: \"x y\""},
        {err::invalid,
         {"\"integer\"", "\"value\"", "\"1a\""},
         "*** Syntax Error: integer invalid value at 1a"},
        {err::bad_path, {"foo"}, "*** Internal Error: bad path: foo"},
        {err::no_connect, {"[a b]"}, "*** Access Error: cannot connect: [a b] reason: timeout"},
        {err::parse_infinite, {"x"}, "*** Script Error: PARSE - infinite recursion at rule: [ x ]"},
        {err::message, {"\"plain text\""}, "*** User Error: plain text"},
        {err::no_load, {"\"f\""}, "*** note: cannot load:  \"f\""},
        {err::throw_, {"5"}, "*** Throw Error: no catch for throw: 5"},
    };
    for (const Case& c : cases) {
        Cell* saved = stack::top;
        Cell* args[3] = {nullptr, nullptr, nullptr};
        for (size_t i = 0; i < c.args.size(); i++) {
            Cell* blk = load_block(c.args[i]);
            args[i] = stack::push(block::ms_abs_at(blk, 0));
        }
        Cell* e = error::create(c.code, args[0], args[1], args[2]);
        EXPECT_EQ(formed(e), c.report + "\n*** Where: ???\n*** Near : none") << c.code;
        stack::top = saved;
    }
}

TEST_F(ErrorTest, WhereNearStackAndFilesLines) {
    Cell* x = word_cell("x");
    Cell* e = error::create(err::no_value, x, nullptr, nullptr);
    error::set_where(e, word_cell("print"));
    error::set_where(e, word_cell("other")); // only the first one sticks
    Cell* near = load_block("print x + \"a long string that goes past forty characters\"");
    *error::field(e, error::FIELD_NEAR) = *near;
    EXPECT_EQ(formed(e), "*** Script Error: x has no value\n*** Where: print\n"
                         "*** Near : print x + \"a long string that goes past ");
    *error::field(e, error::FIELD_STACK) = *load_block("f g");
    *error::field(e, error::FIELD_FILES) = *load_block("\"a.mox\" \"b.mox\"");
    EXPECT_EQ(formed(e), "*** Script Error: x has no value\n*** Where: print\n"
                         "*** Near : print x + \"a long string that goes past \n"
                         "*** Stack: f g\n*** Files: \"a.mox\" \"b.mox\"");
    make_integer(state_field("stack-trace"), 0);
    EXPECT_EQ(formed(e), "*** Script Error: x has no value\n*** Where: print\n"
                         "*** Near : print x + \"a long string that goes past \n"
                         "*** Files: \"a.mox\" \"b.mox\"");
    *error::field(e, error::FIELD_WHERE) = *text_cell("in a handler");
    EXPECT_NE(formed(e).find("*** Where: in a handler\n"), std::string::npos);
}

TEST_F(ErrorTest, ArgumentsAreCutAt80Characters) {
    std::string long_text(100, 'y');
    Cell* arg = text_cell(long_text);
    Cell* e = error::create(err::invalid_arg, arg, nullptr, nullptr);
    std::string report = formed(e);
    EXPECT_EQ(report.substr(0, report.find('\n')),
              "*** Script Error: invalid argument: {" + std::string(79, 'y'));
}

TEST_F(ErrorTest, UnknownTypeOrIdIsReportedAsInvalidError) {
    Cell* e = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    *error::field(e, error::FIELD_TYPE) = *word_cell("bogus");
    EXPECT_EQ(formed(e).substr(0, formed(e).find('\n')),
              "*** Internal Error: invalid error object field value: bogus");
    Cell* f = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    *error::field(f, error::FIELD_ID) = *word_cell("no-such-id");
    EXPECT_EQ(formed(f).substr(0, formed(f).find('\n')),
              "*** Internal Error: invalid error object field value: no-such-id");
}

TEST_F(ErrorTest, MoldShowsTheTenFields) {
    Cell* e = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    EXPECT_EQ(molded(e, false, false, true),
              "make error! [code: 300 type: 'script id: 'no-value arg1: 'x arg2: none arg3: none "
              "near: none where: none stack: none files: none]");
    std::string lines = molded(e);
    EXPECT_EQ(lines.substr(0, 28), "make error! [\n    code: 300\n");
    EXPECT_EQ(lines.substr(lines.size() - 17), "    files: none\n]");
}

TEST_F(ErrorTest, CompareAsObjects) {
    Cell* a = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    Cell* b = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    Cell* c = error::create(err::no_value, word_cell("y"), nullptr, nullptr);
    EXPECT_EQ(error::compare(a, b, COMP_EQUAL), 0);
    EXPECT_NE(error::compare(a, c, COMP_EQUAL), 0);
    EXPECT_EQ(error::compare(a, b, COMP_SAME), -1);
    Cell o = *a;
    set_type(&o, TYPE_OBJECT);
    EXPECT_EQ(error::compare(a, &o, COMP_EQUAL), COMPARE_NOT_COMPARABLE);
}

TEST_F(ErrorTest, PathsReadFieldsLikeObjects) {
    Cell* e = error::create(err::zero_divide, nullptr, nullptr, nullptr);
    Cell* path = load_block("id");
    Cell* el = stack::push(block::ms_abs_at(path, 0));
    Cell* id =
        actions::eval_path(e, el, nullptr, path, nullptr, nullptr, 1, false, false, true, true);
    EXPECT_EQ(formed(id), "zero-divide");
}

TEST_F(ErrorTest, CaptureStackNamesTheActiveCalls) {
    make_integer(state_field("stack-trace"), 2);
    Cell* alpha = word_cell("alpha-call");
    Cell* beta = word_cell("beta-call");
    stack::mark_native(alpha);
    stack::mark_native(beta);
    Cell* e = error::create(err::zero_divide, nullptr, nullptr, nullptr);
    error::save_stack(e);
    error::capture_stack(e);
    std::string calls = molded(error::field(e, error::FIELD_STACK));
    EXPECT_EQ(calls.substr(calls.size() - 21), "alpha-call beta-call]");
    EXPECT_EQ(type_of(error::field(e, error::FIELD_FILES)), TYPE_NONE);
}

std::string printed;
void record_print(Cell* text, bool new_line) {
    printed += utf8_of(text);
    if (new_line) printed += "\n";
}
void ignore_write(const char*, size_t, int) {}

TEST_F(ErrorTest, ReportErrorPrintsWithoutUnwinding) {
    printed.clear();
    dyn_print::add(&record_print, &ignore_write);
    Cell* top = stack::top;
    error::report_error(err::zero_divide, nullptr, nullptr, nullptr);
    dyn_print::remove(&record_print, &ignore_write);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(printed.substr(0, 41), "*** Math Error: attempt to divide by zero");
}

TEST_F(ErrorTest, BuiltInReportWithoutTheCatalogue) {
    Cell saved = *global_value("system");
    collector::Root keep(&saved);
    Cell none;
    make_none(&none);
    set_global("system", &none);
    Cell* e = error::create(err::no_value, word_cell("x"), nullptr, nullptr);
    std::string report = formed(e);
    set_global("system", &saved);
    EXPECT_EQ(report, "*** Script Error: no-value x\n*** Where: ???\n*** Near : none");
}

} // namespace
} // namespace mox::test

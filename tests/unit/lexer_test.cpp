// The lexer: every literal kind loads, molds and loads back to an equal
// value; malformed text gives the syntax error its kind names; line numbers,
// new-line markers and the trace events a console relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/money.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

class LexerTest : public RuntimeTest {};

// The scan mode's answer for an unclosed series.
constexpr int32_t ERR_MISSING_KIND = -3;

// What a failed load raised: the code and the molds of its arguments
// (code -1 when nothing was raised).
struct Raised {
    int code = -1;
    std::string arg1, arg2, arg3;
};

// A string! of UTF-8 text on the stack. May collect.
Cell* push_utf8(const std::string& text) {
    Cell* s = string::push_new(static_cast<uint32_t>(text.size()) + 1);
    string::append_utf8(s, text.data(), text.size());
    return s;
}

Raised load_error(const std::string& text) {
    Raised r;
    stack::protect(
        stack::Guard::errors, [&] { load(text); },
        [&](uint32_t exit) {
            Cell* e = stack::top - 1;
            r.code = exit == stack::EXIT_ERROR ? error::code_of(e) : -2;
            if (r.code >= 0) {
                r.arg1 = mold(error::field(e, error::FIELD_ARG1));
                r.arg2 = mold(error::field(e, error::FIELD_ARG2));
                r.arg3 = mold(error::field(e, error::FIELD_ARG3));
            }
        });
    return r;
}

// The mold of the loaded block without its brackets.
std::string reload_mold(const std::string& text) {
    Cell* saved = stack::top;
    Cell* blk = load(text);
    Cell* buffer = string::push_new(16);
    actions::mold(blk, buffer, true, false, false, nullptr, INT32_MAX, 0);
    std::string out = utf8_of(buffer);
    stack::top = saved;
    return out;
}

TEST_F(LexerTest, CommonTokensLoad) {
    struct Case {
        const char* text;
        uint32_t type;
        const char* molded;
    };
    const Case cases[] = {
        {"abc", TYPE_WORD, "abc"},         {"abc:", TYPE_SET_WORD, "abc:"},
        {":abc", TYPE_GET_WORD, ":abc"},   {"'abc", TYPE_LIT_WORD, "'abc"},
        {"/abc", TYPE_REFINEMENT, "/abc"}, {"#abc", TYPE_ISSUE, "#abc"},
        {"123", TYPE_INTEGER, "123"},      {"-42", TYPE_INTEGER, "-42"},
        {"1.5", TYPE_FLOAT, "1.5"},        {"\"a^/b\"", TYPE_STRING, "\"a^/b\""},
        {"#\"x\"", TYPE_CHAR, "#\"x\""},   {"[a [b] c]", TYPE_BLOCK, "[a [b] c]"},
        {"(1 2)", TYPE_PAREN, "(1 2)"},    {"a/b/c", TYPE_PATH, "a/b/c"},
        {"a/b:", TYPE_SET_PATH, "a/b:"},   {":a/b", TYPE_GET_PATH, ":a/b"},
        {"'a/b", TYPE_LIT_PATH, "'a/b"},   {"{a{b}c}", TYPE_STRING, "\"a{b}c\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Cell* saved = stack::top;
        EXPECT_MOX_OK({
            Cell* blk = load(c.text);
            ASSERT_EQ(block::rs_length_q(blk), 1);
            Cell* v = block::ms_head(blk);
            EXPECT_EQ(type_of(v), c.type);
            EXPECT_EQ(mold(v), c.molded);
        });
        stack::top = saved;
    }
}

// load mold x = x, and the mold each literal settles on.
TEST_F(LexerTest, RoundTripEveryLiteralKind) {
    struct Case {
        const char* text;
        const char* molded; // nullptr: the text itself
    };
    const Case cases[] = {
        // words of every kind
        {"a-b", nullptr},
        {"set-it:", nullptr},
        {":get-it", nullptr},
        {"'lit-it", nullptr},
        {"/refine", nullptr},
        {"#issue", nullptr},
        {"+", nullptr},
        {"-", nullptr},
        {"<", nullptr},
        {"<=", nullptr},
        {">", nullptr},
        {"<>", nullptr},
        {"/", nullptr},
        {"//", nullptr},
        {"%", nullptr},
        {"=", nullptr},
        {"==", nullptr},
        {"ffh", nullptr},
        {"=:", nullptr},
        {"<:", nullptr},
        {"<>:", nullptr},
        {"//:", nullptr},
        {"+:", nullptr},
        {"héllo", nullptr},
        {"日本", nullptr},
        {"a?", nullptr},
        {"b!", nullptr},
        {"@ref", nullptr},
        {"@user/name", nullptr},
        // integers
        {"0", nullptr},
        {"-2147483648", nullptr},
        {"2147483647", nullptr},
        {"1'000'000", "1000000"},
        {"+7", "7"},
        {"FFh", "255"},
        {"0FFh", "255"},
        {"FFFFFFFFh", "-1"},
        {"7FFFFFFFh", "2147483647"},
        {"2147483648", "2147483648.0"},
        {"12345678901", "12345678901.0"},
        // floats
        {"1.5", nullptr},
        {"-0.25", nullptr},
        {".5", "0.5"},
        {"1e3", "1000.0"},
        {"-1.5e3", "-1500.0"},
        {"1.0e-10", nullptr},
        {"1'000.5", "1000.5"},
        {"1.#INF", nullptr},
        {"-1.#INF", nullptr},
        {"1.#inf", "1.#INF"},
        // strings and chars
        {"\"\"", nullptr},
        {"\"a^\"b\"", nullptr},
        {"\"tab^-x\"", nullptr},
        {"\"a^(41)^/b\"", "\"aA^/b\""},
        {"\"^(tab)^(line)\"", "\"^-^/\""},
        {"\"é日😀\"", nullptr},
        {"{multi\nline}", nullptr},
        {"{a{b}c}", "\"a{b}c\""},
        {"{a^}b}", nullptr},
        {"%{raw ^ text}%", "\"raw ^^ text\""},
        {"%%{a}% b}%%", nullptr},
        {"#\"a\"", nullptr},
        {"#\"^/\"", nullptr},
        {"#\"^(1F600)\"", "#\"😀\""},
        {"#\"é\"", nullptr},
        {"#\"^@\"", nullptr},
        // paths
        {"a/b", nullptr},
        {"a/1/c", nullptr},
        {"a/b:", nullptr},
        {":a/b", nullptr},
        {"'a/b", nullptr},
        {"a/(b)/c", nullptr},
        {"a/\"s\"", nullptr},
        {"a/:b", nullptr},
        // blocks
        {"[]", nullptr},
        {"[a [b (c)] d]", nullptr},
        {"()", nullptr},
        // extended scalars
        {"50%", nullptr},
        {"2.5%", nullptr},
        {"10x20", nullptr},
        {"-1x-2", nullptr},
        {"1.2.3", nullptr},
        {"192.168.0.1", nullptr},
        {"1.2.3.4.5.6.7.8.9.10.11.12", nullptr},
        {"$1.50", nullptr},
        {"-$2.00", nullptr},
        {"USD$1'000.00", nullptr},
        {"EUR$0.01", nullptr},
        {"10:20", nullptr},
        {"-1:30:15.5", nullptr},
        {"0:00:01", nullptr},
        {"100:00", nullptr},
        {"(1, 2)", nullptr},
        {"(1.5, -2, 3)", nullptr},
        // dates
        {"1-Jan-2020", nullptr},
        {"2020-01-15", nullptr},
        {"15/03/2021", nullptr},
        {"1-Feb-03", nullptr},
        {"29-Feb-2000", nullptr},
        {"1-Jan-2020/10:20", nullptr},
        {"1-Jan-2020/10:20:30+2:00", nullptr},
        {"1-Jan-2020/10:20-5:30", nullptr},
        {"2020-12-31T23:59:59Z", nullptr},
        {"20200115T1020", nullptr},
        {"2020-032", nullptr},
        {"2020-W10", nullptr},
        {"2020-W10-3", nullptr},
        {"1/January/2020", nullptr},
        // string-like
        {"%file.txt", nullptr},
        {"%dir/sub/", nullptr},
        {"%\"with space.txt\"", nullptr},
        {"%a%20b", nullptr},
        {"http://example.com/a?b=1", nullptr},
        {"mailto:x@y.z", nullptr},
        {"ftp://h/%C3%A9", nullptr},
        {"user@example.com", nullptr},
        {"<tag>", nullptr},
        {"<a href=\"x>y\">", nullptr},
        {"</close>", nullptr},
        // binaries and maps
        {"#{}", nullptr},
        {"#{0102FF}", nullptr},
        {"16#{0a0B}", nullptr},
        {"2#{00000001 00000010}", nullptr},
        {"64#{AQID}", nullptr},
        {"64#{AQI=}", nullptr},
        {"#[a 1 b 2]", nullptr},
        {"#[]", nullptr},
        {"#[\"k\" [1 2]]", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Cell* saved = stack::top;
        EXPECT_MOX_OK({
            Cell* first = load(c.text);
            ASSERT_EQ(block::rs_length_q(first), 1);
            std::string text = mold(block::ms_head(first));
            if (c.molded) {
                EXPECT_EQ(text, c.molded);
            }
            Cell* second = load(text);
            ASSERT_EQ(block::rs_length_q(second), 1);
            EXPECT_TRUE(actions::compare_star(block::ms_head(first), block::ms_head(second),
                                              COMP_STRICT_EQUAL))
                << "reloaded: " << text;
        });
        stack::top = saved;
    }
}

// The construction syntax, molded back with mold/all.
TEST_F(LexerTest, ConstructionSyntax) {
    struct Case {
        const char* text;
        uint32_t type;
    };
    const Case cases[] = {{"#(none)", TYPE_NONE},         {"#(TRUE)", TYPE_LOGIC},
                          {"#(false)", TYPE_LOGIC},       {"#(unset)", TYPE_UNSET},
                          {"#(integer!)", TYPE_DATATYPE}, {"#(integer)", TYPE_DATATYPE},
                          {"#(Block!)", TYPE_DATATYPE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Cell* saved = stack::top;
        EXPECT_MOX_OK({
            Cell* first = load(c.text);
            ASSERT_EQ(block::rs_length_q(first), 1);
            EXPECT_EQ(type_of(block::ms_head(first)), c.type);
            std::string text = mold(block::ms_head(first), true);
            Cell* second = load(text);
            EXPECT_TRUE(actions::compare_star(block::ms_head(first), block::ms_head(second),
                                              COMP_STRICT_EQUAL))
                << "reloaded: " << text;
        });
        stack::top = saved;
    }
    EXPECT_MOX_ERROR(err::malconstruct, load("#(foo)"));
    EXPECT_MOX_ERROR(err::malconstruct, load("#()"));
    EXPECT_MOX_ERROR(err::malconstruct, load("#(" + std::string(31, 'z') + ")"));
}

// Malformed text: the error id and, for invalid, the datatype it names.
TEST_F(LexerTest, MalformedTextRaisesItsSyntaxError) {
    struct Case {
        const char* text;
        int code;
        const char* arg2; // the datatype or expected character; nullptr: not checked
    };
    const Case cases[] = {
        {"[a [b] c", err::missing, "#\"]\""},
        {"a]", err::missing, "#\"[\""},
        {"(a", err::missing, "#\")\""},
        {"a)", err::missing, "#\"(\""},
        {"[a)", err::missing, "#\"(\""},
        {"{abc", err::missing, "#\"}\""},
        {"{a{b}", err::missing, "#\"}\""},
        {"a/b:/c", err::invalid, "path!"},
        {"#[a 1 b]", err::invalid, "map!"},
        {"#[[a] 1]", err::invalid, "map!"},
        {"1''000", err::invalid, "integer!"},
        {"1'", err::invalid, "integer!"},
        {"123456789h", err::invalid, "integer!"},
        {"0ffh", err::invalid, "integer!"},
        {"Eh", err::invalid, "word!"},
        {"\"a^(zz)\"", err::invalid, "string!"},
        {"\"a^(110000)\"", err::invalid, "string!"},
        {"\"a^(1234567)\"", err::invalid, "string!"},
        {"\"abc", err::invalid, "string!"},
        {"\"a\nb\"", err::invalid, "string!"},
        {"#\"ab\"", err::invalid, "char!"},
        {"#\"\"", err::invalid, "char!"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", err::invalid, "tuple!"},
        {"1.2.256", err::invalid, "tuple!"},
        {"1..2", err::invalid, "float!"},
        {"1.2..3", err::invalid, "tuple!"},
        {"29-Feb-2001", err::invalid, "date!"},
        {"31-Apr-2020", err::invalid, "date!"},
        {"1-Foo-2020", err::invalid, "date!"},
        {"1-Jan-2020/24:00", err::invalid, "date!"},
        {"1-Jan-2020/10:00+16:00", err::invalid, "date!"},
        {"%{a}%%", err::invalid, "string!"},
        {"%%{a}%", err::invalid, "string!"},
        {"'word:", err::invalid, "lit-word!"},
        {"#", err::invalid, "issue!"},
        {"$1.", err::invalid, "money!"},
        {"XYZ$1", err::invalid, "money!"},
        {"$1''0", err::invalid, "money!"},
        {"10:", err::invalid, "time!"},
        {"10:20:", err::invalid, "time!"},
        {"1x2.5", err::invalid, "pair!"},
        {"(1, 2", err::invalid, "point2D!"},
        {"(1, 2, 3, 4)", err::invalid, "point3D!"},
        {"[a , b]", err::invalid, "point2D!"},
        {"1e", err::invalid, "float!"},
        {"1.#FOO", err::invalid, "float!"},
        {"1'%", err::invalid, "float!"},
        {"2#{0101}", err::invalid, "binary!"},
        {"16#{0G}", err::invalid, "binary!"},
        {"#{\xc3\x81\xc3\x81}", err::invalid, "binary!"},
        {"64#{A}", err::invalid, "binary!"},
        {"3#{00}", err::invalid, "binary!"},
        {"a:b:c/", -1, nullptr},
        {"}", err::bad_char, nullptr},
        {"a\x80", err::bad_char, nullptr},
        {"\xff", err::bad_char, nullptr},
        {"\xc0\x80", err::bad_char, nullptr},
        {"abc\xed\xa0\x80", err::bad_char, nullptr},
        {"; \xc3\x28 in a comment", err::bad_char, nullptr},
        {"\"\xf4\x90\x80\x80\"", err::invalid, "string!"},
        {"a/[b]", err::bad_char, nullptr},
        {"a/b[", err::missing, "#\"]\""},
        {"#(foo)", err::malconstruct, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Raised r = load_error(c.text);
        EXPECT_EQ(r.code, c.code);
        if (c.arg2 && r.code >= 0) {
            EXPECT_EQ(r.arg2, c.arg2);
        }
    }
    // A NUL byte inside the text is an error, not an early end.
    std::string nul("a\0b", 3);
    EXPECT_EQ(load_error(nul).code, err::bad_char);
}

// The location names the token's line; the excerpt stops at the line's end,
// at 30 bytes, and never splits a character.
TEST_F(LexerTest, ErrorLocationAndExcerpt) {
    Raised r = load_error("a\nb\n\n1''0 rest\nnext");
    EXPECT_EQ(r.arg1, "\"(line 4)\"");
    EXPECT_EQ(r.arg3, "\"1''0 rest\"");
    r = load_error("[\n\na b");
    EXPECT_EQ(r.code, err::missing);
    EXPECT_EQ(r.arg3, "\"[\"");
    std::string long_text = "\"" + std::string(27, 'x') + "日本";
    r = load_error(long_text);
    EXPECT_EQ(r.code, err::invalid);
    EXPECT_EQ(r.arg3, "{\"" + std::string(27, 'x') + "}");
    r = load_error("x \"\xc3\xa9\x80");
    EXPECT_EQ(r.code, err::invalid);
}

// Line feeds before a value give it the new-line marker; molding keeps the
// line breaks.
TEST_F(LexerTest, NewLineMarkers) {
    const std::pair<const char*, const char*> cases[] = {
        {"a b", "a b"},
        {"a\nb c", "a\nb c"},
        {"[\n    a\n    b\n]", "[\n    a\n    b\n]"},
        {"a ; note\n b", "a\nb"},
        {"a {x\ny} b", "a \"x^/y\" b"},
        {"a\r\nb", "a\nb"},
    };
    for (const auto& [text, molded] : cases) {
        SCOPED_TRACE(text);
        Cell* saved = stack::top;
        EXPECT_MOX_OK(EXPECT_EQ(reload_mold(text), molded));
        stack::top = saved;
    }
}

// to and make of text: the number scanners and the word check.
TEST_F(LexerTest, NumbersFromText) {
    struct IntCase {
        const char* text;
        int32_t value;
        int32_t failure;
    };
    const IntCase ints[] = {
        {"1'000", 1000, 0},
        {"-2147483648", INT32_MIN, 0},
        {"2147483647", INT32_MAX, 0},
        {"+12", 12, 0},
        {"12a", 0, -1},
        {"99999999999", 0, -2},
        {"2147483648", 0, -2},
        {"-2147483649", 0, -2},
        {"", 0, -1},
        {"-", 0, -1},
        {"1 2", 0, -1},
    };
    for (const IntCase& c : ints) {
        SCOPED_TRACE(c.text);
        int32_t failure = 7;
        int32_t v = lexer::scan_integer(reinterpret_cast<const uint8_t*>(c.text),
                                        static_cast<int32_t>(std::strlen(c.text)), 1, &failure);
        EXPECT_EQ(failure, c.failure);
        if (!c.failure) {
            EXPECT_EQ(v, c.value);
        }
    }
    // Wider units read the same: "1'5" in UCS-2 and UCS-4.
    const uint16_t wide2[] = {'1', '\'', '5'};
    const uint32_t wide4[] = {'-', '4', '2'};
    int32_t failure = 0;
    EXPECT_EQ(lexer::scan_integer(reinterpret_cast<const uint8_t*>(wide2), 3, 2, &failure), 15);
    EXPECT_EQ(lexer::scan_integer(reinterpret_cast<const uint8_t*>(wide4), 3, 4, &failure), -42);
    const uint16_t wide_bad[] = {'1', 0x0661}; // an Arabic-Indic digit is not a digit here
    lexer::scan_integer(reinterpret_cast<const uint8_t*>(wide_bad), 2, 2, &failure);
    EXPECT_EQ(failure, -1);

    struct FloatCase {
        const char* text;
        double value; // NaN: fails
    };
    const FloatCase floats[] = {
        {"1,5", 1.5},        {"1'000.5", 1000.5}, {"-2.5e-3", -2.5e-3}, {".5", 0.5},
        {"1e400", HUGE_VAL}, {"1''0", NAN},       {"1.5x", NAN},        {"", NAN},
        {"e5", NAN},         {"1.2.3", NAN},      {"0.1", 0.1},
    };
    for (const FloatCase& c : floats) {
        SCOPED_TRACE(c.text);
        int32_t f = 0;
        double v = lexer::scan_float(reinterpret_cast<const uint8_t*>(c.text),
                                     static_cast<int32_t>(std::strlen(c.text)), 1, &f);
        if (std::isnan(c.value)) {
            EXPECT_EQ(f, -1);
            EXPECT_TRUE(std::isnan(v));
        } else {
            EXPECT_EQ(f, 0);
            EXPECT_EQ(v, c.value);
        }
    }
    std::string long_text(313, '1');
    int32_t f = 0;
    lexer::scan_float(reinterpret_cast<const uint8_t*>(long_text.data()), 313, 1, &f);
    EXPECT_EQ(f, -1);

    const std::pair<const char*, bool> money[] = {
        {"USD$1'000.50", true}, {"$1.50", true}, {"1.50", true},   {"-$2", true},
        {"US$1", false},        {"$1.", false},  {"$'1", false},   {"$1''0", false},
        {"$1.0'0", false},      {"$.5", false},  {"XYZ$1", false}, {"$", false},
    };
    for (const auto& [text, ok] : money) {
        SCOPED_TRACE(text);
        Cell target;
        make_none(&target);
        int32_t mf = 0;
        lexer::scan_money(reinterpret_cast<const uint8_t*>(text),
                          static_cast<int32_t>(std::strlen(text)), 1, &mf, &target);
        EXPECT_EQ(mf, ok ? 0 : -1);
        if (ok) {
            EXPECT_EQ(type_of(&target), TYPE_MONEY);
        }
    }
}

// to word! of text: exactly one word, never the first of several.
TEST_F(LexerTest, WordsFromText) {
    auto to_word = [](const char* text, uint32_t type) {
        Cell* spec = push_utf8(text);
        Cell* proto = stack::push_cell();
        make_datatype(proto, type);
        return mold(actions::to(proto, spec));
    };
    EXPECT_EQ(to_word("abc", TYPE_WORD), "abc");
    EXPECT_EQ(to_word("abc:", TYPE_WORD), "abc");
    EXPECT_EQ(to_word("'abc", TYPE_SET_WORD), "abc:");
    EXPECT_EQ(to_word("héllo", TYPE_GET_WORD), ":héllo");
    const char* bad[] = {"two words", "", "1", "a/b", "\"s\"", "[a]", "a]", "a b c"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_MOX_ERROR(err::invalid_chars, to_word(text, TYPE_WORD));
    }
}

// The trace callback: the events that tell a console whether input is
// complete, and steering by the callback's answers.
struct Traced {
    std::string event;
    std::string type;
    int32_t line;
    std::string token;
};
std::vector<Traced>* traced = nullptr;
const char* refuse = nullptr; // the event the hook answers false to

bool record_event(Cell* callback, Cell* args) {
    Traced t;
    t.event = mold(&args[0]);
    t.type = mold(&args[2]);
    t.line = get_integer(&args[3]);
    t.token = mold(&args[4]);
    traced->push_back(t);
    return !refuse || t.event != refuse;
}

// Scans text with the recording hook; returns the events "event type" and
// leaves the result in *out.
std::vector<std::string> trace(const char* text, Cell* out, int* code = nullptr) {
    std::vector<Traced> events;
    traced = &events;
    lexer::InvokeCallback saved = lexer::invoke_callback;
    lexer::invoke_callback = &record_event;
    Cell callback;
    make_integer(&callback, 0);
    int c = run_catching([&] {
        Cell* source = push_utf8(text);
        lexer::scan_string(out, source, -1, false, true, true, true, nullptr, &callback, nullptr);
    });
    if (code) *code = c;
    lexer::invoke_callback = saved;
    traced = nullptr;
    std::vector<std::string> names;
    for (const Traced& t : events)
        if (t.event != "prescan" && t.event != "scan") names.push_back(t.event + " " + t.type);
    return names;
}

TEST_F(LexerTest, TraceEventsForIncompleteInput) {
    using V = std::vector<std::string>;
    Cell* out = stack::push_cell();
    int code = 0;
    EXPECT_EQ(trace("[a (b)]", out), (V{"open block!", "load word!", "open paren!", "load word!",
                                        "close paren!", "close block!"}));
    EXPECT_EQ(trace("[a", out, &code), (V{"open block!", "load word!", "error missing"}));
    EXPECT_EQ(code, err::missing);
    EXPECT_EQ(trace("{abc", out, &code), (V{"open string!", "error missing"}));
    EXPECT_EQ(trace("{a}", out), (V{"open string!", "close string!", "load string!"}));
    EXPECT_EQ(trace("#[a 1", out, &code),
              (V{"open map!", "load word!", "load integer!", "error missing"}));
    EXPECT_EQ(trace("#[a 1]", out), (V{"open map!", "load word!", "load integer!", "close map!"}));
    EXPECT_EQ(trace("\"abc", out, &code), (V{"error string!"}));
    EXPECT_EQ(trace("<tag", out, &code), (V{"error tag!"}));
    EXPECT_EQ(trace("#{01", out, &code), (V{"error binary!"}));
    // A point literal is open until its ")" like a paren.
    EXPECT_EQ(trace("(1, 2", out, &code), (V{"open point2D!", "error point2D!"}));
    EXPECT_EQ(trace("(1, 2)", out), (V{"open point2D!", "close point2D!", "load point2D!"}));
    EXPECT_EQ(trace("a/b", out), (V{"open path!", "load word!"}));
}

TEST_F(LexerTest, TraceCallbackSteersTheScan) {
    Cell* out = stack::push_cell();
    refuse = "load";
    trace("a [b] 1 \"s\"", out);
    refuse = nullptr;
    EXPECT_EQ(mold(out), "[[]]"); // closing a block is no load event
    // A refused error stops the scan quietly with what was loaded so far.
    refuse = "error";
    int code = 0;
    trace("a b ]", out, &code);
    refuse = nullptr;
    EXPECT_EQ(code, -1);
    EXPECT_EQ(mold(out), "[a b]");
    // Line numbers and positions of the events.
    std::vector<Traced> events;
    traced = &events;
    lexer::InvokeCallback saved = lexer::invoke_callback;
    lexer::invoke_callback = &record_event;
    Cell callback;
    make_integer(&callback, 0);
    Cell* source = push_utf8("a\n  bc");
    lexer::scan_string(out, source, -1, false, true, true, true, nullptr, &callback, nullptr);
    lexer::invoke_callback = saved;
    traced = nullptr;
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events[0].event, "prescan");
    EXPECT_EQ(events[0].token, "1x2");
    EXPECT_EQ(events[3].event, "prescan");
    EXPECT_EQ(events[3].line, 2);
    EXPECT_EQ(events[3].token, "5x7");
}

// The one-value, scan and prescan modes stop after the first complete value
// and answer its datatype; a block counts as one value.
TEST_F(LexerTest, ScanModes) {
    struct Case {
        const char* text;
        int32_t load_one;  // consumed bytes in the one-value load mode
        int32_t scan_type; // what the scan mode answers
        int32_t prescan_type;
    };
    const Case cases[] = {
        {"abc def", 3, TYPE_WORD, TYPE_WORD},
        {"[a b] c", 5, TYPE_BLOCK, TYPE_BLOCK},
        {"  12 x", 4, TYPE_INTEGER, TYPE_INTEGER},
        {"a/b/c d", 5, TYPE_PATH, TYPE_PATH},
        {"x: 1", 2, TYPE_SET_WORD, TYPE_SET_WORD},
        {"{a b} c", 5, TYPE_STRING, TYPE_STRING},
        {"1''0 x", -1, -TYPE_INTEGER, TYPE_INTEGER},
        {"[a", -1, ERR_MISSING_KIND, ERR_MISSING_KIND},
        {"", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.text);
        auto n = static_cast<int32_t>(std::strlen(c.text));
        Cell* out = stack::push_cell();
        make_none(out);
        int32_t position = -1;
        int code = run_catching([&] {
            lexer::scan_tokens(out, bytes, n, true, true, true, false, &position, nullptr, nullptr,
                               nullptr);
        });
        if (c.load_one < 0) {
            EXPECT_GE(code, 0);
        } else {
            EXPECT_EQ(code, -1);
            EXPECT_EQ(position, c.load_one);
        }
        EXPECT_EQ(lexer::scan_tokens(nullptr, bytes, n, true, false, false, false, &position,
                                     nullptr, nullptr, nullptr),
                  c.scan_type);
        EXPECT_EQ(lexer::scan_tokens(nullptr, bytes, n, true, true, false, false, &position,
                                     nullptr, nullptr, nullptr, true),
                  c.prescan_type);
    }
    // The one-value mode stores the value itself.
    Cell* out = stack::push_cell();
    int32_t position = 0;
    const char* text = "\"s\" rest";
    lexer::scan_tokens(out, reinterpret_cast<const uint8_t*>(text), 8, true, true, true, false,
                       &position, nullptr, nullptr, nullptr);
    EXPECT_EQ(mold(out), "\"s\"");
    // word/scan-name: one whole token.
    auto name_type = [](const char* name) {
        return lexer::scan_name(reinterpret_cast<const uint8_t*>(name),
                                static_cast<int32_t>(std::strlen(name)));
    };
    EXPECT_EQ(name_type("abc"), TYPE_WORD);
    EXPECT_EQ(name_type("abc:"), TYPE_SET_WORD);
    EXPECT_EQ(name_type("12"), TYPE_INTEGER);
    EXPECT_LT(name_type("two words"), 0);
    EXPECT_LT(name_type("a]"), 0);
}

// Text longer than the scratch buffer's room goes through a temporary
// buffer, and the scratch space is whole again afterwards: a nested scan
// from a callback still fits.
TEST_F(LexerTest, LongTextAndDeepNesting) {
    std::string big = "\"" + std::string(200000, 'x') + "\" [" + std::string(200000, 'y') + "]";
    Cell* source = push_utf8(big);
    Cell* out = stack::push_cell();
    EXPECT_MOX_OK(
        lexer::scan_string(out, source, -1, false, true, true, true, nullptr, nullptr, nullptr));
    ASSERT_EQ(block::rs_length_q(out), 2);
    EXPECT_EQ(string::ms_length_q(block::ms_head(out)), 200000);
    // Nesting costs no native stack: a hundred thousand levels load. With a
    // collection at every allocation each level re-marks all the levels
    // below it, so the stress run checks a shallower nest.
    const size_t levels = collector::stress ? 3000 : 100000;
    std::string deep = std::string(levels, '[') + "x" + std::string(levels, ']');
    EXPECT_MOX_OK({
        Cell* blk = load(deep);
        Cell* inner = blk;
        int depth = 0;
        while (type_of(inner) == TYPE_BLOCK && block::rs_length_q(inner) == 1) {
            inner = block::ms_head(inner);
            depth++;
        }
        EXPECT_EQ(depth, int(levels) + 1);
    });
    EXPECT_EQ(load_error(std::string(100000, '(')).code, err::missing);
}

// Points: the one-token literal, and parens that commas turn into points.
TEST_F(LexerTest, PointsAndCommas) {
    const std::pair<const char*, const char*> cases[] = {
        {"(1, 2)", "(1, 2)"},          {"(1 2)", "(1 2)"},      {"(1,2,3)", "(1, 2, 3)"},
        {"( 1.5 , -2 )", "(1.5, -2)"}, {"(1 + 0, 2)", nullptr},
    };
    for (const auto& [text, molded] : cases) {
        SCOPED_TRACE(text);
        Raised r = load_error(text);
        if (!molded) {
            EXPECT_EQ(r.code, err::invalid);
            continue;
        }
        EXPECT_EQ(r.code, -1);
        Cell* saved = stack::top;
        EXPECT_MOX_OK(EXPECT_EQ(reload_mold(text), molded));
        stack::top = saved;
    }
}

// What loading text gives: the mold of its values, or the error's code.
std::string load_outcome(const std::string& text) {
    Raised r = load_error(text);
    if (r.code != -1) return "error " + std::to_string(r.code);
    Cell* saved = stack::top;
    std::string out = reload_mold(text);
    stack::top = saved;
    return out;
}

// A number ends where any delimiter begins, with the value a space after it
// would give: each number form, in every state its digits leave the machine
// in, before each delimiter, against the same text with a space put before
// the delimiter.
TEST_F(LexerTest, DelimitersEndNumbersAsASpaceDoes) {
    const char* const numbers[] = {
        "1",          "12",       "1'000",
        "-1",         "+1",       "1.5",
        "1.",         ".5",       "-.5",
        "+.5",        "-.0",      "1e5",
        "1E5",        "1E05",     "0E0",
        "1e+5",       "1E-5",     "1.5e3",
        "1.5E3",      ".5e3",     ".5E3",
        ".5e-3",      "+.5E+3",   "1%",
        "1.5%",       ".5%",      "1E5%",
        "$1",         "$1.50",    "-$1",
        "1x2",        "1.5x2.5",  "1E5x2",
        ".5x2",       "1:30",     "1:30:45.5",
        "1-Jan-2000", "1/1/2000", "2000-01-01T10:00",
        "1.2.3",      "1.#INF",   "1.#NaN",
        "0FFh",       "12h",      "1E",
        "1.5e",       "a/1",      "a/1.5",
        "a/1E5",
    };
    // The text before the number and after the delimiter, for delimiters
    // that load only in company.
    const std::pair<const char*, const char*> delimiters[] = {
        {"", ";c"}, {"", "\t"},   {"", "\n"}, {"", "()"}, {"(", ")"}, {"", "[]"},
        {"[", "]"}, {"", "\"\""}, {"", "{}"}, {"", "}"},  {"", ""},   {"", "\x01"},
    };
    for (const char* number : numbers)
        for (const auto& [before, after] : delimiters) {
            std::string text = std::string(before) + number + after;
            SCOPED_TRACE(text);
            EXPECT_EQ(load_outcome(text), load_outcome(std::string(before) + number + " " + after));
        }
}

// Unicode blanks separate words like blanks do.
TEST_F(LexerTest, UnicodeBlanks) {
    Cell* saved = stack::top;
    EXPECT_MOX_OK(EXPECT_EQ(reload_mold("a\u00a0b\u3000c"), "a b c"));
    EXPECT_MOX_OK(EXPECT_EQ(reload_mold("\u2003x\u2003"), "x"));
    EXPECT_MOX_OK(EXPECT_EQ(reload_mold("\u00a0 1"), "1"));
    stack::top = saved;
}

// Number and date literals against Python's float, decimal and datetime.
TEST_F(LexerTest, LiteralsAgainstPythonOracle) {
    std::ifstream in(MOX_LEXER_VECTORS);
    ASSERT_TRUE(in.good()) << MOX_LEXER_VECTORS;
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        size_t tab1 = line.find('\t');
        size_t tab2 = line.find('\t', tab1 + 1);
        ASSERT_NE(tab2, std::string::npos) << line;
        std::string kind = line.substr(0, tab1);
        std::string text = line.substr(tab1 + 1, tab2 - tab1 - 1);
        std::string expected = line.substr(tab2 + 1);
        SCOPED_TRACE(text);
        Cell* saved = stack::top;
        EXPECT_MOX_OK({
            Cell* blk = load(text);
            ASSERT_EQ(block::rs_length_q(blk), 1);
            Cell* v = block::ms_head(blk);
            if (kind == "date") {
                EXPECT_EQ(type_of(v), TYPE_DATE);
                EXPECT_EQ(mold(v), expected);
            } else {
                EXPECT_EQ(type_of(v), kind == "pct" ? TYPE_PERCENT : TYPE_FLOAT);
                uint64_t bits;
                std::memcpy(&bits, &v->data2, sizeof bits);
                char hex[17];
                std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
                EXPECT_EQ(hex, expected);
            }
        });
        stack::top = saved;
        cases++;
    }
    EXPECT_GT(cases, 0);
}

// Values whose mold is a construction (bitset!) load back through
// evaluation; to block! of text runs the lexer.
TEST_F(LexerTest, BitsetsAndToBlock) {
    const uint8_t bytes[] = {0x80, 0x01, 0x00, 0xFF};
    for (bool complement : {false, true}) {
        SCOPED_TRACE(complement);
        Cell* saved = stack::top;
        EXPECT_MOX_OK({
            Cell* set = stack::push_cell();
            bitset::make_from_bytes(set, bytes, sizeof bytes, complement);
            std::string text = mold(set);
            Cell* code = load(text);
            Cell* back = stack::push_cell();
            make_none(back);
            interpreter::do_block(code, back);
            EXPECT_TRUE(actions::compare_star(set, back, COMP_STRICT_EQUAL)) << text;
        });
        stack::top = saved;
    }
    Cell* saved = stack::top;
    EXPECT_MOX_OK({
        Cell* proto = stack::push_cell();
        make_datatype(proto, TYPE_BLOCK);
        Cell* text = push_utf8("a [b] \"c\"");
        EXPECT_EQ(mold(actions::to(proto, text)), "[a [b] \"c\"]");
        make_datatype(proto, TYPE_PAREN);
        EXPECT_EQ(mold(actions::to(proto, text)), "(a [b] \"c\")");
    });
    stack::top = saved;
}

} // namespace
} // namespace mox::test

// mox-run: runs Mox source from files, for tests and benchmarks.
//
//   mox-run FILE            evaluates the source in FILE (no header needed);
//                           an uncaught error prints its report to standard
//                           output and the status is 1, else 0.
//   mox-run --cases FILE... runs case files and ends with the line
//                           "N passed, N failed"; the status is 1 when a
//                           case failed.
//   mox-run [--mox-bodies] --boot-image IMAGE ...
//                           starts from the boot image in the file IMAGE
//                           instead of the embedded one (for tests), then
//                           as above.
//   mox-run --console [--size=WxH] [ARG...]
//                           runs the console engine (system/console/launch)
//                           with ARG... as the command line, lines read from
//                           standard input and echoed; the terminal is WxH
//                           (80x25 by default).
//   mox-run --mox-bodies ...  the same, with every library function running
//                           its Mox body (no native body bound; also
//                           MOX_MOX_BODIES=1).
//
// A case file holds one case a line:
//
//   ; a comment                     (blank lines too)
//   == infix operators              (a group title, shown with failures)
//   [1 + 2 * 3]  "9"                (code, then the mold of its value)
//   [+ 1 2]      #no-op-arg         (code, then the id of the error it raises)
//   [stack-size?] "11" #untraced-path   (skipped under MOX_GENERAL_EVAL=1,
//                                   see run_case)
//
// Each case's code is evaluated in the global context, so a case may use
// what an earlier case of the file defined.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "platform/platform.h"
#include "program/boot.h"
#include "program/startup.h"

using namespace mox;

namespace {

bool read_file(const char* path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return true;
}

void write(const std::string& text) { console::write_cstring(text.c_str()); }

std::string symbol_text(uint32_t symbol) {
    size_t length = 0;
    const char* name = symbol::name_utf8(symbol, &length);
    return std::string(name, length);
}

// What running some code gave: its value's mold, or the id of its error.
struct Outcome {
    bool error;
    std::string text;
};

// Runs fn under a try frame; the stacks are put back afterwards.
template <typename Fn> Outcome guarded(Fn fn) {
    Outcome out{false, ""};
    stack::protect(
        stack::Guard::errors, [&] { out.text = fn(); },
        [&](uint32_t exit) {
            out.error = true;
            if (exit == stack::EXIT_ERROR && type_of(stack::top - 1) == TYPE_ERROR)
                out.text = symbol_text(error::get_id(stack::top - 1));
            else
                out.text = "(non-local exit)";
        });
    stack::pending = 0;
    return out;
}

// Runs top-level code under a try frame; an exit that reaches it is
// reported. 1 when one did, else 0. May collect.
template <typename Fn> int run_top_level(Fn fn) {
    Cell* saved_top = stack::top;
    uint32_t exit = stack::protect(stack::Guard::errors, fn, [&](uint32_t code) {
        // The error is left on top of the cells of the calls it ended, which
        // may fill the stack (a runaway recursion): the report is built from
        // the bottom.
        Cell error = *(stack::top - 1);
        stack::top = saved_top;
        if (code == stack::EXIT_ERROR)
            error::write_report(&error);
        else
            write("*** non-local exit outside its handler\n");
    });
    return exit ? 1 : 0;
}

// Loads UTF-8 text into a block cell on the stack. May collect.
Cell* load_text(const std::string& text) {
    Cell* code = stack::push_cell();
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                     static_cast<int32_t>(text.size()), code);
    return code;
}

// ---------------------------------------------------------------------------
// Running a script
// ---------------------------------------------------------------------------

int run_script(const char* path) {
    std::string text;
    if (!read_file(path, &text)) {
        write(std::string("*** cannot read ") + path + "\n");
        return 1;
    }
    return run_top_level([&] {
        Cell* code = load_text(text);
        Cell result = {TYPE_UNSET, 0, 0, 0};
        collector::Root keep(&result);
        interpreter::do_block(code, &result);
    });
}

// ---------------------------------------------------------------------------
// The console without a window
// ---------------------------------------------------------------------------

// One argument as the command line writes it: quoted when it holds blanks.
std::string quoted_arg(const char* arg) {
    std::string text(arg);
    if (!text.empty() && text.find_first_of(" \t") == std::string::npos) return text;
    return "\"" + text + "\"";
}

// A terminal size "WxH" of two decimal counts.
bool valid_size(const std::string& size) {
    size_t x = size.find('x');
    if (x == 0 || x == std::string::npos || x + 1 == size.size() || x > 5 || size.size() - x > 6)
        return false;
    for (size_t i = 0; i < size.size(); i++)
        if (i != x && (size[i] < '0' || size[i] > '9')) return false;
    return true;
}

int run_console(int argc, char** argv) {
    int first = 2;
    std::string size = "80x25";
    if (first < argc && std::strncmp(argv[first], "--size=", 7) == 0) {
        size = argv[first] + 7;
        if (!valid_size(size)) {
            write("mox-run: --size wants WxH, e.g. 80x25\n");
            return 2;
        }
        first++;
    }
    std::string line = quoted_arg(argv[0]);
    for (int i = first; i < argc; i++) line += " " + quoted_arg(argv[i]);
    const std::string code =
        "func [line [string!]][system/console/gui?: false system/console/size: " + size +
        " system/script/args: line extract-boot-args system/console/launch]";
    return run_top_level([&] {
        Cell* fn = stack::push_cell();
        interpreter::do_block(load_text(code), fn);
        Cell* text = string::push_new(static_cast<uint32_t>(line.size()));
        string::append_utf8(text, line.data(), line.size());
        Cell* out = stack::push_cell();
        interpreter::call_value(fn, text, 1, out);
    });
}

// ---------------------------------------------------------------------------
// Running case files
// ---------------------------------------------------------------------------

struct Tally {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
};

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

void fail(const char* file, int line, const std::string& group, const std::string& expr,
          const std::string& expected, const std::string& got, Tally& tally) {
    tally.failed++;
    write(std::string("FAIL ") + file + ":" + std::to_string(line) +
          (group.empty() ? "" : " (" + group + ")") + "\n  case:     " + expr +
          "\n  expected: " + expected + "\n  got:      " + got + "\n");
}

void run_case(const char* file, int line, const std::string& group, const std::string& text,
              Tally& tally) {
    Cell* base = stack::top;
    // The line holds the code block and the expectation.
    Cell* row = stack::push_cell();
    Outcome loaded = guarded([&] {
        lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                         static_cast<int32_t>(text.size()), row);
        return std::string();
    });
    if (loaded.error) {
        fail(file, line, group, text, "a loadable case", "syntax error " + loaded.text, tally);
        stack::top = base;
        return;
    }
    // A third value, #untraced-path, marks a case that reads what the
    // untraced calls leave on the stack (stack-size?, frame-index?, the
    // calls' positions, the Where of an operand's error), where the general
    // path differs by design: under MOX_GENERAL_EVAL=1 it is skipped.
    const bool marked = block::rs_length_q(row) == 3 &&
                        type_of(block::rs_head(row) + 2) == TYPE_ISSUE &&
                        symbol_text(block::rs_head(row)[2].data2) == "untraced-path";
    if (marked && (trace::active & trace::GENERAL)) {
        tally.skipped++;
        stack::top = base;
        return;
    }
    if ((block::rs_length_q(row) != 2 && !marked) || type_of(block::rs_head(row)) != TYPE_BLOCK) {
        fail(file, line, group, text, "[code] \"mold\" or [code] #error-id", "a malformed case",
             tally);
        stack::top = base;
        return;
    }
    Cell* code = stack::push(block::rs_head(row));
    Cell* want = stack::push(block::rs_head(row) + 1);
    std::string expected;
    bool expect_error = false;
    if (type_of(want) == TYPE_STRING) {
        expected = unicode::utf8_of(want);
    } else if (type_of(want) == TYPE_ISSUE) {
        expect_error = true;
        expected = symbol_text(want->data2);
    } else {
        fail(file, line, group, text, "a string or an #error-id after the code",
             actions::mold_utf8(want), tally);
        stack::top = base;
        return;
    }
    Outcome got = guarded([&] {
        Cell result = {TYPE_UNSET, 0, 0, 0};
        collector::Root keep(&result);
        make_unset(&result);
        interpreter::do_block(code, &result);
        return actions::mold_utf8(&result);
    });
    std::string expr = actions::mold_utf8(code);
    std::string shown_expected = expect_error ? "error " + expected : expected;
    std::string shown_got = got.error ? "error " + got.text : got.text;
    if (got.error == expect_error && got.text == expected)
        tally.passed++;
    else
        fail(file, line, group, expr, shown_expected, shown_got, tally);
    stack::top = base;
}

void run_cases(const char* file, Tally& tally) {
    std::string text;
    if (!read_file(file, &text)) {
        write(std::string("FAIL cannot read ") + file + "\n");
        tally.failed++;
        return;
    }
    std::istringstream lines(text);
    std::string raw, group;
    int line = 0;
    while (std::getline(lines, raw)) {
        line++;
        std::string s = trim(raw);
        if (s.empty() || s[0] == ';') continue;
        if (s.compare(0, 2, "==") == 0) {
            group = trim(s.substr(2));
            continue;
        }
        run_case(file, line, group, s, tally);
    }
}

} // namespace

int main(int argc, char** argv) {
    platform::reset_fpu();
    platform::record_stack_bounds();
    platform::init_process();
    int status = 0;
    // --mox-bodies first: library functions run their Mox bodies, with no
    // native body bound.
    if (argc >= 2 && std::strcmp(argv[1], "--mox-bodies") == 0) {
        routines::mox_bodies = true;
        argv[1] = argv[0];
        argc--;
        argv++;
    }
    // --boot-image next: start-up reads the image from that file.
    if (argc >= 3 && std::strcmp(argv[1], "--boot-image") == 0) {
        boot::image_file = argv[2];
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    try {
        mox::start();
        if (argc >= 2 && std::strcmp(argv[1], "--cases") == 0) {
            Tally tally;
            for (int i = 2; i < argc; i++) run_cases(argv[i], tally);
            if (tally.skipped) write(std::to_string(tally.skipped) + " skipped (#untraced-path)\n");
            write(std::to_string(tally.passed) + " passed, " + std::to_string(tally.failed) +
                  " failed\n");
            status = tally.failed ? 1 : 0;
        } else if (argc >= 2 && std::strcmp(argv[1], "--console") == 0) {
            status = run_console(argc, argv);
        } else if (argc == 2) {
            status = run_script(argv[1]);
        } else {
            write("usage: mox-run [--mox-bodies] FILE | mox-run [--mox-bodies] --cases FILE... | "
                  "mox-run --console [--size=WxH] [ARG...]\n");
            status = 2;
        }
    } catch (const SystemThrow& t) {
        status = t.code == QUIT_QUIETLY ? 0 : 1;
    }
    sys_quit_status(status);
}

// print and prin: the text the print hooks receive, the output layer taking
// over while no host has installed a hook, and the natives' scratch block
// left as it was however a print ends.
#include <string>

#include "core/console.h"
#include "core/dyn-print.h"
#include "core/natives.h"
#include "datatypes/block.h"
#include "evaluator/natives-eval.h"
#include "objects_fixture.h"
#include "platform/platform.h"

namespace mox::test {
namespace {

std::string printed; // what the print hooks received, "\n" for a line end
std::string written; // what reached the output layer

void print_hook(Cell* text, bool new_line) {
    Cell* saved = stack::top;
    printed += utf8_of(stack::push(text));
    if (new_line) printed += "\n";
    stack::top = saved;
}

void write_hook(const char* utf8, size_t length, int) { written.append(utf8, length); }

// A console that shows nothing: the output layer's writes are seen through
// the write hook only.
void quiet_write(const char16_t*, size_t) {}
bool quiet_info(platform::ScreenInfo*) { return false; }
void quiet_cursor(int, int) {}
void quiet_attribute(uint16_t) {}
void quiet_fill(int, int, uint32_t, uint16_t) {}
constexpr platform::ConsoleDevice kQuiet{quiet_write, quiet_info, quiet_cursor, quiet_attribute,
                                         quiet_fill};

class PrintTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        printed.clear();
        written.clear();
    }
    // Runs the code; its error code, or -1.
    int run(const std::string& code) {
        return run_catching([&] { eval_text(code); });
    }
};

TEST_F(PrintTest, HooksReceiveTheFormedTextAndTheLineFlag) {
    struct Case {
        const char* code;
        const char* text;
    };
    const Case cases[] = {
        {"print [1 + 1 \"a\"]", "2 a\n"},
        {"prin \"x\"", "x"},
        {"print \"abc\"", "abc\n"},
        {"print next \"abc\"", "bc\n"},
        {"print 1.5", "1.5\n"},
        {"print []", "\n"},
        {"print [[1 2] 3]", "1 2 3\n"},
        {"print 'word", "word\n"},
        // The nested prin runs while the outer block is being reduced.
        {"print [\"a\" (prin \"b\" \"c\")]", "ba c\n"},
        {"prin [1] prin [2] print 3", "123\n"},
    };
    dyn_print::add(print_hook, nullptr);
    for (const Case& c : cases) {
        printed.clear();
        EXPECT_EQ(run(c.code), -1) << c.code;
        EXPECT_EQ(printed, c.text) << c.code;
    }
    dyn_print::remove(print_hook, nullptr);
}

TEST_F(PrintTest, LastNewLineFollowsTheLastOutput) {
    dyn_print::add(print_hook, nullptr);
    run("print 1");
    EXPECT_TRUE(natives::last_new_line);
    run("prin 1");
    EXPECT_FALSE(natives::last_new_line);
    dyn_print::remove(print_hook, nullptr);
}

// Until a host installs a print hook, print writes through the output layer
// (standard output), which hands every write to the write hooks too.
TEST_F(PrintTest, WithoutPrintHooksTextGoesToTheOutputLayer) {
    ASSERT_EQ(dyn_print::print_hook_count(), 0u);
    const platform::ConsoleDevice* previous = console::set_device(&kQuiet);
    console::set_console_mode(true);
    dyn_print::add(nullptr, write_hook);
    EXPECT_EQ(run("prin \"a\" print [1 + 1 \"b\"] prin next \"xyz\""), -1);
    dyn_print::remove(nullptr, write_hook);
    console::set_device(previous);
    console::init_output();
    EXPECT_EQ(written.substr(0, 4), "a2 b");
    EXPECT_EQ(written.substr(written.size() - 2), "yz");
}

// A printed block is reduced into the scratch block; whatever ends the
// print (an error, a throw, a break, a nested print), the scratch block
// keeps neither values nor a moved index.
TEST_F(PrintTest, ScratchBlockIsLeftAsItWas) {
    const char* codes[] = {
        "try [print [1 1 / 0]]",
        "catch [print [1 throw 2]]",
        "loop 1 [print [1 break]]",
        "f: func [] [print [1 return 2]] f",
        "print [\"a\" (print [1 2 3]) \"b\"]",
        "print [1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 "
        "31 32 33 34 35 36 37 38 39 40]",
    };
    dyn_print::add(print_hook, nullptr);
    for (const char* code : codes) {
        uint32_t length = block::abs_length(natives::scratch);
        uint32_t index = natives::scratch->data1;
        EXPECT_EQ(run(code), -1) << code;
        EXPECT_EQ(block::abs_length(natives::scratch), length) << code;
        EXPECT_EQ(natives::scratch->data1, index) << code;
    }
    dyn_print::remove(print_hook, nullptr);
}

TEST_F(PrintTest, ErrorInsideAPrintedBlockReachesTheCaller) {
    dyn_print::add(print_hook, nullptr);
    EXPECT_EQ(run("print [1 1 / 0]"), err::zero_divide);
    EXPECT_EQ(printed, "");
    dyn_print::remove(print_hook, nullptr);
}

} // namespace
} // namespace mox::test

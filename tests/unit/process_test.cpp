// Tests of child processes, the environment and the shell seam of the
// platform layer, and of the natives built on them (to-local-file, size?,
// browse, the environment natives), called through the natives table. The
// child that floods both output pipes is this test program itself, started
// with MOX_CALL_CHILD set; under Wine the shell commands are cmd's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "io/os-info.h"
#include "platform/platform.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

#ifdef _WIN32
const char16_t* const echo_hello = u"cmd /c echo hello";
const char16_t* const exit_3 = u"cmd /c exit 3";
const char* const line_end = "\r\n";
#else
const char16_t* const echo_hello = u"echo hello";
const char16_t* const exit_3 = u"exit 3";
const char* const line_end = "\n";
#endif

constexpr size_t FLOOD = 1 << 20; // bytes the child writes to each output

std::string captured(const platform::Redirect& r) {
    return std::string(reinterpret_cast<const char*>(r.captured), r.captured_size);
}

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A temporary file name no other test process uses at the same time.
std::string temp_path(const char* stem) {
    uint32_t tag = 0;
    platform::secure_random(&tag, sizeof tag);
    return testing::TempDir() + stem + std::to_string(tag);
}

// The child: writes FLOOD bytes to each output in alternating pieces (so a
// parent that drains one pipe before the other stalls it), then reads its
// whole input, reports its length and ends with status 7.
TEST(ProcessChild, FloodBothStreams) {
    if (!std::getenv("MOX_CALL_CHILD")) GTEST_SKIP() << "run as a child by CallTest";
    std::string piece(4096, 'o'), err_piece(4096, 'e');
    for (size_t done = 0; done < FLOOD; done += piece.size()) {
        std::fwrite(piece.data(), 1, piece.size(), stdout);
        std::fflush(stdout);
        std::fwrite(err_piece.data(), 1, err_piece.size(), stderr);
        std::fflush(stderr);
    }
    size_t in = 0;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) in += n;
    std::printf("in=%zu", in);
    std::fflush(stdout);
    std::_Exit(7);
}

class CallTest : public test::RuntimeTest {
  protected:
    static std::u16string self_command() {
        platform::init_process();
        // A sharded run must not shard the child's one test away.
        platform::set_env(u"GTEST_TOTAL_SHARDS", nullptr);
        platform::set_env(u"GTEST_SHARD_INDEX", nullptr);
        return u"\"" + widen(platform::arg_vector()[0]) + u"\" --gtest_filter=ProcessChild.*";
    }
};

TEST_F(CallTest, CapturesOutputAndExitCodes) {
    platform::Redirect out;
    out.capture = true;
    platform::CallOptions o;
    o.output = &out;
    EXPECT_EQ(platform::call(echo_hello, &o), 0);
    EXPECT_EQ(captured(out), std::string("hello") + line_end);
    std::free(out.captured);

    platform::CallOptions waiting;
    waiting.wait = true;
    EXPECT_EQ(platform::call(exit_3, &waiting), 3);
}

TEST_F(CallTest, ShellBuiltinsRunThroughTheShell) {
    // echo is no program on Windows: the direct start fails and the command
    // runs again through cmd.
    platform::Redirect out;
    out.capture = true;
    platform::CallOptions o;
    o.output = &out;
    EXPECT_EQ(platform::call(u"echo shell", &o), 0);
    EXPECT_TRUE(o.shell_used);
    EXPECT_EQ(captured(out), std::string("shell") + line_end);
    std::free(out.captured);
}

TEST_F(CallTest, NotWaitingGivesTheProcessId) {
    platform::CallOptions o;
    EXPECT_GT(platform::call(exit_3, &o), 0);
}

TEST_F(CallTest, FloodedPipesDoNotStall) {
    ASSERT_TRUE(platform::set_env(u"MOX_CALL_CHILD", u"1"));
    const std::u16string command = self_command();
    std::vector<uint8_t> input(FLOOD + 12345, 'i');
    platform::Redirect in, out, err;
    in.data = input.data();
    in.size = input.size();
    out.capture = err.capture = true;
    platform::CallOptions o;
    o.input = &in;
    o.output = &out;
    o.error = &err;
    EXPECT_EQ(platform::call(command.c_str(), &o), 7);
    platform::set_env(u"MOX_CALL_CHILD", nullptr);
    // The test framework's own banner may come first.
    const std::string text = captured(out);
    const std::string tail = "in=" + std::to_string(input.size());
    ASSERT_GE(text.size(), FLOOD + tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.substr(text.size() - tail.size() - FLOOD, FLOOD), std::string(FLOOD, 'o'));
    EXPECT_EQ(captured(err), std::string(FLOOD, 'e'));
    std::free(out.captured);
    std::free(err.captured);
}

TEST_F(CallTest, OutputFilesAreAppendedTo) {
    const std::string path = temp_path("mox-call-");
    { std::ofstream(path, std::ios::binary) << "first" << line_end; }
    const std::u16string wide_path = widen(path);
    platform::Redirect out;
    out.path = wide_path.c_str();
    platform::CallOptions o;
    o.output = &out;
    EXPECT_EQ(platform::call(echo_hello, &o), 0);
    std::ifstream f(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::string("first") + line_end + "hello" + line_end);
    f.close();
    std::remove(path.c_str());
}

TEST_F(CallTest, EnvironmentBlockHoldsWhatWasSet) {
    ASSERT_TRUE(platform::set_env(u"MOX_ENV_PROBE", u"x=y"));
    char16_t* env = platform::env_strings();
    ASSERT_NE(env, nullptr);
    bool found = false;
    for (const char16_t* e = env; *e;) {
        std::u16string entry(e);
        found |= entry == u"MOX_ENV_PROBE=x=y";
        e += entry.size() + 1;
    }
    platform::free_env_strings(env);
    platform::set_env(u"MOX_ENV_PROBE", nullptr);
    EXPECT_TRUE(found);
}

// ---------------------------------------------------------------------------
// Natives, called through the table
// ---------------------------------------------------------------------------

// Calls native id with the argument cells; the result is the first cell.
Cell run_native(int32_t id, std::vector<Cell> cells, std::vector<int32_t> refs = {}) {
    Cell* saved_args = stack::arguments;
    Cell* saved_top = stack::top;
    Cell* base = stack::top;
    for (const Cell& c : cells) *stack::push_cell() = c;
    stack::arguments = base;
    natives::Entry entry = natives::lookup(id);
    EXPECT_NE(entry, nullptr) << "native " << id;
    if (entry) entry(refs.data());
    Cell result = *base;
    stack::arguments = saved_args;
    stack::top = saved_top;
    return result;
}

// A string! (or other string type) of ASCII text, kept by a root.
struct Text {
    Cell cell;
    collector::Root root{&cell};
    Text(const char* s, uint32_t type = TYPE_STRING) {
        string::load_at(reinterpret_cast<const uint8_t*>(s), static_cast<uint32_t>(std::strlen(s)),
                        &cell, string::ENCODING_UTF8);
        set_type(&cell, type);
    }
};

TEST_F(CallTest, ToLocalFile) {
    struct Row {
        const char* file;
        const char* local;
    } rows[] = {
        {"/c/dir/file.txt", "c:\\dir\\file.txt"},
        {"/c", "c:\\"},
        {"/c/", "c:\\"},
        {"/server/share/x", "\\\\server\\share\\x"},
        {"//x/y", "\\x\\y"},
        {"/", "\\"},
        {"dir/sub/", "dir\\sub\\"},
        {"", ""},
    };
    for (const auto& row : rows) {
        Text file(row.file, TYPE_FILE);
        Cell result = run_native(85, {file.cell}, {-1});
        collector::Root keep(&result);
        EXPECT_EQ(type_of(&result), TYPE_STRING) << row.file;
        EXPECT_EQ(unicode::utf8_of(&result), row.local) << row.file;
    }
    // /full puts the current directory, with its separator, before a
    // relative name only.
    Text relative("a/b", TYPE_FILE);
    Cell full = run_native(85, {relative.cell, Cell{}}, {1});
    collector::Root keep(&full);
    const std::string text = unicode::utf8_of(&full);
    EXPECT_GT(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), "\\a\\b");
    Text absolute("/d/x", TYPE_FILE);
    Cell same = run_native(85, {absolute.cell, Cell{}}, {1});
    collector::Root keep2(&same);
    EXPECT_EQ(unicode::utf8_of(&same), "d:\\x");
}

// The file! spelling of a path of the system: on Windows /c/dir/... for
// C:\dir\...
std::string file_name_of(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.size() > 1 && path[1] == ':') path = "/" + path.substr(0, 1) + path.substr(2);
#endif
    return path;
}

TEST_F(CallTest, SizeOfFiles) {
    const std::string path = temp_path("mox-size-");
    { std::ofstream(path, std::ios::binary) << std::string(12345, 'z'); }
    const std::string name = file_name_of(path);
    struct Row {
        std::string file;
        bool none;
    } rows[] = {
        {name, false}, {name + "-missing", true}, {"dir/", true}, {".", true}, {"..", true}};
    for (const auto& row : rows) {
        Text file(row.file.c_str(), TYPE_FILE);
        Cell result = run_native(101, {file.cell});
        if (row.none) {
            EXPECT_EQ(type_of(&result), TYPE_NONE) << row.file;
        } else {
            ASSERT_EQ(type_of(&result), TYPE_INTEGER) << row.file;
            EXPECT_EQ(get_integer(&result), 12345);
        }
    }
    std::remove(path.c_str());
}

TEST_F(CallTest, ChecksumOfAFileReadsItWhole) {
    const std::string path = temp_path("mox-sum-");
    { std::ofstream(path, std::ios::binary) << "123456789"; }
    const std::string name = file_name_of(path);
    Text file(name.c_str(), TYPE_FILE);
    Cell method;
    collector::Root keep(&method);
    word::make_at(symbol::make("crc32"), &method);
    Cell result = run_native(87, {file.cell, method}, {-1});
    ASSERT_EQ(type_of(&result), TYPE_INTEGER);
    EXPECT_EQ(static_cast<uint32_t>(get_integer(&result)), 0xCBF43926u);
    std::remove(path.c_str());
}

std::u16string opened_verb, opened_target;
bool record_open(const char16_t* verb, const char16_t* target) {
    opened_verb = verb;
    opened_target = target;
    return true;
}

TEST_F(CallTest, BrowseHandsTheTargetToTheShell) {
    platform::set_shell_opener(record_open);
    Text url("http://example.com/a?b=c", TYPE_URL);
    Cell result = run_native(102, {url.cell});
    EXPECT_EQ(type_of(&result), TYPE_UNSET);
    EXPECT_EQ(opened_verb, u"open");
    EXPECT_EQ(opened_target, u"http://example.com/a?b=c");
    Text file("/c/docs/read me.txt", TYPE_FILE);
    run_native(102, {file.cell});
    EXPECT_EQ(opened_target, u"c:\\docs\\read me.txt");
    platform::set_shell_opener(nullptr);
}

TEST_F(CallTest, EnvironmentNatives) {
    Text name("MOX_NATIVE_ENV");
    Text value("caf\xC3\xA9 au lait");
    Cell set = run_native(93, {name.cell, value.cell});
    EXPECT_EQ(type_of(&set), TYPE_STRING);
    Cell got = run_native(94, {name.cell});
    collector::Root keep(&got);
    ASSERT_EQ(type_of(&got), TYPE_STRING);
    EXPECT_EQ(unicode::utf8_of(&got), "caf\xC3\xA9 au lait");
    Cell none;
    make_none(&none);
    run_native(93, {name.cell, none});
    Cell gone = run_native(94, {name.cell});
    EXPECT_EQ(type_of(&gone), TYPE_NONE);
    Cell list = run_native(95, {Cell{}});
    EXPECT_EQ(type_of(&list), TYPE_MAP);
}

TEST(OsInfo, EditionByVersionAndBuild) {
    struct Row {
        uint32_t major, minor, build;
        bool server;
        const char* edition;
    } rows[] = {
        {10, 0, 22631, false, "11"},
        {10, 0, 19045, false, "10"},
        {10, 0, 21999, false, "10"},
        {10, 0, 14393, true, "Server 2016"},
        {10, 0, 17134, true, "Server 2019"},
        {10, 0, 20284, true, "Server 2019"},
        {10, 0, 20348, true, "Server 2022"},
        {6, 3, 9600, false, "8.1"},
        {6, 1, 7601, true, "Server 2008 R1"},
        {5, 2, 3790, true, "Server 2003 R2"},
        {5, 1, 2600, false, "XP"},
        {5, 0, 2195, true, "2000"},
    };
    for (const auto& row : rows)
        EXPECT_STREQ(os_info::edition(row.major, row.minor, row.build, row.server), row.edition)
            << row.major << "." << row.minor << " " << row.build;
    EXPECT_STREQ(os_info::arch_name(9), "x86-64");
    EXPECT_STREQ(os_info::arch_name(0), "x86-32");
    EXPECT_STREQ(os_info::arch_name(7), "Unknown");
}

TEST_F(CallTest, OsInfoObject) {
    Cell info = *os_info::get_OS_info();
    collector::Root keep(&info);
    ASSERT_EQ(type_of(&info), TYPE_OBJECT);
    // Symbols first: interning may allocate, and the fields are copied out
    // of the context's values before anything else can move them.
    const auto name_sym = symbol::make("name");
    const auto arch_sym = symbol::make("arch");
    const auto version_sym = symbol::make("version");
    const auto build_sym = symbol::make("build");
    Cell fields[4] = {
        *object::find_value(info.data1, name_sym), *object::find_value(info.data1, arch_sym),
        *object::find_value(info.data1, version_sym), *object::find_value(info.data1, build_sym)};
    collector::Root keep_name(&fields[0]);
    Cell* name = &fields[0];
    Cell* version = &fields[2];
    Cell* build = &fields[3];
    ASSERT_EQ(type_of(name), TYPE_STRING);
    EXPECT_EQ(unicode::utf8_of(name).rfind("Windows ", 0), 0u);
    EXPECT_TRUE(is_any_word(type_of(&fields[1])));
    ASSERT_EQ(type_of(version), TYPE_TUPLE);
    ASSERT_EQ(type_of(build), TYPE_INTEGER);
#ifdef _WIN32
    // What the system reports to this program (which, unlike mox.exe, has
    // no manifest claiming Windows 10) names the edition.
    const uint8_t* v = tuple::bytes_of(version);
    EXPECT_EQ(unicode::utf8_of(name),
              std::string("Windows ") +
                  os_info::edition(v[0], v[1], uint32_t(get_integer(build)), false));
#endif
}

} // namespace
} // namespace mox

// The portable parts of the file, HTTP and clipboard services: directory
// spelling, line splitting, response headers, and the DROPFILES reader and
// writer that see data from other programs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "io/clipboard.h"
#include "io/http.h"
#include "io/simple-io.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

Cell* file_of(const char* name) {
    Cell* s = string::push_new(0);
    string::append_utf8(s, name, std::strlen(name));
    set_type(s, TYPE_FILE);
    return s;
}

class FileIoTest : public RuntimeTest {};

TEST_F(FileIoTest, DirectoryBySpelling) {
    struct Case {
        const char* name;
        bool dir;
    };
    const Case cases[] = {
        {"a/", true},   {"a\\", true},   {".", true},    {"..", true},    {"a/.", true},
        {"a/..", true}, {"a\\..", true}, {"/", true},    {"a", false},    {"", false},
        {"a.", false},  {"a..", false},  {"...", false}, {"a/b.", false}, {"a/...", false},
    };
    for (const Case& c : cases) {
        Cell* f = file_of(c.name);
        EXPECT_EQ(simple_io::dir_q(f), c.dir) << c.name;
        stack::pop(1);
    }
}

TEST_F(FileIoTest, LinesCutAtLineFeeds) {
    struct Case {
        std::string bytes;
        const char* mold;
    };
    const Case cases[] = {
        {"", "[]"},
        {"a", "[\"a\"]"},
        {"a\n", "[\"a\"]"},
        {"a\r\nb\n\nc", "[\"a\" \"b\" \"\" \"c\"]"},
        {"\n", "[\"\"]"},
        {"\r\n\r\n", "[\"\" \"\"]"},
        {"a\rb\n", "[\"a^Mb\"]"},
        {"\r", "[\"^M\"]"},
        {"x\r\r\n", "[\"x^M\"]"},
    };
    for (const Case& c : cases) {
        Cell* slot = stack::push_cell();
        simple_io::split_lines(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(),
                               slot);
        EXPECT_EQ(mold(slot), c.mold) << c.bytes;
        stack::pop(1);
    }
}

TEST_F(FileIoTest, HeaderLinesNeedAColon) {
    // The system's text begins with the status line on some hosts; a header
    // may come without a space after its colon.
    const std::string text =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Tight:value\r\nX-Rep: one\r\n"
        "x-rep:  two\r\nX-Empty:\r\nno colon here\r\n: nameless\r\nX-Last: end";
    const auto headers = simple_io::split_headers(text.data(), text.size());
    ASSERT_EQ(headers.size(), 5u);
    EXPECT_EQ(headers[0].name, "Content-Type");
    EXPECT_EQ(headers[0].values, std::vector<std::string>{"text/plain"});
    EXPECT_EQ(headers[1].name, "X-Tight");
    EXPECT_EQ(headers[1].values, std::vector<std::string>{"value"});
    EXPECT_EQ(headers[2].name, "X-Rep");
    EXPECT_EQ(headers[2].values, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(headers[3].values, std::vector<std::string>{""});
    EXPECT_EQ(headers[4].values, std::vector<std::string>{"end"});
}

TEST_F(FileIoTest, HeaderTextEdges) {
    for (const char* text : {"", ":", "\r\n\r\n", "a:", "\n:x\n", "a: b\r", "a:\tb\nb: c"}) {
        const auto headers = simple_io::split_headers(text, std::strlen(text));
        for (const auto& h : headers) {
            EXPECT_FALSE(h.name.empty()) << text;
            for (const auto& v : h.values) EXPECT_EQ(v.find_first_of("\r\n"), std::string::npos);
        }
    }
    // A length short of the text: nothing past it is read.
    const char cut[] = "A: 1\r\nB: 2";
    const auto headers = simple_io::split_headers(cut, 4);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].values[0], "1");
}

TEST_F(FileIoTest, ResponseHeadersMap) {
    const std::u16string text =
        u"HTTP/1.1 200 OK\r\nX-Rep: one\r\nServer: t\u00e9st\r\nX-Rep: two\r\n\r\n";
    Cell* map = stack::push_cell();
    simple_io::parse_response_headers(text.data(), text.size(), map);
    EXPECT_EQ(type_of(map), static_cast<uint32_t>(TYPE_MAP));
    EXPECT_EQ(mold(map), "#[\n    X-Rep: [\"one\" \"two\"]\n    Server: \"t\u00e9st\"\n]");
}

TEST_F(FileIoTest, DropFilesRoundTrip) {
    const std::vector<std::u16string> paths = {u"C:\\a b\\c.txt", u"\\\\host\\share\\\u00e9",
                                               u"Z:\\"};
    const std::vector<uint8_t> block = clipboard::make_dropfiles(paths);
    ASSERT_EQ(block.size(), 20u + 2 * ((12 + 1) + (14 + 1) + (3 + 1) + 1));
    EXPECT_EQ(block[0], 20);
    EXPECT_EQ(block[16], 1);
    EXPECT_EQ(clipboard::read_dropfiles(block.data(), block.size()), paths);
}

TEST_F(FileIoTest, DropFilesFromOtherProgramsAreChecked) {
    std::vector<uint8_t> good = clipboard::make_dropfiles({u"C:\\x", u"C:\\y"});
    auto names = [](std::vector<uint8_t> b) {
        return clipboard::read_dropfiles(b.data(), b.size());
    };
    // Too short for the header, offsets outside the block or inside the header.
    EXPECT_TRUE(clipboard::read_dropfiles(good.data(), 19).empty());
    EXPECT_TRUE(clipboard::read_dropfiles(nullptr, 0).empty());
    std::vector<uint8_t> far = good;
    far[0] = 0xFF;
    far[1] = 0xFF;
    EXPECT_TRUE(names(far).empty());
    std::vector<uint8_t> inside = good;
    inside[0] = 4;
    EXPECT_TRUE(names(inside).empty());
    // A list without its final empty name, a name cut by the block's end.
    EXPECT_EQ(names(std::vector<uint8_t>(good.begin(), good.end() - 2)).size(), 2u);
    EXPECT_EQ(names(std::vector<uint8_t>(good.begin(), good.end() - 4)).size(), 1u);
    EXPECT_EQ(names(std::vector<uint8_t>(good.begin(), good.end() - 5)).size(), 1u);
    // Narrow names.
    std::vector<uint8_t> narrow(20, 0);
    narrow[0] = 20;
    for (char c : std::string("C:\\ab\0D:\\\0\0", 11)) narrow.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(names(narrow), (std::vector<std::u16string>{u"C:\\ab", u"D:\\"}));
}

TEST_F(FileIoTest, WindowsPathsAsFileNames) {
    struct Case {
        std::u16string path, file;
    };
    const Case cases[] = {
        {u"C:\\dir\\f.txt", u"/C/dir/f.txt"},
        {u"C:", u"/C/"},
        {u"C:\\", u"/C/"},
        {u"\\\\host\\share\\x", u"/host/share/x"},
        {u"\\x", u"//x"},
        {u"a\\b", u"a/b"},
        {u"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(clipboard::to_mox_file(c.path), c.file);
}

} // namespace
} // namespace mox::test

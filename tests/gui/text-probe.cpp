// Lays out texts with DirectWrite directly and prints what DirectWrite
// itself reports of them: the layout metrics, every line and every
// cluster. The text tests hold the metrics of rich-text faces against
// these numbers.
//
//     text-probe CASE-FILE
//
// The case file holds blocks of lines:
//     case NAME
//     font FAMILY-HEX SIZE-IN-DIPS          family as hexadecimal UTF-8
//     box WIDTH HEIGHT                      0 is unbounded
//     align TEXT PARAGRAPH WRAP             DWRITE_* values
//     spacing SPACING BASELINE              uniform line spacing (optional)
//     tab STOP                              incremental tab stop (optional)
//     text HEX                              hexadecimal UTF-8
//     style START LENGTH KIND [VALUE]       UTF-16 range; bold, italic,
//                                           size DIPS, family HEX
//     end
// and prints for each:
//     case NAME
//     metrics LEFT TOP WIDTH HEIGHT LINES
//     line LENGTH NEWLINE HEIGHT BASELINE
//     cluster WIDTH LENGTH NEWLINE WHITESPACE
//     natural HEIGHT BASELINE               the line metrics of "I" alone
#include <windows.h>

#include <dwrite_1.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring from_hex(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
    }
    if (bytes.empty()) return {};
    int n =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

struct Style {
    UINT32 start, length;
    std::string kind;
    std::string value;
};

struct Case {
    std::string name;
    std::wstring family, text;
    float size = 16, width = 0, height = 0, spacing = 0, baseline = 0, tab = 0;
    int align = 0, paragraph = 0, wrap = 0;
    std::vector<Style> styles;
};

void run(IDWriteFactory* factory, const Case& c) {
    IDWriteTextFormat* format = nullptr;
    if (FAILED(factory->CreateTextFormat(c.family.c_str(), nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                         DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                         c.size, L"en-us", &format))) {
        std::printf("case %s\nerror format\n", c.name.c_str());
        return;
    }
    IDWriteTextLayout* layout = nullptr;
    HRESULT hr = factory->CreateTextLayout(c.text.c_str(), static_cast<UINT32>(c.text.size()),
                                           format, c.width > 0 ? c.width : FLT_MAX,
                                           c.height > 0 ? c.height : FLT_MAX, &layout);
    std::printf("case %s\n", c.name.c_str());
    if (FAILED(hr)) {
        std::printf("error layout\n");
        format->Release();
        return;
    }
    layout->SetTextAlignment(static_cast<DWRITE_TEXT_ALIGNMENT>(c.align));
    layout->SetParagraphAlignment(static_cast<DWRITE_PARAGRAPH_ALIGNMENT>(c.paragraph));
    layout->SetWordWrapping(static_cast<DWRITE_WORD_WRAPPING>(c.wrap));
    if (c.spacing > 0)
        layout->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, c.spacing, c.baseline);
    if (c.tab > 0) layout->SetIncrementalTabStop(c.tab);
    for (const Style& s : c.styles) {
        DWRITE_TEXT_RANGE r{s.start, s.length};
        if (s.kind == "bold")
            layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, r);
        else if (s.kind == "italic")
            layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, r);
        else if (s.kind == "size")
            layout->SetFontSize(static_cast<float>(std::atof(s.value.c_str())), r);
        else if (s.kind == "family")
            layout->SetFontFamilyName(from_hex(s.value.c_str()).c_str(), r);
    }
    DWRITE_TEXT_METRICS m{};
    layout->GetMetrics(&m);
    std::printf("metrics %.4f %.4f %.4f %.4f %u\n", m.left, m.top, m.width, m.height, m.lineCount);
    UINT32 count = 0;
    layout->GetLineMetrics(nullptr, 0, &count);
    std::vector<DWRITE_LINE_METRICS> lines(count + 1);
    layout->GetLineMetrics(lines.data(), static_cast<UINT32>(lines.size()), &count);
    for (UINT32 i = 0; i < count; i++)
        std::printf("line %u %u %.4f %.4f\n", lines[i].length, lines[i].newlineLength,
                    lines[i].height, lines[i].baseline);
    layout->GetClusterMetrics(nullptr, 0, &count);
    std::vector<DWRITE_CLUSTER_METRICS> clusters(count + 1);
    layout->GetClusterMetrics(clusters.data(), static_cast<UINT32>(clusters.size()), &count);
    for (UINT32 i = 0; i < count; i++)
        std::printf("cluster %.4f %u %d %d\n", clusters[i].width, clusters[i].length,
                    clusters[i].isNewline ? 1 : 0, clusters[i].isWhitespace ? 1 : 0);
    IDWriteTextLayout* one = nullptr;
    if (SUCCEEDED(factory->CreateTextLayout(L"I", 1, format, FLT_MAX, FLT_MAX, &one))) {
        DWRITE_LINE_METRICS l{};
        one->GetLineMetrics(&l, 1, &count);
        std::printf("natural %.4f %.4f\n", l.height, l.baseline);
        one->Release();
    }
    layout->Release();
    format->Release();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: text-probe CASE-FILE\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "r");
    if (!in) return 2;
    IDWriteFactory* factory = nullptr;
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(&factory))))
        return 1;
    char line[8192];
    Case c;
    while (std::fgets(line, sizeof line, in)) {
        char word[64] = {0}, a[4096] = {0}, b[4096] = {0}, d[4096] = {0};
        int n = std::sscanf(line, "%63s %4095s %4095s %4095s", word, a, b, d);
        if (n < 1) continue;
        std::string w = word;
        if (w == "case") {
            c = Case{};
            c.name = a;
        } else if (w == "font") {
            c.family = from_hex(a);
            c.size = static_cast<float>(std::atof(b));
        } else if (w == "box") {
            c.width = static_cast<float>(std::atof(a));
            c.height = static_cast<float>(std::atof(b));
        } else if (w == "align") {
            c.align = std::atoi(a);
            c.paragraph = std::atoi(b);
            c.wrap = std::atoi(d);
        } else if (w == "spacing") {
            c.spacing = static_cast<float>(std::atof(a));
            c.baseline = static_cast<float>(std::atof(b));
        } else if (w == "tab") {
            c.tab = static_cast<float>(std::atof(a));
        } else if (w == "text") {
            c.text = n > 1 ? from_hex(a) : std::wstring();
        } else if (w == "style") {
            char kind[64] = {0}, value[4096] = {0};
            unsigned start = 0, length = 0;
            std::sscanf(line, "%*s %u %u %63s %4095s", &start, &length, kind, value);
            c.styles.push_back({start, length, kind, value});
        } else if (w == "end") {
            run(factory, c);
        }
    }
    std::fclose(in);
    factory->Release();
    return 0;
}

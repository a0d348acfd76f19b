// Times the Moxbin codec (encode-cp and decode of a block of a million
// generated values) and the LZ bit coder (compress and decompress of the
// files named on the command line), for bench/run-moxbin.sh, which runs the
// Python peers on equal data in the same run. Prints "name op milliseconds
// bytes" lines, each the median of several runs.
//
// moxbin_bench --boot ROOT ORDER IMAGE times the step in which the two ways
// of starting differ: loading the boot sources that ORDER lists with the
// lexer (text-load), against decoding the boot image IMAGE as written by
// tools/make-boot-image, plain (image-decode) and with an LZ-compressed body
// (image-lz-decode).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/collector.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "io/lz.h"
#include "io/moxbin.h"
#include "program/startup.h"

using namespace mox;

namespace {

template <typename F> double median_ms(int runs, F f) {
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The million values: the same recipe as moxbin_peer.py.
void generate(Cell* blk, int32_t n) {
    block::make_at(blk, n);
    Cell* v = stack::push_cell();
    for (int32_t i = 0; i < n; i++) {
        switch (i % 5) {
        case 0:
            make_integer(v, i);
            break;
        case 1:
            make_float(v, i * 0.5);
            break;
        case 2: {
            std::string s = "s" + std::to_string(i % 1000);
            string::make_at(v, uint32_t(s.size()) + 1, 1);
            string::append_utf8(v, s.data(), s.size());
            break;
        }
        case 3:
            word::make_at(symbol::make(("w" + std::to_string(i % 100)).c_str()), v);
            break;
        case 4: {
            block::make_at(v, 2);
            Cell x;
            make_integer(&x, i);
            block::ms_append(v, &x);
            make_integer(&x, i + 1);
            block::ms_append(v, &x);
            break;
        }
        }
        block::ms_append(blk, v);
    }
    stack::pop(1);
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
}

int boot_step(const std::string& root, const std::string& order, const std::string& image_path) {
    std::vector<std::vector<uint8_t>> sources;
    std::ifstream list(order);
    std::string line;
    size_t text_bytes = 0;
    while (std::getline(list, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        sources.push_back(read_bytes(root + "/" + line));
        text_bytes += sources.back().size();
    }
    std::vector<uint8_t> image = read_bytes(image_path);
    std::vector<uint8_t> packed(image.begin(), image.begin() + 8);
    packed.resize(image.size());
    int32_t n = lz::compress(image.data() + 8, int32_t(image.size() - 8), packed.data() + 8);
    if (n < 0) std::abort();
    packed.resize(size_t(n) + 8);
    packed[7] |= 2;
    Cell* target = stack::push_cell();
    Cell* code = stack::push_cell();
    double text = median_ms(51, [&] {
        for (auto& s : sources) lexer::load_utf8(s.data(), int32_t(s.size()), code);
    });
    double plain = median_ms(51, [&] {
        block::make_at(target, 2);
        moxbin::boot_load(image.data(), target, int64_t(image.size()));
    });
    double lz = median_ms(51, [&] {
        block::make_at(target, 2);
        moxbin::boot_load(packed.data(), target, int64_t(packed.size()));
    });
    std::printf(
        "boot text-load %.3f %zu\nboot image-decode %.3f %zu\nboot image-lz-decode %.3f %zu\n",
        text, text_bytes, plain, image.size(), lz, packed.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    mox::start();
    if (argc == 5 && std::string(argv[1]) == "--boot") return boot_step(argv[2], argv[3], argv[4]);
    Cell* blk = stack::push_cell();
    generate(blk, 1000000);
    Cell* out = stack::push_cell();
    double enc = median_ms(5, [&] { moxbin::encode_cp(blk, out); });
    memory::SeriesBuffer* b = memory::buffer_of(out->data2);
    std::vector<uint8_t> doc(b->head_ptr(), b->tail_ptr());
    Cell* target = stack::push_cell();
    double dec = median_ms(5, [&] {
        block::make_at(target, 2);
        moxbin::decode(doc.data(), int64_t(doc.size()), target, true);
    });
    std::printf("values encode %.3f %zu\nvalues decode %.3f %zu\n", enc, doc.size(), dec,
                doc.size());

    for (int a = 1; a < argc; a++) {
        std::ifstream f(argv[a], std::ios::binary);
        std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
        std::string name = argv[a];
        name = name.substr(name.find_last_of('/') + 1);
        std::vector<uint8_t> packed(in.size());
        int32_t size = 0;
        double c = median_ms(
            3, [&] { size = lz::compress(in.data(), int32_t(in.size()), packed.data()); });
        if (size < 0) {
            std::printf("%s lz-compress %.3f %zu\n", name.c_str(), c, in.size());
            continue;
        }
        double d = median_ms(11, [&] {
            uint32_t got = 0;
            uint8_t* r = lz::decompress(packed.data(), size_t(size), &got);
            if (!r || got != in.size()) std::abort();
            lz::free_buffer(r);
        });
        std::printf("%s lz-compress %.3f %d\n%s lz-decompress %.3f %d\n", name.c_str(), c, size,
                    name.c_str(), d, size);
    }
    return 0;
}

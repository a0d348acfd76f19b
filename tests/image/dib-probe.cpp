// Puts the bytes of a file on the clipboard as CF_DIB, the one format
// offered (the system may synthesize the others from it), prints "ready",
// and keeps its process, and so the clipboard's data, until a line or the
// end of its standard input arrives.
//
//     dib-probe FILE
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dib-probe FILE\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    std::vector<unsigned char> dib;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) dib.insert(dib.end(), buf, buf + n);
    std::fclose(f);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    void* locked = block ? GlobalLock(block) : nullptr;
    if (!locked) return 3;
    std::memcpy(locked, dib.data(), dib.size());
    GlobalUnlock(block);
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !opened; attempt++) {
        opened = OpenClipboard(nullptr);
        if (!opened) Sleep(20);
    }
    if (!opened || !EmptyClipboard() || !SetClipboardData(CF_DIB, block)) {
        std::fprintf(stderr, "cannot set the clipboard\n");
        return 3;
    }
    CloseClipboard();
    std::printf("ready\n");
    std::fflush(stdout);
    std::fgets(reinterpret_cast<char*>(buf), sizeof buf, stdin);
    return 0;
}

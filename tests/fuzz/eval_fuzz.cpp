// libFuzzer target over the interpreter: a program must give the same
// outcome on the shortcut paths for calls and on the general path (the one
// traced code takes). The input bytes are loaded as source; the program runs
// twice, once with trace::active = 0 and once with trace::GENERAL, each in a
// child process forked from the same start-up state, so that what the first
// run changed cannot reach the second. A child sends back, through a pipe,
// everything the program printed and the mold of its value, or the error it
// raised without the fields that the paths fill differently by design
// (where, stack). A difference, or a child killed by a signal it did not
// ask for, ends the fuzzer with both outcomes on standard error.
//
// Each child stops itself after a second (alarm): programs loop easily, and
// a run that timed out compares with nothing. Programs must not reach
// outside the child: start-up unsets the words of files, ports, processes,
// the clipboard, the GUI, waiting and quitting, programs holding a url! are
// refused, and a child runs in an empty scratch folder with a zero file
// size limit. Programs that mention a word whose answer depends on the path
// by design (the stack readers, the tracers) or on the clock or the memory
// are refused too.
//
// The coverage counters of a child are merged into the fuzzer's own after
// each run, so that the fuzzer sees what the interpreter did.
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/actions.h"
#include "core/dyn-print.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/trace.h"
#include "program/startup.h"

// The inline 8-bit coverage counters: the target is linked with
// --wrap=__sanitizer_cov_8bit_counters_init, so that the instrumented
// modules register them here on their way to the fuzzer.
namespace {
uint8_t* counters_start = nullptr;
uint8_t* counters_stop = nullptr;
} // namespace
extern "C" void __real___sanitizer_cov_8bit_counters_init(uint8_t* start, uint8_t* stop);
extern "C" void __wrap___sanitizer_cov_8bit_counters_init(uint8_t* start, uint8_t* stop) {
    // One module: the target is one executable.
    counters_start = start;
    counters_stop = stop;
    __real___sanitizer_cov_8bit_counters_init(start, stop);
}

namespace {

using namespace mox;

// Words unset at start-up: they reach files, ports, other processes, the
// clipboard, the screen, the clock's waits, or end the process.
const char* const kUnset[] = {
    "browse",
    "open",
    "create",
    "close",
    "delete",
    "modify",
    "query",
    "read",
    "rename",
    "update",
    "write",
    "call",
    "quit-return",
    "quit",
    "halt",
    "q",
    "set-current-dir",
    "create-dir",
    "read-clipboard",
    "write-clipboard",
    "write-stdout",
    "routine",
    "wait",
    "view",
    "show",
    "unview",
    "do-events",
    "save",
    "do-file",
    "ask",
    "change-dir",
    "make-dir",
    "cd",
    "ls",
    "ll",
    "dir",
    "list-dir",
    "do-thru",
    "read-thru",
    "load-thru",
    "exists-thru?",
    "path-thru",
    "request-font",
    "request-file",
    "request-dir",
    "alert",
    "send-event",
    "send-event-os",
    "flip-exe-flag",
    "_save-cfg",
    "set-env",
    "gui-console-ask",
    "gui-console-input",
    "layout",
    "center-face",
};

// Words that refuse a program: what they answer differs between the paths
// by design (the stack readers, an error's where and stack, the tracers),
// or between two runs anyway (the clock, the memory manager's figures), or
// they build native code.
const char* const kRefused[] = {
    "stack-size?",
    "frame-index?",
    "pick-stack",
    "collect-calls",
    "where",
    "stack",
    "trace",
    "tracing?",
    "profile",
    "debug",
    "parse-trace",
    "transcode-trace",
    "on-parse-event",
    "now",
    "time-it",
    "clock",
    "dt",
    "stats",
    "show-memory-stats",
    "recycle",
    "routine",
    "routine!",
    "handle!",
    "debug-info?",
};

std::vector<uint32_t> refused_symbols;
uint32_t overflow_symbol = 0;
std::string scratch_dir;
uint8_t* shared_counters = nullptr;
size_t counter_bytes = 0;
std::string printed;

constexpr unsigned kTimeLimit = 1; // seconds per run
constexpr int32_t kMoldLimit = 1 << 16;

void capture(const char* utf8, size_t length, int) { printed.append(utf8, length); }

void start_runtime() {
    static bool done = false;
    if (done) return;
    done = true;
    mox::start();
    for (const char* name : kRefused)
        refused_symbols.push_back(symbol::resolve(word::load(name)->data2));
    overflow_symbol = word::load("stack-overflow")->data2;
    std::string unset = "foreach w [";
    for (const char* name : kUnset) unset += std::string(name) + " ";
    unset += "] [attempt [unset w]]";
    Cell* code = make_none(stack::push_cell());
    lexer::load_utf8(reinterpret_cast<const uint8_t*>(unset.data()),
                     static_cast<int32_t>(unset.size()), code);
    interpreter::do_block(code, code);
    stack::top = code;
    dyn_print::add(nullptr, &capture);
    char dir[] = "/tmp/eval_fuzz.XXXXXX";
    if (!mkdtemp(dir)) {
        perror("eval_fuzz: mkdtemp");
        abort();
    }
    scratch_dir = dir;
    if (counters_start && counters_stop > counters_start) {
        counter_bytes = static_cast<size_t>(counters_stop - counters_start);
        void* m =
            mmap(nullptr, counter_bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) {
            perror("eval_fuzz: mmap");
            abort();
        }
        shared_counters = static_cast<uint8_t*>(m);
    }
}

// The mold of a value as UTF-8, cut after kMoldLimit characters. May
// collect.
std::string mold_of(const Cell* value) { return actions::mold_utf8(value, false, kMoldLimit); }

// Drops the lines of text that show an error's where and stack, molded
// (as fields) or formed (as a report): the paths fill them differently.
std::string without_where(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t lead = line.find_first_not_of(' ');
        std::string rest = lead == std::string::npos ? "" : line.substr(lead);
        bool drop = rest.rfind("where:", 0) == 0 || rest.rfind("stack:", 0) == 0 ||
                    rest.rfind("*** Where:", 0) == 0 || rest.rfind("*** Stack:", 0) == 0;
        if (!drop) out += line + "\n";
        start = end + 1;
    }
    return out;
}

// Whether the loaded code holds a refused word or a url!, at any depth.
bool refused(const Cell* value, int depth) {
    uint32_t t = type_of(value);
    if (t == TYPE_URL) return true;
    if (is_any_word(t))
        return std::find(refused_symbols.begin(), refused_symbols.end(),
                         symbol::resolve(value->data2)) != refused_symbols.end();
    if (!is_any_block(t)) return false;
    if (depth > 200) return true;
    const Cell* end = block::ms_tail(value);
    for (const Cell* c = block::rs_head(value); c < end; c++)
        if (refused(c, depth + 1)) return true;
    return false;
}

void write_all(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(3);
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// The child's side of a run: evaluates the program under mode and writes
// its outcome to fd: "R" for a refused program, else "V" and the value's
// mold or "E" and the error, a NUL, what was printed, and a final "#" that
// tells a complete report from a child that died on the way.
[[noreturn]] void child_run(const uint8_t* data, size_t size, uint32_t mode, int fd) {
    signal(SIGALRM, SIG_DFL);
    alarm(kTimeLimit);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
    }
    if (chdir(scratch_dir.c_str()) != 0) _exit(4);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit no_files = {0, 0};
    setrlimit(RLIMIT_FSIZE, &no_files);

    std::vector<uint8_t> text(data, data + size);
    std::string report;
    bool refuse = false;
    printed.clear();
    stack::protect(
        stack::Guard::errors,
        [&] {
            Cell* code = make_none(stack::push_cell());
            lexer::load_utf8(text.data(), static_cast<int32_t>(text.size()), code);
            if (refused(code, 0)) {
                refuse = true;
                return;
            }
            Cell* result = make_unset(stack::push_cell());
            trace::active = mode;
            try {
                interpreter::do_block(code, result);
            } catch (...) {
                trace::active = 0;
                throw;
            }
            trace::active = 0;
            report = "V" + mold_of(result);
        },
        [&](uint32_t exit) {
            trace::active = 0;
            if (exit == stack::EXIT_ERROR && type_of(stack::top - 1) == TYPE_ERROR) {
                // A stack overflow is raised by whichever check first finds
                // the stack full, and the paths use it differently: only
                // its id compares.
                if (error::get_id(stack::top - 1) == overflow_symbol)
                    report = "Estack-overflow";
                else
                    report = "E" + without_where(mold_of(stack::top - 1));
            } else
                report = "X" + std::to_string(exit);
        });
    if (refuse) report = "R";
    report += '\0';
    report += without_where(printed);
    report += '#';
    if (shared_counters) memcpy(shared_counters, counters_start, counter_bytes);
    write_all(fd, report);
    _exit(0);
}

struct Outcome {
    bool timed_out = false;
    std::string report;
};

// Runs the program in a child under mode; a crash of the child ends the
// fuzzer.
Outcome run(const uint8_t* data, size_t size, uint32_t mode) {
    int fds[2];
    if (pipe(fds) != 0) {
        perror("eval_fuzz: pipe");
        abort();
    }
    if (shared_counters) memset(shared_counters, 0, counter_bytes);
    pid_t pid = fork();
    if (pid < 0) {
        perror("eval_fuzz: fork");
        abort();
    }
    if (pid == 0) {
        close(fds[0]);
        child_run(data, size, mode, fds[1]);
    }
    close(fds[1]);
    Outcome out;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.report.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
        out.timed_out = true;
        return out;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.report.empty() ||
        out.report.back() != '#') {
        fprintf(stderr, "eval_fuzz: the %s run died (%s %d) after reporting:\n%s\n",
                mode ? "general" : "shortcut", WIFSIGNALED(status) ? "signal" : "exit status",
                WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status), out.report.c_str());
        abort();
    }
    out.report.pop_back();
    // What the child covered becomes the fuzzer's coverage.
    if (shared_counters)
        for (size_t i = 0; i < counter_bytes; i++)
            counters_start[i] = std::max(counters_start[i], shared_counters[i]);
    return out;
}

void show(const char* name, const std::string& report) {
    size_t nul = report.find('\0');
    fprintf(stderr, "--- %s run\nresult: %s\nprinted:\n%s\n", name, report.substr(0, nul).c_str(),
            nul == std::string::npos ? "" : report.substr(nul + 1).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_runtime();
    Outcome shortcut = run(data, size, 0);
    if (shortcut.timed_out || shortcut.report[0] == 'R') return 0;
    Outcome general = run(data, size, trace::GENERAL);
    if (general.timed_out) return 0;
    // EVAL_FUZZ_SHOW=1 shows both outcomes of every program, for minimising
    // a difference by hand.
    static const bool show_all = getenv("EVAL_FUZZ_SHOW") != nullptr;
    if (show_all) {
        show("shortcut", shortcut.report);
        show("general", general.report);
    }
    if (shortcut.report != general.report) {
        fprintf(stderr, "eval_fuzz: the paths differ\n");
        show("shortcut", shortcut.report);
        show("general", general.report);
        __builtin_trap();
    }
    return 0;
}

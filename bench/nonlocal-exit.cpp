// The cost of a non-local exit taken in a hot loop: a break raised by a call
// the interpreter made travels by return (the exit left pending), where a
// call made from elsewhere throws the C++ exception. Both are timed over the
// same loop, with the loop and native frames a real break crosses, and the
// ratio printed.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/collector.h"
#include "core/stack.h"
#include "program/startup.h"

using namespace mox;

namespace {

// One iteration: a loop frame, an interpreted block inside it, the break
// native's call, and the loop taking the exit.
double run(long iterations, bool interpreted) {
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < iterations; i++) {
        stack::mark_loop(nullptr);
        stack::mark_eval(nullptr);
        if (interpreted)
            stack::mark_interp_native(nullptr);
        else
            stack::mark_native(nullptr);
        try {
            stack::throw_break(false, false);
        } catch (const stack::Unwind&) {
        }
        stack::take_pending(stack::EXIT_BREAK);
        stack::unwind();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    long iterations = argc > 1 ? std::atol(argv[1]) : 2000000;
    mox::init();
    collector::active_q = true;
    double by_return = run(iterations, true);
    double by_exception = run(iterations, false);
    std::printf("break by return:    %6.1f ns\n", by_return * 1e9 / iterations);
    std::printf("break by exception: %6.1f ns\n", by_exception * 1e9 / iterations);
    std::printf("ratio exception/return: %.1f\n", by_exception / by_return);
    return 0;
}

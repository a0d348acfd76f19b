// The two output-hook lists (see dyn-print.h): arrays of callbacks that start
// with room for 5 and grow by 5, called in registration order.
#include "core/dyn-print.h"

#include <cstring>

#include "core/collector.h"
#include "core/memory.h"
#include "core/sys-alloc.h"

namespace mox::dyn_print {

namespace {

constexpr size_t kStep = 5;

template <typename Hook> struct HookList {
    Hook* hooks = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    void reset() {
        sys_free(hooks);
        hooks = static_cast<Hook*>(sys_alloc(kStep * sizeof(Hook)));
        count = 0;
        capacity = kStep;
    }

    void add(Hook hook) {
        if (!hook) return;
        if (!hooks) reset();
        if (count == capacity) {
            auto* grown = static_cast<Hook*>(sys_alloc((capacity + kStep) * sizeof(Hook)));
            std::memcpy(grown, hooks, count * sizeof(Hook));
            sys_free(hooks);
            hooks = grown;
            capacity += kStep;
        }
        hooks[count++] = hook;
    }

    // Removes the first entry equal to hook; an absent or null hook changes
    // nothing.
    void remove(Hook hook) {
        if (!hook) return;
        for (size_t i = 0; i < count; i++) {
            if (hooks[i] != hook) continue;
            std::memmove(hooks + i, hooks + i + 1, (count - i - 1) * sizeof(Hook));
            count--;
            return;
        }
    }
};

HookList<PrintHook> print_hooks;
HookList<WriteHook> write_hooks;

void call_each(Cell* text, bool new_line) {
    for (size_t i = 0; i < print_hooks.count; i++) print_hooks.hooks[i](text, new_line);
}

} // namespace

void init() {
    print_hooks.reset();
    write_hooks.reset();
}

void add(PrintHook print, WriteHook write) {
    print_hooks.add(print);
    write_hooks.add(write);
}

void remove(PrintHook print, WriteHook write) {
    print_hooks.remove(print);
    write_hooks.remove(write);
}

// The hooks see a string from its position, which is clamped to the tail: a
// string shortened since the value was made prints as empty rather than
// from past its end. The clamped copy is rooted, since a hook may collect.
void call_print_hooks(Cell* value, bool new_line) {
    if (!print_hooks.count) return;
    if (is_any_string(type_of(value))) {
        memory::SeriesBuffer* b = memory::buffer_of(value);
        uint32_t units = b->used_bytes() / b->unit();
        if (value->data1 > units) {
            Cell text = *value;
            text.data1 = units;
            collector::Root keep(&text);
            call_each(&text, new_line);
            return;
        }
    }
    call_each(value, new_line);
}

void call_write_hooks(const char* utf8, size_t length, int flag) {
    for (size_t i = 0; i < write_hooks.count; i++) write_hooks.hooks[i](utf8, length, flag);
}

size_t print_hook_count() { return print_hooks.count; }
size_t write_hook_count() { return write_hooks.count; }
size_t print_hook_capacity() { return print_hooks.capacity; }

} // namespace mox::dyn_print

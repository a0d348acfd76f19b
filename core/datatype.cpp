// The registry's name words (the tables and the registration are in
// datatype-registry.cpp, the datatype! datatype in datatypes/datatype.cpp).
#include "core/datatype.h"
#include "core/collector.h"
#include "core/global-words.h"
#include "core/memory.h"
#include "core/stack.h"

namespace mox::datatype {

namespace {

// The name words live in system memory: the collector must see them.
void mark_name_words() {
    for (uint32_t t = 1; t <= top_id; t++)
        collector::mark_values(&name_table[t].word, &name_table[t].word + 1);
}

} // namespace

void make_words() {
    static bool registered = false;
    if (!registered) {
        registered = true;
        collector::register_callback(mark_name_words);
    }
    words_made = true;
    for (uint32_t t = 1; t <= top_id; t++) {
        if (!name_table[t].name) continue;
        Cell word = *word::load(name_table[t].name);
        name_table[t].word = word;
    }
}

Cell* make_in(node_t block, uint32_t type) {
    return make_datatype(memory::alloc_tail(block), type);
}

Cell* push(uint32_t type) { return make_datatype(stack::push_cell(), type); }

} // namespace mox::datatype

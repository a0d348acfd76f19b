// email!: an address, molded as its bare text, with user and host reached
// by path; the rest is string!'s.
#include "datatypes/email.h"

#include "core/datatype.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::email {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return string::form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    uint32_t et = type_of(element);
    if (et == TYPE_INTEGER)
        return string::eval_path(parent, element, value, path, gparent, previous, position, case_,
                                 get, tail, notify);
    uint32_t sym = et == TYPE_WORD ? symbol::resolve(element->data2) : 0;
    bool user = sym && sym == symbol::resolve(words::user);
    bool host = sym && sym == symbol::resolve(words::host);
    if (!user && !host) {
        Cell none;
        make_none(&none);
        fire(err::invalid_path, path ? path : &none, element);
    }
    int32_t length = string::ms_length_q(parent);
    int32_t at = string::find_char(parent, '@');
    int32_t start = user ? 0 : at < 0 ? length : at + 1;
    int32_t end = user && at >= 0 ? at : length;
    Cell* span = stack::push(parent);
    span->data1 += static_cast<uint32_t>(start);
    if (value) {
        string::change(span, value, end - start, false, 1);
        return value;
    }
    Cell* result = string::push_new(static_cast<uint32_t>(end - start));
    string::concatenate(result, span, end - start);
    *span = *result;
    stack::pop(1);
    return span;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MOLD>(&mold).set<A_EVAL_PATH>(&eval_path);
    for (Action a : {A_RANDOM, A_SORT, A_TRIM}) slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_EMAIL, TYPE_STRING, "email!", slots);
}

} // namespace mox::email

// The PARSE engine and the parse native.
//
// One run is a loop over the states of a machine; nothing recurses on the
// native stack. Two engine-wide stacks (blocks held by the root block) carry
// the run's structure:
//
//   input stack  the outermost input, then one series per open `into`
//   rules stack  3-cell entries, the last cell telling their kind:
//     open rule block   none, triple (rule position in the enclosing block,
//                       input index, input length), the enclosing block!
//     pending keyword   first cell (triple (min, max, attempt) for
//                       repetitions, the target word of copy and set, a
//                       triple holding a saved index or mode otherwise),
//                       triple (rule position of the keyword, input index
//                       and length when its attempt began), pair (code, flag)
//
// Collect targets live on the evaluation stack above the run's result slot,
// so the collector sees them and `keep` writes to the top one. Runs nest
// (an action or a trace callback may call parse): while Mox code runs, both
// stacks' indexes are moved past the current entries, and a run that finds
// entries in its window anyway opens a window of its own. Whatever way a run
// ends, its entries are cleared and the windows put back, so the outer run
// continues with its own entries intact.
//
// Positions in the rule blocks and in the input are absolute indexes into
// their buffers, re-read through the cells after anything that may collect.
#include "evaluator/parse.h"

#include <algorithm>
#include <vector>

#include "core/actions.h"
#include "core/natives.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"

namespace mox::parse {

using memory::SeriesBuffer;

namespace {

Cell* inputs = nullptr;
Cell* rules_stack = nullptr;

enum Keyword : int32_t {
    KW_NOT_KEYWORD,
    KW_ANY,
    KW_BREAK,
    KW_COPY,
    KW_END,
    KW_FAIL,
    KW_INTO,
    KW_OPT,
    KW_NOT,
    KW_QUOTE,
    KW_CASE,
    KW_REJECT,
    KW_SET,
    KW_SKIP,
    KW_SOME,
    KW_THRU,
    KW_TO,
    KW_NONE,
    KW_BAR,
    KW_IF,
    KW_REMOVE,
    KW_WHILE,
    KW_INSERT,
    KW_ONLY,
    KW_COLLECT,
    KW_KEEP,
    KW_PICK,
    KW_AHEAD,
    KW_AFTER,
    KW_CHANGE,
};

// Keyword of each canonical symbol ID (the keywords are interned early, so
// the table is short), and a cache of the answers by symbol ID as written,
// which spares the alias lookup for every word of a rule (0: not looked up
// yet, else the keyword + 1).
std::vector<uint8_t> keywords;
std::vector<uint8_t> keyword_cache;

// Rule codes of pending keyword entries.
enum Code : int32_t {
    C_REPEAT = -1,
    C_TO = -2,
    C_THRU = -3,
    C_COPY = -4,
    C_SET = -5,
    C_NOT = -6,
    C_INTO = -7,
    C_REMOVE = -9,
    C_WHILE = -11,
    C_COLLECT = -12,
    C_KEEP = -13,
    C_AHEAD = -16,
    C_CHANGE = -17,
    C_CHANGE_ONLY = -18,
    C_CASE = -19,
};

enum State {
    PUSH_BLOCK,
    POP_BLOCK,
    CHECK,
    NEXT,
    VALUE,
    LITERAL,
    RULE_FOR_KEYWORD,
    RULE_VALUE,
    ALTERNATIVE,
    WORD,
    POP_RULE,
    END,
};

// How a run leaves its loop early.
struct Stop {};        // the trace callback answered false or none
struct PendingExit {}; // an action left break, return ... pending

// The keyword of a symbol ID not seen before; the answer is cached.
Keyword keyword_lookup(uint32_t raw) {
    uint32_t id = symbol::resolve(raw);
    uint8_t kw = id < keywords.size() ? keywords[id] : static_cast<uint8_t>(KW_NOT_KEYWORD);
    if (raw >= keyword_cache.size()) keyword_cache.resize(raw + 1024, 0);
    keyword_cache[raw] = static_cast<uint8_t>(kw + 1);
    return static_cast<Keyword>(kw);
}

inline Keyword keyword_of(const Cell* word) {
    if (type_of(word) != TYPE_WORD) return KW_NOT_KEYWORD;
    uint32_t raw = word->data2;
    if (raw < keyword_cache.size() && keyword_cache[raw])
        return static_cast<Keyword>(keyword_cache[raw] - 1);
    return keyword_lookup(raw);
}

inline Cell triple(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                static_cast<uint32_t>(c)};
}
inline int32_t t1(const Cell* c) { return static_cast<int32_t>(c->data1); }
inline int32_t t2(const Cell* c) { return static_cast<int32_t>(c->data2); }
inline int32_t t3(const Cell* c) { return static_cast<int32_t>(c->data3); }

inline uint32_t length_of(const Cell* blk) { return block::abs_length(blk); }
// Cell i of a block's buffer (i below its length).
inline Cell* cell_at(const Cell* blk, uint32_t i) { return block::buffer_of(blk)->cells() + i; }

// The cell n from the top of the rules stack (1 is the top).
inline Cell* entry_cell(int32_t n) { return block::buffer_of(rules_stack)->cells_tail() - n; }

void drop_cells(Cell* blk, uint32_t n) { block::ms_clear_at(blk, length_of(blk) - n); }

// Pushes an entry of three cells on the rules stack. The cells are read
// after the room is made, so they may be cells the collector rewrites. May
// collect.
void push_entry(const Cell* a, const Cell* b, const Cell* c) {
    SeriesBuffer* buf = block::buffer_of(rules_stack);
    if (buf->tail + 3 * sizeof(Cell) > arena::ref(buf->end()))
        buf = memory::expand_series(buf, 2 * (buf->used_bytes() + 3 * sizeof(Cell)));
    Cell* at = buf->cells_tail();
    at[0] = *a;
    at[1] = *b;
    at[2] = *c;
    buf->tail += 3 * sizeof(Cell);
}

// Whether a rule value is matched as it is: not a sub-rule, a word, a
// count, an action, a type test, a position or a path.
bool plain_value_q(uint32_t t) {
    switch (t) {
    case TYPE_BLOCK:
    case TYPE_WORD:
    case TYPE_INTEGER:
    case TYPE_PAREN:
    case TYPE_TYPESET:
    case TYPE_DATATYPE:
    case TYPE_SET_WORD:
    case TYPE_GET_WORD:
    case TYPE_PATH:
        return false;
    default:
        return true;
    }
}

bool series_value_q(uint32_t t) { return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY; }

// Moves both stacks' indexes past their entries while Mox code runs, so that
// a parse called from it works above this run's entries.
class Window {
  public:
    Window() : rules_(rules_stack->data1), inputs_(inputs->data1) {
        rules_stack->data1 = length_of(rules_stack);
        inputs->data1 = length_of(inputs);
    }
    ~Window() {
        rules_stack->data1 = rules_;
        inputs->data1 = inputs_;
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

  private:
    uint32_t rules_, inputs_;
};

// Where the stacks stood when a run began.
struct Saved {
    uint32_t rules_length, inputs_length, rules_index, inputs_index;
};

// A run that finds entries in view (it was started by Mox code that did not
// move the indexes) keeps them out of its way: a triple recording the
// indexes goes on the rules stack and both indexes move to the tails.
Saved open_window() {
    Saved saved{length_of(rules_stack), length_of(inputs), rules_stack->data1, inputs->data1};
    if (saved.rules_index < saved.rules_length) {
        Cell t = triple(static_cast<int32_t>(saved.rules_index),
                        static_cast<int32_t>(saved.inputs_index), 0);
        block::ms_append(rules_stack, &t);
        rules_stack->data1 = length_of(rules_stack);
        inputs->data1 = length_of(inputs);
    }
    return saved;
}

void close_window(const Saved& saved) {
    rules_stack->data1 = saved.rules_index;
    inputs->data1 = saved.inputs_index;
}

// Clears what the run added (its window's triple too) and closes the window.
void reset_stacks(const Saved& saved) {
    if (length_of(rules_stack) > saved.rules_length)
        block::ms_clear_at(rules_stack, saved.rules_length);
    if (length_of(inputs) > saved.inputs_length) block::ms_clear_at(inputs, saved.inputs_length);
    close_window(saved);
}

// A run's hold on the stacks: however the run ends, normally or by an error
// on its way out, the stacks are reset.
class Stacks {
  public:
    Stacks() : saved_(open_window()) {}
    ~Stacks() { reset_stacks(saved_); }
    Stacks(const Stacks&) = delete;
    Stacks& operator=(const Stacks&) = delete;

  private:
    Saved saved_;
};

// ---------------------------------------------------------------------------
// One run
// ---------------------------------------------------------------------------

class Run {
  public:
    Run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback);
    // Runs to the end; the result goes to out.
    void go(Cell* out);
    bool match() const { return match_; }

  private:
    // Evaluation-stack cells (they never move).
    Cell* in_;   // the working input
    Cell* cur_;  // the current rule block
    Cell* val_;  // the rule value being worked on
    Cell* word_; // the word a value came from
    Cell* tmp_;  // scratch for the matchers and actions
    Cell* tmp2_;
    Cell* tmp3_;
    Cell* callback_;
    Cell* result_; // the run's result slot; collect targets lie above it

    int32_t pos_ = 0;
    bool match_ = true;
    int32_t mode_;
    int32_t limit_;     // absolute /part limit of the outermost input, 0 for none
    int32_t cur_limit_; // the limit in force for the working input
    int32_t depth_ = 0; // open collects
    bool break_ = false;
    bool literal_word_ = false;
    bool from_word_ = false;
    bool left_at_tail_ = false;
    bool collected_ = false;
    bool tracing_;
    uint32_t evals_ = 0; // actions and callbacks run so far
    uint32_t rules_base_ = 0;
    uint32_t inputs_base_ = 0;

    // Input.
    uint32_t total() const {
        SeriesBuffer* b = memory::buffer_of(in_->data2);
        return b->used_bytes() >> series::unit_shift(b->unit());
    }
    uint32_t end_index() const {
        uint32_t t = total();
        return cur_limit_ > 0 ? std::min(t, static_cast<uint32_t>(cur_limit_)) : t;
    }
    bool at_end() const { return in_->data1 >= end_index(); }
    void clip_input() {
        if (in_->data1 > total()) in_->data1 = total();
    }
    bool same_input_q(const Cell* v) const {
        return type_of(v) == type_of(in_) && v->data2 == in_->data2;
    }
    // The element at index k as a value: a byte as integer!, a character as
    // char!, a block's cell.
    void element_at(uint32_t k, Cell* out) const;

    // Rules.
    int32_t tail() const { return static_cast<int32_t>(length_of(cur_)); }
    Cell* rule_at(int32_t i) const { return cell_at(cur_, static_cast<uint32_t>(i)); }
    bool has_next() const { return pos_ + 1 < tail(); }
    bool top_pending_q() const {
        return length_of(rules_stack) >= rules_base_ + 3 && type_of(entry_cell(1)) == TYPE_PAIR;
    }
    int32_t top_code() const { return t2(entry_cell(1)); }

    void push_rule(int32_t code, int32_t flag, const Cell* first);
    void drop_rule();
    State check() const { return top_pending_q() ? POP_RULE : match_ ? NEXT : ALTERNATIVE; }

    // Mox code.
    void eval_paren(const Cell* paren, Cell* out);
    void trace(uint32_t event) {
        if (tracing_) call_trace(event);
    }
    void call_trace(uint32_t event);
    void fetch_value(Cell* out);

    // States.
    State push_block();
    State pop_block();
    State value();
    State literal();
    State rule_value();
    State word();
    State keyword(Keyword kw);
    State count();
    State pop_rule();
    State repeat(Cell* first, Cell* at, Cell* pair);
    State to_thru(int32_t code, Cell* first, Cell* at);
    State into();
    State insert();
    State change();
    State collect();
    State keep();
    bool plain_next();
    void repeat_plain(int32_t min, int32_t max);
    void search_plain(bool thru);
    State remove();
    void settle_collect(int32_t kept);
    void finish(Cell* out);

    // Collection.
    Cell* target_series(Cell* target);
    void check_target(const Cell* series);
    void keep_value(Cell* value, bool splice);
    void keep_matched(uint32_t start, uint32_t stop, bool pick);
    void keep_insert(Cell* target, Cell* value, bool only, int32_t part);
};

Run::Run(const Cell* input, const Cell* rules, int32_t mode, int32_t limit, const Cell* callback)
    : mode_(mode), limit_(limit), cur_limit_(limit), tracing_(type_of(callback) != TYPE_NONE) {
    in_ = stack::push(input);
    cur_ = stack::push(rules);
    val_ = stack::push(rules);
    word_ = make_none(stack::push_cell());
    tmp_ = make_none(stack::push_cell());
    tmp2_ = make_none(stack::push_cell());
    tmp3_ = make_none(stack::push_cell());
    callback_ = stack::push(callback);
    result_ = stack::push_cell();
    uint32_t tail = length_of(cur_);
    if (cur_->data1 > tail) cur_->data1 = tail;
    pos_ = static_cast<int32_t>(cur_->data1) - 1;
    if (in_->data1 > total()) in_->data1 = total();
}

void Run::element_at(uint32_t k, Cell* out) const {
    switch (kind_of(type_of(in_))) {
    case INPUT_BLOCK:
        *out = *block::ms_abs_at(in_, k);
        break;
    case INPUT_BINARY:
        make_integer(out, memory::buffer_of(in_)->head_ptr()[k]);
        break;
    default:
        make_char(out, string::abs_char_at(in_, k));
        break;
    }
}

void Run::push_rule(int32_t code, int32_t flag, const Cell* first) {
    Cell at = triple(pos_, static_cast<int32_t>(in_->data1), static_cast<int32_t>(total()));
    Cell pair{TYPE_PAIR, 0, static_cast<uint32_t>(code), static_cast<uint32_t>(flag)};
    push_entry(first, &at, &pair);
    trace(words::global::push.data2);
}

void Run::drop_rule() {
    trace(words::global::pop.data2);
    drop_cells(rules_stack, 3);
}

// Runs an action paren with the stack windows moved past this run's
// entries; its value goes to out.
void Run::eval_paren(const Cell* paren, Cell* out) {
    Cell* mark = stack::top;
    Cell* code = stack::push(paren);
    evals_++;
    {
        Window window;
        interpreter::eval_block(code, false);
    }
    if (stack::pending) throw PendingExit{};
    *out = *(stack::top - 1);
    stack::top = mark;
}

void Run::call_trace(uint32_t event) {
    Cell* mark = stack::top;
    Cell name = *word::from_symbol(event);
    Cell* args = stack::push(&name);
    make_logic(stack::push_cell(), match_);
    Cell* rule = stack::push(cur_);
    rule->data1 = static_cast<uint32_t>(std::clamp(pos_, 0, tail()));
    stack::push(in_);
    // The callback sees a copy of the entries: changing them could not
    // steer the run, only break it.
    block::clone(rules_stack, false, false);
    evals_++;
    {
        Window window;
        interpreter::call_value(callback_, args, 5, args);
    }
    bool go_on = logic::truthy(args);
    stack::top = mark;
    if (!go_on) throw Stop{};
    // It may have shortened the rules or the input.
    pos_ = std::min(pos_, tail());
    clip_input();
}

// The value after insert or change: a paren's result, a word's value, or
// the cell itself.
void Run::fetch_value(Cell* out) {
    Cell* c = rule_at(pos_);
    switch (type_of(c)) {
    case TYPE_PAREN:
        *tmp3_ = *c;
        eval_paren(tmp3_, out);
        trace(words::global::paren.data2);
        break;
    case TYPE_WORD: {
        *word_ = *c;
        Cell* v = word::get_value(word_);
        if (type_of(v) == TYPE_UNSET) fire(err::no_value, word_);
        *out = *v;
        break;
    }
    case TYPE_PATH:
        *word_ = *c;
        fire(err::parse_rule, word_);
    default:
        *out = *c;
        break;
    }
}

// ---------------------------------------------------------------------------
// The loop
// ---------------------------------------------------------------------------

void Run::go(Cell* out) {
    rules_base_ = length_of(rules_stack);
    inputs_base_ = length_of(inputs);
    block::ms_append(inputs, in_);
    State s = PUSH_BLOCK;
    for (;;) {
        switch (s) {
        case PUSH_BLOCK:
            s = push_block();
            break;
        case POP_BLOCK:
            s = pop_block();
            break;
        case CHECK:
            s = check();
            break;
        case NEXT:
            pos_++;
            if (pos_ >= tail()) {
                s = top_pending_q() ? POP_RULE : POP_BLOCK;
                break;
            }
            trace(words::global::fetch.data2);
            *val_ = *rule_at(pos_);
            from_word_ = false;
            s = VALUE;
            break;
        case VALUE:
            s = value();
            break;
        case LITERAL:
            s = literal();
            break;
        case RULE_FOR_KEYWORD:
            if (!has_next()) {
                match_ = true;
                s = CHECK;
                break;
            }
            pos_++;
            *val_ = *rule_at(pos_);
            from_word_ = false;
            s = RULE_VALUE;
            break;
        case RULE_VALUE:
            s = rule_value();
            break;
        case ALTERNATIVE: {
            in_->data1 = static_cast<uint32_t>(t2(entry_cell(2)));
            clip_input();
            int32_t from = std::max(pos_, static_cast<int32_t>(cur_->data1));
            int32_t offset = find_alternative(cur_, from);
            if (offset >= 0) {
                pos_ = from + offset;
                match_ = true;
                s = NEXT;
            } else {
                match_ = false;
                s = POP_BLOCK;
            }
            break;
        }
        case WORD:
            s = word();
            break;
        case POP_RULE:
            s = pop_rule();
            break;
        case END:
            finish(out);
            return;
        }
    }
}

State Run::push_block() {
    if (length_of(rules_stack) + 3 > STACK_LIMIT || length_of(inputs) > STACK_LIMIT)
        fire(err::parse_stack);
    Cell none{TYPE_NONE, 0, 0, 0};
    Cell at = triple(pos_, static_cast<int32_t>(in_->data1), static_cast<int32_t>(total()));
    push_entry(&none, &at, cur_);
    *cur_ = *val_;
    if (cur_->data1 > length_of(cur_)) cur_->data1 = length_of(cur_);
    pos_ = static_cast<int32_t>(cur_->data1) - 1;
    match_ = true;
    trace(words::global::push.data2);
    return NEXT;
}

State Run::pop_block() {
    trace(words::global::pop.data2);
    if (length_of(rules_stack) - 3 <= rules_base_) return END;
    left_at_tail_ = pos_ >= tail();
    pos_ = t1(entry_cell(2));
    *cur_ = *entry_cell(1);
    drop_cells(rules_stack, 3);
    return check();
}

State Run::value() {
    switch (type_of(val_)) {
    case TYPE_BLOCK:
        return PUSH_BLOCK;
    case TYPE_WORD:
        if (from_word_) fire(err::parse_rule, val_);
        return WORD;
    case TYPE_DATATYPE:
    case TYPE_TYPESET: {
        InputKind kind = kind_of(type_of(in_));
        if (kind == INPUT_STRING) fire(err::parse_unsupported);
        if (at_end()) {
            match_ = false;
        } else if (kind == INPUT_BINARY) {
            int32_t n = match_datatype_binary(in_, val_, end_index(), tmp_);
            match_ = n >= 0;
            if (match_) in_->data1 += static_cast<uint32_t>(n);
        } else {
            uint32_t t = type_of(block::ms_abs_at(in_, in_->data1));
            match_ = type_of(val_) == TYPE_DATATYPE ? t == val_->data1 : typeset_has(val_, t);
            if (match_) in_->data1++;
        }
        trace(words::global::match.data2);
        return CHECK;
    }
    case TYPE_SET_WORD:
        word::set(val_, in_);
        return NEXT;
    case TYPE_GET_WORD: {
        Cell* v = word::get_value(val_);
        if (!same_input_q(v)) fire(err::parse_invalid_ref, v);
        in_->data1 = std::min(v->data1, total());
        match_ = true;
        return CHECK;
    }
    case TYPE_INTEGER:
        return count();
    case TYPE_PAREN:
        eval_paren(val_, tmp_);
        trace(words::global::paren.data2);
        // The action may have changed the rules and the input.
        pos_ = std::min(pos_, tail() - 1);
        clip_input();
        return CHECK;
    case TYPE_PATH:
        fire(err::parse_rule, val_);
    default:
        return LITERAL;
    }
}

State Run::literal() {
    int32_t n = match_literal(in_, val_, mode_, end_index(), tmp_);
    match_ = n >= 0;
    if (match_) in_->data1 += static_cast<uint32_t>(n);
    trace(words::global::match.data2);
    return CHECK;
}

// A repetition count n, or a range n m, before a rule.
State Run::count() {
    int32_t n = get_integer(val_);
    if (n < 0) fire(err::out_of_range, val_);
    if (!has_next()) fire(err::parse_rule, val_);
    int32_t m = n;
    Cell* next = rule_at(pos_ + 1);
    bool range = false;
    if (type_of(next) == TYPE_INTEGER) {
        m = get_integer(next);
        range = true;
    } else if (type_of(next) == TYPE_WORD && keyword_of(next) == KW_NOT_KEYWORD) {
        *word_ = *next;
        Cell* v = word::get_value(word_);
        if (type_of(v) == TYPE_INTEGER) {
            m = get_integer(v);
            range = true;
        }
    }
    if (range) {
        if (m < n) fire(err::parse_rule, val_);
        pos_++;
        if (!has_next()) fire(err::parse_rule, val_);
    }
    if (m == 0) {
        pos_++;
        match_ = true;
        return CHECK;
    }
    Cell first = triple(n, m, 1);
    push_rule(C_REPEAT, 0, &first);
    return RULE_FOR_KEYWORD;
}

// The value after a keyword (or a word's value standing for it).
State Run::rule_value() {
    uint32_t t = type_of(val_);
    int32_t code = top_code();
    switch (t) {
    case TYPE_BLOCK:
        return PUSH_BLOCK;
    case TYPE_WORD:
        if ((code == C_TO || code == C_THRU) && keyword_of(val_) == KW_END) {
            in_->data1 = end_index();
            match_ = true;
            trace(words::global::match.data2);
            drop_rule();
            return CHECK;
        }
        literal_word_ = code != C_COLLECT && code != C_KEEP;
        return WORD;
    default:
        break;
    }
    if (!plain_value_q(t)) return VALUE;
    if (code == C_REPEAT || code == C_WHILE) {
        Cell* first = entry_cell(3);
        repeat_plain(t1(first), t2(first));
        trace(words::global::match.data2);
        drop_rule();
        return CHECK;
    }
    if (code == C_TO || code == C_THRU) {
        search_plain(code == C_THRU);
        trace(words::global::match.data2);
        drop_rule();
        return CHECK;
    }
    return VALUE;
}

void Run::repeat_plain(int32_t min, int32_t max) {
    uint32_t units = 0;
    int32_t n = repeat_value(in_, val_, mode_, end_index(), max, &units, tmp_);
    match_ = n >= min;
    if (match_)
        in_->data1 += units;
    else if (min == 0)
        match_ = true;
}

void Run::search_plain(bool thru) {
    uint32_t units = 0;
    int64_t at = search(in_, val_, mode_, end_index(), &units, tmp_);
    match_ = at >= 0;
    if (match_) in_->data1 = static_cast<uint32_t>(at) + (thru ? units : 0);
}

// Without a trace to report the entry's events, a repetition or a to/thru
// of one plain value (written, or held by a word) needs no entry: it is
// matched at once. Fetches that value into val_ and answers whether it is
// one.
bool Run::plain_next() {
    if (tracing_ || !has_next()) return false;
    const Cell* next = rule_at(pos_ + 1);
    if (type_of(next) == TYPE_WORD) {
        if (keyword_of(next) != KW_NOT_KEYWORD) return false;
        next = word::get_value(next);
        uint32_t t = type_of(next);
        if (t == TYPE_UNSET || is_any_word(t)) return false;
    }
    if (!plain_value_q(type_of(next))) return false;
    *val_ = *next;
    pos_++;
    return true;
}

State Run::word() {
    Keyword kw = keyword_of(val_);
    bool literal = literal_word_;
    literal_word_ = false;
    if (kw != KW_NOT_KEYWORD) return keyword(kw);
    *word_ = *val_;
    Cell* v = word::get_value(word_);
    if (type_of(v) == TYPE_UNSET) fire(err::parse_rule, word_);
    *val_ = *v;
    from_word_ = true;
    if (!literal) return VALUE;
    return is_any_word(type_of(val_)) ? LITERAL : RULE_VALUE;
}

State Run::keyword(Keyword kw) {
    // Keywords that take a rule raise parse-end when nothing follows them.
    auto need_next = [this](err::Code code) {
        if (!has_next()) fire(code, val_);
    };
    switch (kw) {
    case KW_ANY:
    case KW_SOME:
    case KW_OPT: {
        if (plain_next()) {
            repeat_plain(kw == KW_SOME ? 1 : 0, kw == KW_OPT ? 1 : -1);
            return CHECK;
        }
        Cell first = triple(kw == KW_SOME ? 1 : 0, kw == KW_OPT ? 1 : -1, 1);
        push_rule(C_REPEAT, 0, &first);
        return RULE_FOR_KEYWORD;
    }
    case KW_WHILE: {
        need_next(err::parse_end);
        Cell first = triple(0, -1, 1);
        push_rule(C_WHILE, static_cast<int32_t>(evals_), &first);
        return RULE_FOR_KEYWORD;
    }
    case KW_TO:
    case KW_THRU: {
        need_next(err::parse_end);
        if (plain_next()) {
            search_plain(kw == KW_THRU);
            return CHECK;
        }
        Cell first = triple(static_cast<int32_t>(in_->data1), 0, 1);
        push_rule(kw == KW_TO ? C_TO : C_THRU, 0, &first);
        return RULE_FOR_KEYWORD;
    }
    case KW_COPY:
    case KW_SET: {
        if (!has_next() || type_of(rule_at(pos_ + 1)) != TYPE_WORD || pos_ + 2 >= tail())
            fire(err::parse_end, val_);
        pos_++;
        *tmp_ = *rule_at(pos_);
        push_rule(kw == KW_COPY ? C_COPY : C_SET, 0, tmp_);
        return RULE_FOR_KEYWORD;
    }
    case KW_NOT:
    case KW_AHEAD: {
        need_next(err::parse_end);
        Cell first = triple(0, 0, 1);
        push_rule(kw == KW_NOT ? C_NOT : C_AHEAD, 0, &first);
        return RULE_FOR_KEYWORD;
    }
    case KW_INTO:
        return into();
    case KW_REMOVE:
        return remove();
    case KW_INSERT:
        return insert();
    case KW_CHANGE:
        return change();
    case KW_COLLECT:
        return collect();
    case KW_KEEP:
        return keep();
    case KW_CASE: {
        if (!has_next() || type_of(rule_at(pos_ + 1)) != TYPE_WORD) fire(err::parse_end, val_);
        pos_++;
        *word_ = *rule_at(pos_);
        int32_t mode = logic::truthy(word::get_value(word_)) ? MODE_STRICT : MODE_FOLD;
        Cell first = triple(0, mode_, 1);
        push_rule(C_CASE, 0, &first);
        mode_ = mode;
        return RULE_FOR_KEYWORD;
    }
    case KW_SKIP:
        match_ = !at_end();
        if (match_) in_->data1++;
        trace(words::global::match.data2);
        return CHECK;
    case KW_END:
        match_ = at_end();
        trace(words::global::match.data2);
        return CHECK;
    case KW_NONE:
        match_ = true;
        return CHECK;
    case KW_FAIL:
        match_ = false;
        return CHECK;
    case KW_BREAK:
    case KW_REJECT:
        // The enclosing block ends here; the repetition around it stops.
        match_ = kw == KW_BREAK;
        break_ = true;
        if (!top_pending_q()) pos_ = tail() - 1;
        return CHECK;
    case KW_QUOTE:
        need_next(err::parse_end);
        pos_++;
        *val_ = *rule_at(pos_);
        return LITERAL;
    case KW_IF: {
        if (!has_next() || type_of(rule_at(pos_ + 1)) != TYPE_PAREN) fire(err::parse_end, val_);
        pos_++;
        *val_ = *rule_at(pos_);
        eval_paren(val_, tmp_);
        trace(words::global::paren.data2);
        match_ = logic::truthy(tmp_);
        return CHECK;
    }
    case KW_BAR:
        // The alternative before it succeeded: the block is done.
        pos_ = tail() - 1;
        return NEXT;
    default:
        fire(err::parse_rule, val_);
    }
}

State Run::into() {
    if (kind_of(type_of(in_)) != INPUT_BLOCK) fire(err::parse_block, in_);
    if (!has_next()) fire(err::parse_end, val_);
    *tmp_ = *rule_at(pos_ + 1);
    if (type_of(tmp_) == TYPE_WORD && keyword_of(tmp_) == KW_NOT_KEYWORD) {
        *word_ = *tmp_;
        *tmp_ = *word::get_value(word_);
    }
    if (type_of(tmp_) != TYPE_BLOCK) fire(err::parse_end, val_);
    bool usable = !at_end();
    if (usable) {
        element_at(in_->data1, tmp2_);
        usable = series_value_q(type_of(tmp2_));
    }
    if (!usable) {
        pos_++;
        match_ = false;
        trace(words::global::match.data2);
        return CHECK;
    }
    Cell first = triple(0, 0, 1);
    push_rule(C_INTO, 0, &first);
    pos_++;
    block::ms_append(inputs, tmp2_);
    *in_ = *tmp2_;
    cur_limit_ = 0;
    clip_input();
    *val_ = *tmp_;
    return PUSH_BLOCK;
}

// remove rule, or remove pos: the part from the position to the current
// index goes at once.
State Run::remove() {
    if (!has_next()) fire(err::parse_end, val_);
    Cell* next = rule_at(pos_ + 1);
    uint32_t t = type_of(next);
    if (t == TYPE_PATH) {
        *word_ = *next;
        fire(err::parse_rule, word_);
    }
    if (t == TYPE_WORD || t == TYPE_GET_WORD) {
        *word_ = *next;
        Cell* v = word::get_value(word_);
        if (same_input_q(v)) {
            uint32_t at = std::min(v->data1, total());
            uint32_t here = in_->data1;
            *tmp_ = *in_;
            tmp_->data1 = std::min(at, here);
            Cell* part =
                make_integer(tmp2_, static_cast<int32_t>(std::max(at, here) - tmp_->data1));
            actions::remove(tmp_, part, nullptr);
            in_->data1 = std::min(at, here);
            pos_++;
            match_ = true;
            clip_input();
            return CHECK;
        }
    }
    Cell first = triple(0, 0, 1);
    push_rule(C_REMOVE, 0, &first);
    return RULE_FOR_KEYWORD;
}

// insert [only] [pos] value: never fails, consumes nothing.
State Run::insert() {
    if (!has_next()) fire(err::parse_end, val_);
    bool only = false;
    if (keyword_of(rule_at(pos_ + 1)) == KW_ONLY) {
        only = true;
        pos_++;
        if (!has_next()) fire(err::parse_end, val_);
    }
    uint32_t at = in_->data1;
    Cell* next = rule_at(pos_ + 1);
    if (type_of(next) == TYPE_WORD || type_of(next) == TYPE_GET_WORD) {
        *word_ = *next;
        Cell* v = word::get_value(word_);
        if (same_input_q(v)) {
            at = std::min(v->data1, total());
            pos_++;
            if (!has_next()) fire(err::parse_rule, val_);
        }
    }
    pos_++;
    fetch_value(tmp2_);
    uint32_t before = total();
    *tmp_ = *in_;
    tmp_->data1 = at;
    actions::insert(tmp_, tmp2_, -1, only, 1);
    uint32_t added = total() - before;
    if (at <= in_->data1) in_->data1 += added;
    match_ = true;
    clip_input();
    return CHECK;
}

// change [only] rule value, or change [only] pos value at once.
State Run::change() {
    if (!has_next()) fire(err::parse_rule, val_);
    bool only = false;
    if (keyword_of(rule_at(pos_ + 1)) == KW_ONLY) {
        only = true;
        pos_++;
        if (!has_next()) fire(err::parse_rule, val_);
    }
    Cell* next = rule_at(pos_ + 1);
    if (type_of(next) == TYPE_WORD || type_of(next) == TYPE_GET_WORD) {
        *word_ = *next;
        Cell* v = word::get_value(word_);
        if (same_input_q(v)) {
            uint32_t at = std::min(v->data1, total());
            uint32_t here = in_->data1;
            pos_++;
            if (!has_next()) fire(err::parse_end, val_);
            pos_++;
            fetch_value(tmp2_);
            *tmp_ = *in_;
            tmp_->data1 = std::min(at, here);
            actions::change(tmp_, tmp2_, static_cast<int32_t>(std::max(at, here) - tmp_->data1),
                            only, 1);
            in_->data1 = tmp_->data1;
            match_ = true;
            clip_input();
            return CHECK;
        }
    }
    Cell first = triple(0, 0, 1);
    push_rule(only ? C_CHANGE_ONLY : C_CHANGE, 0, &first);
    return RULE_FOR_KEYWORD;
}

// collect [set word | into word | after word] rule: the target goes on the
// evaluation stack.
State Run::collect() {
    if (!has_next()) fire(err::parse_end, val_);
    Keyword how = keyword_of(rule_at(pos_ + 1));
    int32_t kept = 0;
    if (how == KW_SET || how == KW_INTO || how == KW_AFTER) {
        if (pos_ + 2 >= tail() || type_of(rule_at(pos_ + 2)) != TYPE_WORD)
            fire(err::parse_end, val_);
        pos_ += 2;
        *word_ = *rule_at(pos_);
        if (how == KW_SET) {
            stack::push(word_);
            block::make_at(stack::push_cell(), 8);
        } else {
            Cell* v = word::get_value(word_);
            check_target(v);
            kept = static_cast<int32_t>(v->data1);
            set_type(stack::push(word_), how == KW_INTO ? TYPE_GET_WORD : TYPE_REFINEMENT);
        }
    } else {
        block::make_at(stack::push_cell(), 8);
    }
    if (!has_next()) fire(err::parse_end, val_);
    depth_++;
    Cell first = triple(0, kept, 1);
    push_rule(C_COLLECT, 0, &first);
    return RULE_FOR_KEYWORD;
}

// keep [pick] rule, keep [pick] (expr).
State Run::keep() {
    if (depth_ == 0) fire(err::parse_keep);
    if (!has_next()) fire(err::parse_end, val_);
    bool pick = false;
    if (keyword_of(rule_at(pos_ + 1)) == KW_PICK) {
        pick = true;
        pos_++;
        if (!has_next()) fire(err::parse_end, val_);
    }
    if (type_of(rule_at(pos_ + 1)) == TYPE_PAREN) {
        pos_++;
        *tmp3_ = *rule_at(pos_);
        eval_paren(tmp3_, tmp2_);
        trace(words::global::paren.data2);
        keep_value(tmp2_, pick && type_of(tmp2_) == TYPE_BLOCK);
        match_ = true;
        return CHECK;
    }
    Cell first = triple(0, 0, 1);
    push_rule(C_KEEP, pick ? 1 : 0, &first);
    return RULE_FOR_KEYWORD;
}

// ---------------------------------------------------------------------------
// Pending keywords
// ---------------------------------------------------------------------------

State Run::pop_rule() {
    Cell* first = entry_cell(3);
    Cell* at = entry_cell(2);
    int32_t code = top_code();
    int32_t flag = t3(entry_cell(1));
    uint32_t start = std::min(static_cast<uint32_t>(t2(at)), total());
    switch (code) {
    case C_REPEAT:
    case C_WHILE:
        return repeat(first, at, entry_cell(1));
    case C_TO:
    case C_THRU:
        return to_thru(code, first, at);
    case C_COPY:
        if (match_) {
            *word_ = *first;
            *tmp_ = *in_;
            tmp_->data1 = start;
            Cell* part =
                make_integer(tmp2_, static_cast<int32_t>(in_->data1) - static_cast<int32_t>(start));
            actions::copy(tmp_, tmp3_, part, false, nullptr);
            word::set(word_, tmp3_);
        }
        break;
    case C_SET:
        if (match_) {
            *word_ = *first;
            if (in_->data1 > start)
                element_at(start, tmp_);
            else
                make_none(tmp_);
            word::set(word_, tmp_);
        }
        break;
    case C_NOT:
        match_ = !match_;
        in_->data1 = start;
        break;
    case C_AHEAD:
        in_->data1 = start;
        break;
    case C_INTO: {
        bool consumed = in_->data1 >= total();
        match_ = match_ && left_at_tail_ && consumed;
        drop_cells(inputs, 1);
        *in_ = *block::ms_abs_at(inputs, length_of(inputs) - 1);
        in_->data1 = std::min(static_cast<uint32_t>(t2(at)) + (match_ ? 1 : 0), total());
        cur_limit_ = length_of(inputs) - inputs_base_ == 1 ? limit_ : 0;
        break;
    }
    case C_REMOVE:
        if (match_ && in_->data1 > start) {
            *tmp_ = *in_;
            tmp_->data1 = start;
            Cell* part = make_integer(tmp2_, static_cast<int32_t>(in_->data1 - start));
            actions::remove(tmp_, part, nullptr);
            in_->data1 = start;
        }
        break;
    case C_COLLECT:
        settle_collect(t2(first));
        break;
    case C_KEEP:
        if (match_) keep_matched(start, in_->data1, flag == 1);
        break;
    case C_CHANGE:
    case C_CHANGE_ONLY: {
        // The value after the rule is taken whether or not it matched, so
        // that it is never read as a rule.
        if (!has_next()) {
            if (match_) {
                *word_ = *word::from_symbol(words::global::change.data2);
                fire(err::parse_end, word_);
            }
            break;
        }
        pos_++;
        fetch_value(tmp2_);
        if (match_) {
            *tmp_ = *in_;
            tmp_->data1 = start;
            actions::change(tmp_, tmp2_,
                            static_cast<int32_t>(in_->data1) - static_cast<int32_t>(start),
                            code == C_CHANGE_ONLY, 1);
            in_->data1 = tmp_->data1;
        }
        break;
    }
    case C_CASE:
        mode_ = t2(first);
        break;
    default:
        break;
    }
    clip_input();
    drop_rule();
    return CHECK;
}

State Run::repeat(Cell* first, Cell* at, Cell* pair) {
    int32_t min = t1(first), max = t2(first), attempt = t3(first);
    int32_t code = t2(pair);
    uint32_t start = static_cast<uint32_t>(t2(at));
    bool still = in_->data1 == start && total() >= static_cast<uint32_t>(t3(at));
    bool go_on = match_ && (max < 0 || attempt < max);
    if (code == C_REPEAT && still) go_on = false;
    if (break_) {
        go_on = false;
        break_ = false;
    }
    if (go_on && code == C_WHILE && still && total() == static_cast<uint32_t>(t3(at)) &&
        static_cast<uint32_t>(t3(pair)) == evals_) {
        // Nothing moved and no action ran: every further attempt would be
        // the same, for ever.
        *tmp_ = *cur_;
        tmp_->data1 = static_cast<uint32_t>(std::max(t1(at), 0));
        fire(err::parse_infinite, tmp_);
    }
    if (go_on) {
        at->data2 = in_->data1;
        at->data3 = total();
        first->data3 = static_cast<uint32_t>(attempt + 1);
        pair->data3 = evals_;
        pos_ = t1(at);
        trace(words::global::iterate.data2);
        return RULE_FOR_KEYWORD;
    }
    if (match_) {
        match_ = attempt >= min;
    } else {
        match_ = attempt - 1 >= min || min == 0;
        in_->data1 = std::min(start, total());
    }
    drop_rule();
    return CHECK;
}

// to/thru with a sub-rule: tried at each position until it matches.
State Run::to_thru(int32_t code, Cell* first, Cell* at) {
    uint32_t start = std::min(static_cast<uint32_t>(t2(at)), total());
    if (match_) {
        if (code == C_TO) in_->data1 = start;
    } else if (start >= end_index()) {
        in_->data1 = std::min(static_cast<uint32_t>(t1(first)), total());
    } else {
        at->data2 = start + 1;
        in_->data1 = start + 1;
        pos_ = t1(at);
        trace(words::global::iterate.data2);
        return RULE_FOR_KEYWORD;
    }
    drop_rule();
    return CHECK;
}

// ---------------------------------------------------------------------------
// Collection
// ---------------------------------------------------------------------------

// The series an into/after target word holds, checked.
Cell* Run::target_series(Cell* target) {
    *word_ = *target;
    set_type(word_, TYPE_WORD);
    Cell* v = word::get_value(word_);
    check_target(v);
    return v;
}

void Run::check_target(const Cell* series) {
    uint32_t t = type_of(series);
    InputKind kind = kind_of(type_of(in_));
    bool ok = t == type_of(in_) || is_any_block(t) || (is_any_string(t) && kind != INPUT_BLOCK) ||
              (t == TYPE_BINARY && kind == INPUT_BINARY);
    if (!ok) fire(err::parse_into_type);
    if (series->data2 == in_->data2 ||
        series->data2 == block::ms_abs_at(inputs, inputs_base_)->data2)
        fire(err::parse_into_bad);
}

// Puts one value into the innermost target: a block target gets a copy
// appended, an into/after target the insert action at its position (after
// the values kept before) or at its tail.
void Run::keep_insert(Cell* target, Cell* value, bool only, int32_t part) {
    if (type_of(target) == TYPE_BLOCK) {
        block::ms_append(target, value);
        return;
    }
    bool into = type_of(target) == TYPE_GET_WORD;
    *tmp3_ = *target_series(target);
    if (into) {
        actions::insert(tmp3_, value, part, only, 1);
        Cell* v = word::get_value(word_);
        if (v->data2 == tmp3_->data2) v->data1 = tmp3_->data1;
    } else {
        actions::append(tmp3_, value, part, only, 1);
    }
}

void Run::keep_value(Cell* value, bool splice) {
    Cell* target = stack::top - 1;
    if (!splice) {
        keep_insert(target, value, false, -1);
        return;
    }
    Cell* mark = stack::top;
    Cell* list = stack::push(value);
    Cell* item = stack::push_cell();
    for (uint32_t k = list->data1; k < length_of(list); k++) {
        *item = *block::ms_abs_at(list, k);
        stack::top = item + 1;
        keep_insert(target, item, false, -1);
    }
    stack::top = mark;
}

// What keep rule keeps of the matched units.
void Run::keep_matched(uint32_t start, uint32_t stop, bool pick) {
    if (stop <= start) return;
    Cell* mark = stack::top;
    Cell* target = stack::top - 1;
    bool block_target = type_of(target) == TYPE_BLOCK;
    if (!block_target && kind_of(type_of(target_series(target))) != INPUT_BLOCK) {
        // Text into text or bytes: the matched part goes in as it is.
        Cell* part = stack::push(in_);
        part->data1 = start;
        keep_insert(target, part, false, static_cast<int32_t>(stop - start));
        stack::top = mark;
        return;
    }
    Cell* item = stack::push_cell();
    if (stop - start == 1 || pick) {
        for (uint32_t k = start; k < stop; k++) {
            element_at(k, item);
            keep_insert(target, item, false, -1);
        }
    } else {
        Cell* from = stack::push(in_);
        from->data1 = start;
        Cell* part = make_integer(stack::push_cell(), static_cast<int32_t>(stop - start));
        actions::copy(from, item, part, false, nullptr);
        keep_insert(target, item, false, -1);
    }
    stack::top = mark;
}

// A collect's rule is done: its target is settled and popped.
void Run::settle_collect(int32_t kept) {
    depth_--;
    Cell* target = stack::top - 1;
    if (type_of(target) == TYPE_BLOCK) {
        Cell* below = target - 1;
        if (below > result_ && type_of(below) == TYPE_WORD) {
            word::set(below, target);
            stack::top = below;
        } else if (depth_ > 0) {
            *tmp2_ = *target;
            stack::top = target;
            keep_insert(target - 1, tmp2_, true, -1);
        } else {
            *result_ = *target;
            collected_ = true;
            stack::top = target;
        }
        return;
    }
    *word_ = *target;
    set_type(word_, TYPE_WORD);
    Cell* v = word::get_value(word_);
    if (series_value_q(type_of(v))) v->data1 = static_cast<uint32_t>(kept);
    stack::top = target;
}

void Run::finish(Cell* out) {
    bool input_left = length_of(inputs) - inputs_base_ == 1 && in_->data1 < end_index();
    match_ = match_ && pos_ >= tail() && !input_left;
    trace(words::end);
    if (collected_)
        *out = *result_;
    else
        make_logic(out, match_);
}

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

int32_t find_alternative(const Cell* block, int32_t position) {
    SeriesBuffer* b = block::buffer_of(block);
    const Cell* cells = b->cells();
    int32_t total = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    for (int32_t k = std::max(position, 0); k < total; k++)
        if (keyword_of(cells + k) == KW_BAR) return k - position;
    return -1;
}

void init() {
    if (rules_stack) return;
    Cell holder;
    block::make_at(&holder, 8);
    inputs = root_append(&holder);
    block::make_at(&holder, 100);
    rules_stack = root_append(&holder);
    const std::pair<uint32_t, Keyword> table[] = {
        {words::any, KW_ANY},
        {words::break_, KW_BREAK},
        {words::copy, KW_COPY},
        {words::end, KW_END},
        {words::fail, KW_FAIL},
        {words::into, KW_INTO},
        {words::opt, KW_OPT},
        {words::not_, KW_NOT},
        {words::quote, KW_QUOTE},
        {words::case_, KW_CASE},
        {words::reject, KW_REJECT},
        {words::set, KW_SET},
        {words::skip, KW_SKIP},
        {words::some, KW_SOME},
        {words::thru, KW_THRU},
        {words::to, KW_TO},
        {words::none, KW_NONE},
        {words::bar, KW_BAR},
        {words::if_, KW_IF},
        {words::remove, KW_REMOVE},
        {words::while_, KW_WHILE},
        {words::insert, KW_INSERT},
        {words::only, KW_ONLY},
        {words::collect, KW_COLLECT},
        {words::keep, KW_KEEP},
        {words::pick, KW_PICK},
        {words::ahead, KW_AHEAD},
        {words::after, KW_AFTER},
        {words::global::change.data2, KW_CHANGE},
    };
    for (const auto& [symbol, kw] : table) {
        uint32_t id = symbol::resolve(symbol);
        if (id >= keywords.size()) keywords.resize(id + 1, KW_NOT_KEYWORD);
        keywords[id] = static_cast<uint8_t>(kw);
    }
}

void process(const Cell* input, const Cell* rules, int32_t mode, int32_t limit,
             const Cell* callback, Cell* out) {
    Cell* mark = stack::top;
    Stacks stacks;
    Run run(input, rules, mode, limit, callback);
    try {
        run.go(out);
    } catch (const Stop&) {
        make_logic(out, run.match());
    } catch (const PendingExit&) {
    }
    stack::top = mark;
}

} // namespace mox::parse

namespace mox::natives {

void parse_star(int32_t case_, int32_t part, int32_t trace) {
    Cell* args = stack::arguments;
    Cell* input = args;
    int32_t limit = 0;
    if (part >= 0) {
        Cell* length = args + part;
        int64_t at;
        switch (type_of(length)) {
        case TYPE_INTEGER:
            at = int64_t{input->data1} + get_integer(length);
            break;
        case TYPE_FLOAT:
            at = int64_t{input->data1} + static_cast<int64_t>(get_float(length));
            break;
        default:
            if (!block::same_series_q(length, input)) series::fire_refine_arg("part", length);
            at = length->data1;
            break;
        }
        if (at < 1) {
            make_logic(args, parse::total_of(input) <= input->data1);
            return;
        }
        limit = static_cast<int32_t>(std::min<int64_t>(at, INT32_MAX));
    }
    Cell none{TYPE_NONE, 0, 0, 0};
    const Cell* callback = trace >= 0 ? args + trace : &none;
    parse::process(input, args + 1, case_ >= 0 ? parse::MODE_STRICT : parse::MODE_FOLD, limit,
                   callback, args);
}

void register_parse() { MOX_NATIVES_PARSE(MOX_NATIVE_REGISTER) }

} // namespace mox::natives

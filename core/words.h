// The symbols and global words the runtime compares against directly, made
// once at start-up (after the symbol table, the global context and the case
// tables, before the natives) and kept in globals, each named after its word:
//
//   words::spec ...           symbol IDs (symbol::make), compared by ID
//   words::global::at ...     global words (word::load)
//   words::refinements::part  refinement! values (refinement::make_global)
//   words::ooo                the issue! #ooo
//   words::changed            the symbol of the word changed (the reflector
//                             that lists an object's set fields)
//
// Names follow the usual mapping (hyphens to underscores, a trailing ? to _q,
// a trailing * to _star, a C++ keyword gets a trailing underscore); a trailing
// ! becomes _type, angle brackets are dropped, "|" is bar and "-" is dash.
// The word cells are collector roots.
#pragma once

#include <cstdint>

#include "core/cell.h"

// X(C++ name, spelling), in the order the runtime makes them.
#define MOX_RUNTIME_SYMBOLS(X)                                                                     \
    X(spec, "spec")                                                                                \
    X(body, "body")                                                                                \
    X(words, "words")                                                                              \
    X(class_, "class")                                                                             \
    X(logic_type, "logic!")                                                                        \
    X(integer_type, "integer!")                                                                    \
    X(char_type, "char!")                                                                          \
    X(float_type, "float!")                                                                        \
    X(percent_type, "percent!")                                                                    \
    X(any_type_type, "any-type!")                                                                  \
    X(exit, "exit")                                                                                \
    X(return_, "return")                                                                           \
    X(Windows, "Windows")                                                                          \
    X(Syllable, "Syllable")                                                                        \
    X(macOS, "macOS")                                                                              \
    X(Linux, "Linux")                                                                              \
    X(NetBSD, "NetBSD")                                                                            \
    X(repeat, "repeat")                                                                            \
    X(foreach, "foreach")                                                                          \
    X(map_each, "map-each")                                                                        \
    X(remove_each, "remove-each")                                                                  \
    X(any, "any")                                                                                  \
    X(break_, "break")                                                                             \
    X(copy, "copy")                                                                                \
    X(end, "end")                                                                                  \
    X(fail, "fail")                                                                                \
    X(into, "into")                                                                                \
    X(opt, "opt")                                                                                  \
    X(not_, "not")                                                                                 \
    X(quote, "quote")                                                                              \
    X(case_, "case")                                                                               \
    X(reject, "reject")                                                                            \
    X(set, "set")                                                                                  \
    X(skip, "skip")                                                                                \
    X(some, "some")                                                                                \
    X(thru, "thru")                                                                                \
    X(to, "to")                                                                                    \
    X(none, "none")                                                                                \
    X(bar, "|")                                                                                    \
    X(dash, "-")                                                                                   \
    X(if_, "if")                                                                                   \
    X(remove, "remove")                                                                            \
    X(while_, "while")                                                                             \
    X(insert, "insert")                                                                            \
    X(only, "only")                                                                                \
    X(collect, "collect")                                                                          \
    X(keep, "keep")                                                                                \
    X(pick, "pick")                                                                                \
    X(ahead, "ahead")                                                                              \
    X(after, "after")                                                                              \
    X(x, "x")                                                                                      \
    X(y, "y")                                                                                      \
    X(z, "z")                                                                                      \
    X(self, "self")                                                                                \
    X(values, "values")                                                                            \
    X(owner, "owner")                                                                              \
    X(owned, "owned")                                                                              \
    X(events_q, "events?")                                                                         \
    X(true_, "true")                                                                               \
    X(false_, "false")                                                                             \
    X(yes, "yes")                                                                                  \
    X(no, "no")                                                                                    \
    X(on, "on")                                                                                    \
    X(off, "off")                                                                                  \
    X(type, "type")                                                                                \
    X(face, "face")                                                                                \
    X(window, "window")                                                                            \
    X(offset, "offset")                                                                            \
    X(key, "key")                                                                                  \
    X(flag, "flag")                                                                                \
    X(code, "code")                                                                                \
    X(picked, "picked")                                                                            \
    X(flags, "flags")                                                                              \
    X(away_q, "away?")                                                                             \
    X(ctrl_q, "ctrl?")                                                                             \
    X(shift_q, "shift?")                                                                           \
    X(down_q, "down?")                                                                             \
    X(mid_down_q, "mid-down?")                                                                     \
    X(alt_down_q, "alt-down?")                                                                     \
    X(aux_down_q, "aux-down?")                                                                     \
    X(orientation, "orientation")                                                                  \
    X(get, "get")                                                                                  \
    X(put, "put")                                                                                  \
    X(post, "post")                                                                                \
    X(head, "head")                                                                                \
    X(size, "size")                                                                                \
    X(rgb, "rgb")                                                                                  \
    X(alpha, "alpha")                                                                              \
    X(argb, "argb")                                                                                \
    X(date, "date")                                                                                \
    X(year, "year")                                                                                \
    X(month, "month")                                                                              \
    X(day, "day")                                                                                  \
    X(zone, "zone")                                                                                \
    X(isoweek, "isoweek")                                                                          \
    X(week, "week")                                                                                \
    X(weekday, "weekday")                                                                          \
    X(yearday, "yearday")                                                                          \
    X(julian, "julian")                                                                            \
    X(time, "time")                                                                                \
    X(hour, "hour")                                                                                \
    X(minute, "minute")                                                                            \
    X(second, "second")                                                                            \
    X(timezone, "timezone")                                                                        \
    X(amount, "amount")                                                                            \
    X(user, "user")                                                                                \
    X(host, "host")                                                                                \
    X(system, "system")                                                                            \
    X(system_global, "system-global")                                                              \
    X(stack, "stack")                                                                              \
    X(trace, "trace")                                                                              \
    X(no_trace, "no-trace")

#define MOX_RUNTIME_WORDS(X)                                                                       \
    X(at, "at")                                                                                    \
    X(back, "back")                                                                                \
    X(find, "find")                                                                                \
    X(head, "head")                                                                                \
    X(head_q, "head?")                                                                             \
    X(index_q, "index?")                                                                           \
    X(length_q, "length?")                                                                         \
    X(next, "next")                                                                                \
    X(pick, "pick")                                                                                \
    X(skip, "skip")                                                                                \
    X(select, "select")                                                                            \
    X(tail, "tail")                                                                                \
    X(tail_q, "tail?")                                                                             \
    X(change, "change")                                                                            \
    X(changed, "changed")                                                                          \
    X(clear, "clear")                                                                              \
    X(cleared, "cleared")                                                                          \
    X(set_path, "set-path")                                                                        \
    X(append, "append")                                                                            \
    X(appended, "appended")                                                                        \
    X(move, "move")                                                                                \
    X(moved, "moved")                                                                              \
    X(poke, "poke")                                                                                \
    X(poked, "poked")                                                                              \
    X(put, "put")                                                                                  \
    X(put_ed, "put-ed")                                                                            \
    X(removed, "removed")                                                                          \
    X(random, "random")                                                                            \
    X(randomized, "randomized")                                                                    \
    X(reverse, "reverse")                                                                          \
    X(reversed, "reversed")                                                                        \
    X(sort, "sort")                                                                                \
    X(sorted, "sorted")                                                                            \
    X(swap, "swap")                                                                                \
    X(swaped, "swaped")                                                                            \
    X(take, "take")                                                                                \
    X(taken, "taken")                                                                              \
    X(trim, "trim")                                                                                \
    X(trimmed, "trimmed")                                                                          \
    X(inserted, "inserted")                                                                        \
    X(uppercase, "uppercase")                                                                      \
    X(lowercase, "lowercase")                                                                      \
    X(checksum, "checksum")                                                                        \
    X(push, "push")                                                                                \
    X(pop, "pop")                                                                                  \
    X(fetch, "fetch")                                                                              \
    X(match, "match")                                                                              \
    X(iterate, "iterate")                                                                          \
    X(paren, "paren")                                                                              \
    X(anon, "<anon>")                                                                              \
    X(body, "<body>")                                                                              \
    X(not_found, "<not-found>")                                                                    \
    X(add, "add")                                                                                  \
    X(subtract, "subtract")                                                                        \
    X(divide, "divide")                                                                            \
    X(on_parse_event, "on-parse-event")                                                            \
    X(on_change_star, "on-change*")                                                                \
    X(on_deep_change_star, "on-deep-change*")                                                      \
    X(type, "type")                                                                                \
    X(id, "id")                                                                                    \
    X(try_, "try")                                                                                 \
    X(catch_, "catch")                                                                             \
    X(name, "name")                                                                                \
    X(multiply, "multiply")                                                                        \
    X(browse, "browse")                                                                            \
    X(open, "open")                                                                                \
    X(create, "create")                                                                            \
    X(close, "close")                                                                              \
    X(delete_, "delete")                                                                           \
    X(modify, "modify")                                                                            \
    X(query, "query")                                                                              \
    X(read, "read")                                                                                \
    X(rename, "rename")                                                                            \
    X(update, "update")                                                                            \
    X(write, "write")                                                                              \
    X(prescan, "prescan")                                                                          \
    X(scan, "scan")                                                                                \
    X(load, "load")                                                                                \
    X(error, "error")                                                                              \
    X(comment, "comment")                                                                          \
    X(init, "init")                                                                                \
    X(exec, "exec")                                                                                \
    X(call, "call")                                                                                \
    X(return_, "return")                                                                           \
    X(enter, "enter")                                                                              \
    X(exit, "exit")                                                                                \
    X(prolog, "prolog")                                                                            \
    X(epilog, "epilog")                                                                            \
    X(throw_, "throw")                                                                             \
    X(expr, "expr")                                                                                \
    X(interp_callback, "<interp-callback>")                                                        \
    X(lexer_callback, "<lexer-callback>")                                                          \
    X(parse_callback, "<parse-callback>")                                                          \
    X(compare_callback, "<compare-callback>")                                                      \
    X(note, "note")                                                                                \
    X(syntax, "syntax")                                                                            \
    X(script, "script")                                                                            \
    X(math, "math")                                                                                \
    X(access, "access")                                                                            \
    X(user, "user")                                                                                \
    X(internal, "internal")                                                                        \
    X(invalid_error, "invalid-error")                                                              \
    X(local, "local")                                                                              \
    X(applied, "<applied>")
#define MOX_RUNTIME_REFINEMENTS(X)                                                                 \
    X(local, "local")                                                                              \
    X(extern_, "extern")                                                                           \
    X(compare, "compare")                                                                          \
    X(part, "part")                                                                                \
    X(skip, "skip")                                                                                \
    X(with, "with")

namespace mox::words {

#define MOX_DECLARE_SYMBOL(name, text) extern uint32_t name;
MOX_RUNTIME_SYMBOLS(MOX_DECLARE_SYMBOL)
#undef MOX_DECLARE_SYMBOL

namespace global {
#define MOX_DECLARE_WORD(name, text) extern Cell name;
MOX_RUNTIME_WORDS(MOX_DECLARE_WORD)
#undef MOX_DECLARE_WORD
} // namespace global

namespace refinements {
#define MOX_DECLARE_REFINEMENT(name, text) extern Cell name;
MOX_RUNTIME_REFINEMENTS(MOX_DECLARE_REFINEMENT)
#undef MOX_DECLARE_REFINEMENT
} // namespace refinements

extern Cell ooo;
extern uint32_t changed;

// Makes them all, once (later calls do nothing), and registers the word
// cells with the collector. May collect.
void init();

} // namespace mox::words

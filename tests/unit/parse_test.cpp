// PARSE: the rules over string, binary and block input, capture and
// collection, modification of the input while it is matched, the trace
// callback, the errors for bad rules, and grammars and inputs deep enough
// to need the engine's own stacks. Every case is Mox source evaluated by
// the interpreter; a row gives the mold of its value or the error it raises.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/error-codes.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime_fixture.h"

namespace mox::test {
namespace {

std::string error(err::Code code) { return "error " + std::to_string(static_cast<int>(code)); }

struct Case {
    std::string code;
    std::string expected;
};

class ParseTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        RuntimeTest::SetUpTestSuite();
        // Bitsets of the digits, of the letters, and of all but the digits.
        eval("digit: make bitset! #{000000000000FFC0}"
             " alpha: make bitset! #{0000000000000000 7FFFFFE07FFFFFE0}"
             " not-digit: make bitset! [not #{000000000000FFC0}]");
    }

    void check(const std::vector<Case>& cases) {
        for (const Case& c : cases) EXPECT_EQ(eval(c.code), c.expected) << c.code;
    }
};

TEST_F(ParseTest, LiteralsOverTheThreeInputKinds) {
    check({
        {R"(parse "abc" ["abc"])", "true"},
        {R"(parse "abc" ["ab"])", "false"},
        {R"(parse "ABC" ["abc"])", "true"},
        {R"(parse/case "ABC" ["abc"])", "false"},
        {R"(parse "abc" [#"A" #"b" #"C"])", "true"},
        {R"(parse/case "abc" [#"A" "bc"])", "false"},
        {R"(parse "a<b>c" ["a" <b> "c"])", "true"},
        {R"(parse "a<b>c" ["a" "b"])", "false"},
        {R"(parse "" [""])", "true"},
        {R"(parse "x" ["" "x" ""])", "true"},
        {R"(parse "é€😀" ["É€😀"])", "true"},
        {R"(parse "5a" [digit alpha])", "true"},
        {R"(parse "a5" [digit alpha])", "false"},
        {R"(parse "€" [not-digit])", "true"},
        {R"(parse "7" [not-digit])", "false"},
        {R"(parse %a/b.txt ["a/" thru end])", "true"},
        {R"(parse #{0102} [#{01} #{02}])", "true"},
        {R"(parse #{616263} ["abc"])", "true"},
        {R"(parse #{616263} ["ABC"])", "false"},
        {R"(parse/case #{616263} ["ABC"])", "false"},
        {R"(parse #{C3A9} [#"é"])", "false"},
        {R"(parse #{3035} [digit digit])", "true"},
        {R"(parse #{FF} [quote 255])", "true"},
        {R"(parse [a b] ['a 'b])", "true"},
        {R"(parse [A b] ['a 'b])", "true"},
        {R"(parse/case [A b] ['a 'b])", "false"},
        {R"(parse [1 "x" #"c"] [quote 1 "X" #"c"])", "true"},
        {R"(parse/case [1 "x"] [quote 1 "X"])", "false"},
        {R"(parse [[1] (2)] [[quote 1] quote (2)])", "false"},
        {R"(parse [a/b] ['a/b])", "true"},
    });
}

TEST_F(ParseTest, DatatypesAndTypesets) {
    check({
        {R"(parse [1 "x"] [integer! string!])", "true"},
        {R"(parse [1 "x"] [integer! integer!])", "false"},
        {R"(parse [1 x "s" 2.5] [number! any-word! any-string! number!])", "true"},
        {R"(parse [] [integer!])", "false"},
        {R"(parse #{3132203435} [integer! integer!])", "true"},
        {R"(parse #{616263} [word!])", "true"},
        {R"(parse #{616263} [integer!])", "false"},
        {R"(parse #{2228} [block!])", "false"},
        {R"(parse "x" [string!])", error(err::parse_unsupported)},
    });
}

TEST_F(ParseTest, Repetition) {
    check({
        {R"(parse "aaa" [some "a"])", "true"},
        {R"(parse "" [some "a"])", "false"},
        {R"(parse "" [any "a"])", "true"},
        {R"(parse "aaa" [2 "a"])", "false"},
        {R"(parse "aaa" [3 "a"])", "true"},
        {R"(parse "aaa" [2 3 "a"])", "true"},
        {R"(parse "aaaa" [2 3 "a"])", "false"},
        {R"(parse "a" [2 3 "a"])", "false"},
        {R"(parse "b" [0 "a" "b"])", "true"},
        {R"(parse "b" [0 0 "a" "b"])", "true"},
        {R"(parse "ab" [opt "a" "b"])", "true"},
        {R"(parse "b" [opt "a" "b"])", "true"},
        {R"(parse "aab" [opt "a" "b"])", "false"},
        {R"(parse "AaA" [some #"a"])", "true"},
        {R"(parse/case "AaA" [some #"a"])", "false"},
        {R"(parse "123x" [some digit "x"])", "true"},
        {R"(parse "123x" [2 digit "3x"])", "true"},
        {R"(parse "ababx" [some "ab" "x"])", "true"},
        {R"(parse "ababx" [some ["a" "b"] "x"])", "true"},
        {R"(parse "abax" [some ["a" "b"] "ax"])", "true"},
        {R"(parse "aaa" [any [#"a"]])", "true"},
        {R"(n: 2 parse "aa" [n "a"])", "true"},
        {R"(n: 2 m: 3 parse "aaa" [n m "a"])", "true"},
        {R"(parse "a" [any [none] "a"])", "true"},
        {R"(parse "aaa" [some ["a" reject]])", "false"},
        {R"(parse "aaa" [some ["a" break]])", "false"},
        {R"(parse "aaa" [some ["a" break] "aa"])", "true"},
        {R"(parse "aaa" [while "a"])", "true"},
        {R"(parse "aaa" [while ["a"]])", "true"},
        {R"(i: 0 parse "" [while [if (i < 3) (i: i + 1)]] i)", "3"},
        {R"(parse #{000000} [some #{00}])", "true"},
        {R"(parse #{0A0A0B} [some #"^/" #{0B}])", "true"},
        {R"(parse [1 1 2] [some quote 1 quote 2])", "true"},
        {R"(parse [a a] [some 'a])", "true"},
        {R"(parse [1 2 x] [some integer! word!])", "true"},
        {R"(parse "aaaa" [some [2 "a"]])", "true"},
        {R"(parse "aaaaa" [some [2 "a"]])", "false"},
    });
}

TEST_F(ParseTest, ToAndThru) {
    check({
        {R"(parse "abc" [to "c" "c"])", "true"},
        {R"(parse "abc" [thru "b" "c"])", "true"},
        {R"(parse "abc" [to end])", "true"},
        {R"(parse "abc" [thru end])", "true"},
        {R"(parse "abc" [to "x"])", "false"},
        {R"(parse "aBc" [to #"b" "Bc"])", "true"},
        {R"(parse/case "aBc" [to #"b"])", "false"},
        {R"(parse "a1b" [to digit "1b"])", "true"},
        {R"(parse "a1b" [thru digit "b"])", "true"},
        {R"(parse "x<t>y" [thru <t> "y"])", "true"},
        {R"(parse "abcabd" [thru "abd"])", "true"},
        {R"(parse "ab;cd" [to [";" "c"] ";cd"])", "true"},
        {R"(parse "ab;cd" [thru [";" "c"] "d"])", "true"},
        {R"(parse "ab;xd" [to [";" "c"]])", "false"},
        {R"(parse "aé" [to "É" skip])", "true"},
        {R"(parse #{00FF01} [to #{FF} thru 1])", error(err::parse_rule)},
        {R"(parse #{00FF01} [to #{FF} thru #{01}])", "true"},
        {R"(parse #{414243} [thru #"B" "C"])", "true"},
        {R"(parse [a 1 b] [to integer! integer! word!])", "true"},
        {R"(parse [a 1 b] [thru 1 'b])", "true"},
        {R"(parse [a b c] [to 'c 'c])", "true"},
        {R"(parse "abc" [to 3])", error(err::parse_rule)},
        {R"(parse "abc" [to])", error(err::parse_end)},
    });
}

TEST_F(ParseTest, AlternativesAndControl) {
    check({
        {R"(parse "ab" ["a" | "b"])", "false"},
        {R"(parse "b" ["a" | "b"])", "true"},
        {R"(parse "b" [["a" | "b"]])", "true"},
        {R"(parse "ac" ["a" ["b" | "c"]])", "true"},
        {R"(parse "abd" ["a" "b" "c" | "a" "b" "d"])", "true"},
        {R"(parse "x" ["a" | "b" | "c"])", "false"},
        {R"(parse "ab" ["a" not "c" "b"])", "true"},
        {R"(parse "ab" ["a" not "b" "b"])", "false"},
        {R"(parse "ab" ["a" ahead "b" "b"])", "true"},
        {R"(parse "ab" ["a" ahead "c" | "ab"])", "true"},
        {R"(parse "ab" [skip skip end])", "true"},
        {R"(parse "a" [skip skip])", "false"},
        {R"(parse "a" ["a" end end])", "true"},
        {R"(parse "a" [none "a" none])", "true"},
        {R"(parse "a" ["a" fail | "a"])", "true"},
        {R"(parse "a" [fail])", "false"},
        {R"(parse [any some] [quote any quote some])", "true"},
        {R"(parse "a" [if (true) "a"])", "true"},
        {R"(parse "a" [if (false) "a" | "a"])", "true"},
        {R"(parse "a" [if (none) "a"])", "false"},
        {R"(flag: true parse "A" [case flag "a" | "A"])", "true"},
        {R"(flag: true parse "aA" [case flag "a" "a"])", "true"},
        {R"(flag: false parse "A" [case flag "a"])", "true"},
        {R"(parse [[1 2] 3] [into [some integer!] integer!])", "true"},
        {R"(parse [[1 x] 3] [into [some integer!] integer!])", "false"},
        {R"(parse [[1 2]] [into [integer!]])", "false"},
        {R"(parse [(a) "bc"] [into ['a] into ["b" "c"]])", "true"},
        {R"(inner: [some integer!] parse [[1 2]] [into inner])", "true"},
        {R"(parse [1] [into [integer!]])", "false"},
        {R"(parse [] [into [integer!]])", "false"},
        {R"(parse "ab" [into ["ab"]])", error(err::parse_block)},
        {R"(parse [[[[[1]]]]] [into [into [into [into [integer!]]]]])", "true"},
        {R"(r: ["a" r | none] parse "aaa" r)", "true"},
    });
}

TEST_F(ParseTest, CaptureIntoWords) {
    check({
        {R"(parse "abc" [copy x to "c" "c"] x)", R"("ab")"},
        {R"(parse "abc" [set y skip to end] y)", "#\"a\""},
        {R"(y: 0 parse "abc" [set y none to end] y)", "none"},
        {R"(x: 0 parse "abc" [copy x "x" | to end] x)", "0"},
        {R"(parse #{0102} [set b skip copy c skip] reduce [b c])", "[1 #{02}]"},
        {R"(parse [a "b" 3] [set w word! copy r to end] reduce [w r])", R"([a ["b" 3]])"},
        {R"(parse %dir/file [copy d thru "/" copy f to end] reduce [d f])", "[%dir/ %file]"},
        {R"(parse "abc" [skip p: to end] p)", R"("bc")"},
        {R"(parse "abc" [skip p: to end :p "bc"])", "true"},
        {R"(parse "abc" [p: to end :p "abc"])", "true"},
        {R"(q: "zz" parse "abc" [:q])", error(err::parse_invalid_ref)},
        {R"(parse "a1b22" [collect [some [keep some digit | skip]]])", R"([#"1" "22"])"},
        {R"(parse "" [copy])", error(err::parse_end)},
        {R"(parse "" [copy x])", error(err::parse_end)},
        {R"(parse "" [set 1 "a"])", error(err::parse_end)},
    });
}

TEST_F(ParseTest, Collect) {
    check({
        {R"(parse [1 2 3] [collect [some [keep integer!]]])", "[1 2 3]"},
        {R"(parse [1 2 x] [collect [keep 2 integer! skip]])", "[[1 2]]"},
        {R"(parse [1 2 x] [collect [keep pick 2 integer! skip]])", "[1 2]"},
        {R"(parse [1 2] [collect [some [keep integer! keep (10)]]])", "[1 10 2 10]"},
        {R"(parse [1] [collect [keep pick ([a b]) skip]])", "[a b]"},
        {R"(parse [1] [collect [keep ([a b]) skip]])", "[[a b]]"},
        {R"(parse "abc" [collect [keep skip keep 2 skip]])", R"([#"a" "bc"])"},
        {R"(parse "abc" [collect [keep pick to end]])", R"([#"a" #"b" #"c"])"},
        {R"(parse #{0102} [collect [keep skip keep skip]])", "[1 2]"},
        {R"(parse "ab" [collect [keep "x" | skip keep none skip]])", "[]"},
        {R"(parse "ab" [collect [keep skip collect [keep skip]]])", R"([#"a" [#"b"]])"},
        {R"(parse "ab" [collect set out [keep skip keep skip]] out)", R"([#"a" #"b"])"},
        {R"(parse "ab" [collect set out [keep skip keep skip]])", "true"},
        {R"(out: copy "" parse "a1b2" [collect into out [some [keep digit | skip]]] out)",
         R"("12")"},
        {R"(out: copy [x] parse [1 a 2] [collect into out [some [keep integer! | skip]]] out)",
         "[1 2 x]"},
        {R"(out: copy [x] parse [1 2] [collect after out [some [keep integer!]]] out)", "[x 1 2]"},
        {R"(out: copy [] parse "ab" [collect into out [keep to end]] out)", R"(["ab"])"},
        {R"(out: #{} parse #{0102} [collect into out [keep to end]] out)", "#{0102}"},
        {R"(out: #{FF} parse #{0102} [collect after out [keep skip keep skip]] out)", "#{FF0102}"},
        {R"(out: #{FF} parse #{0102} [collect into out [keep pick to end]] out)", "#{0102FF}"},
        {R"(s: "ab" parse s [collect into s [keep skip]])", error(err::parse_into_bad)},
        {R"(out: #{} parse "ab" [collect into out [keep skip]])", error(err::parse_into_type)},
        {R"(out: "" parse [a] [collect into out [keep skip]])", error(err::parse_into_type)},
        {R"(out: 1 parse [a] [collect into out [keep skip]])", error(err::parse_into_type)},
        {R"(parse [1] [keep integer!])", error(err::parse_keep)},
        {R"(parse [1] [collect])", error(err::parse_end)},
        {R"(parse [1] [collect into 3 [skip]])", error(err::parse_end)},
    });
}

TEST_F(ParseTest, ModifyingTheInput) {
    check({
        {R"(s: "aXb" parse s [to "X" remove "X" to end] s)", R"("ab")"},
        {R"(s: "ab" reduce [parse s [skip insert "-" skip] s])", R"([true "a-b"])"},
        {R"(s: "abc" parse s [skip change "b" "B" to end] s)", R"("aBc")"},
        {R"(s: "abc" parse s ["a" change "b" "XYZ" "c"] s)", R"("aXYZc")"},
        {R"(s: "abc" parse s [change "b" "B" to end] s)", R"("abc")"},
        {R"(s: "abc" parse s [change "x" "Y" | to end] s)", R"("abc")"},
        {R"(s: "aaa" parse s [some [change "a" "bb"]] s)", R"("bbbbbb")"},
        {R"(s: "a1b2" parse s [any [remove digit | skip]] s)", R"("ab")"},
        {R"(s: "abc" parse s [skip p: skip skip remove p] s)", R"("a")"},
        {R"(s: "abc" parse s [skip p: to end change p "Z"] s)", R"("aZ")"},
        {R"(s: "ac" parse s [skip p: skip insert p "b"] s)", R"("abc")"},
        {R"(s: "ac" parse s [skip p: skip insert p "b" end])", "true"},
        {R"(s: [1 3] parse s [skip insert 2 skip] s)", "[1 2 3]"},
        {R"(s: [1 3] parse s [skip insert only [2] skip] s)", "[1 [2] 3]"},
        {R"(s: [1 3] parse s [skip insert [2 2] skip] s)", "[1 2 2 3]"},
        {R"(s: [a b] parse s [change 'a (1 + 1) 'b] s)", "[2 b]"},
        {R"(s: [a b] parse s [change only 'a [x y] 'b] s)", "[[x y] b]"},
        {R"(v: "Q" s: "ab" parse s [change "a" v "b"] s)", R"("Qb")"},
        {R"(s: #{0102} parse s [remove #{01} #{02}] s)", "#{02}"},
        {R"(s: "ab" parse s [skip insert a/b skip])", error(err::parse_rule)},
        {R"(s: "ab" parse s [remove a/b])", error(err::parse_rule)},
        {R"(unset 'nothing s: "ab" parse s [insert nothing])", error(err::no_value)},
        {R"(s: "ab" parse s [insert])", error(err::parse_end)},
        {R"(s: "ab" parse s [change])", error(err::parse_rule)},
        {R"(s: "ab" parse s [change "a"])", error(err::parse_end)},
        {R"(s: "ab" parse s [remove])", error(err::parse_end)},
    });
}

TEST_F(ParseTest, ActionsAndNestedRuns) {
    check({
        {R"(n: 0 parse "aaa" [some ["a" (n: n + 1)]] n)", "3"},
        {R"(parse "ab" [(x: 1) "ab" (x: x + 1)] x)", "2"},
        {R"(parse [[1 2] [3]] [some [p: block! (n: parse p/1 [some integer!])]] n)", "true"},
        {R"(parse "ab" [copy a skip (b: parse a ["a"]) "b"] b)", "true"},
        {R"(parse "ab" ["a" (parse "x" ["y"]) "b"])", "true"},
        {R"(parse "ab" ["a" (try [parse "x" [to]]) "b"])", "true"},
        {R"(f: func [] [parse "ab" ["a" (return 7) "b"] 0] f)", "7"},
        {R"(r: copy ["a"] parse "ab" [(append r "b") r])", "true"},
        {R"(s: "abc" parse s ["a" (clear s)])", "true"},
        {R"(s: "abc" parse s ["a" (clear s) "bc"])", "false"},
        {R"(parse "a" [(1 / 0)])", error(err::zero_divide)},
    });
}

TEST_F(ParseTest, Part) {
    check({
        {R"(parse/part "abc" ["a"] 1)", "true"},
        {R"(parse/part "abc" ["abc"] 1)", "false"},
        {R"(parse/part "abc" ["ab"] 2)", "true"},
        {R"(parse/part "abc" [to end] 2)", "true"},
        {R"(parse/part "abc" [some "a"] 0)", "false"},
        {R"(parse/part "" [some "a"] 0)", "true"},
        {R"(s: "abc" parse/part s ["ab"] skip s 2)", "true"},
        {R"(parse/part "abc" ["a" to "c"] 2)", "false"},
        {R"(parse/part "abc" ["abc"] "ab")", error(err::invalid_refine_arg)},
        {R"(parse/part next "abc" ["b"] 1)", "true"},
        {R"(parse/part [a b c] ['a] 1)", "true"},
        {R"(parse/part [[x] b c] [into ['x]] 1)", "true"},
    });
}

TEST_F(ParseTest, BadRules) {
    check({
        {R"(parse "a" [a/b])", error(err::parse_rule)},
        {R"(unset 'zz parse "a" [zz])", error(err::parse_rule)},
        {R"(w: 'v parse "a" [w])", error(err::parse_rule)},
        {R"(parse "a" [-1 "a"])", error(err::out_of_range)},
        {R"(parse "a" [2])", error(err::parse_rule)},
        {R"(parse "a" [3 2 "a"])", error(err::parse_rule)},
        {R"(parse "a" [1 2])", error(err::parse_rule)},
        {R"(parse "a" [to])", error(err::parse_end)},
        {R"(parse "a" [thru])", error(err::parse_end)},
        {R"(parse "a" [not])", error(err::parse_end)},
        {R"(parse "a" [ahead])", error(err::parse_end)},
        {R"(parse "a" [while])", error(err::parse_end)},
        {R"(parse "a" [quote])", error(err::parse_end)},
        {R"(parse "a" [if])", error(err::parse_end)},
        {R"(parse "a" [if "a"])", error(err::parse_end)},
        {R"(parse "a" [case "a"])", error(err::parse_end)},
        {R"(parse [a] [into])", error(err::parse_end)},
        {R"(parse [a] [into 'a])", error(err::parse_end)},
        {R"(parse "a" [only "a"])", error(err::parse_rule)},
        {R"(parse "" [while [none]])", error(err::parse_infinite)},
        {R"(parse "" [while []])", error(err::parse_infinite)},
        {R"(parse "a" [some "a" any])", "true"},
    });
}

// The error leaves the engine's stacks as the run found them: a later run,
// and an outer run around a failing inner one, work normally.
TEST_F(ParseTest, ErrorsLeaveTheStacksClean) {
    check({
        {R"(try [parse "abc" [some ["a" [[[to]]]]]] parse "abc" ["abc"])", "true"},
        {R"(parse [[a] b] [some [into [(try [parse "x" [["x" [quote]]]])'a] | 'b]])", "true"},
    });
}

// Recursion and nesting end at the engine's stack limit with an error,
// never in a native crash.
TEST_F(ParseTest, DeepGrammarsAndInputs) {
    std::string deep(2000, '[');
    deep += std::string(2000, ']');
    check({
        {R"(r: [r] parse "a" r)", error(err::parse_stack)},
        {R"(r: ["a" r | end] parse "aaaaaaaaaa" r)", "true"},
        {R"(r: ["a" r | end] s: copy "" loop 2000 [append s "a"] parse s r)", "true"},
        {R"(r: ["a" r | end] s: copy "" loop 4000 [append s "a"] parse s r)",
         error(err::parse_stack)},
        {"b: " + deep + R"( r: [into r | none] parse b r)", error(err::parse_stack)},
        {R"(r: [any [into r | skip]] parse [[[[1] 2] 3]] r)", "true"},
    });
}

TEST_F(ParseTest, TraceEvents) {
    check({
        {R"(evs: copy [] cb: func [event match? rule input stack] [append evs event true])"
         R"( parse/trace "ab" ["a" some "b"] :cb evs)",
         "[push fetch match fetch push match pop pop end]"},
        {R"(evs: copy [] cb: func [e m r i s] [append evs reduce [e m] true])"
         R"( parse/trace "x" [["y"] | "x"] :cb evs)",
         "[push true fetch true push true fetch true match false pop false fetch true match true "
         "pop true end true]"},
        {R"(cb: func [e m r i s] [e <> 'fetch] parse/trace "abc" ["x"] :cb)", "true"},
        {R"(cb: func [e m r i s] [if e = 'match [n: n + 1] true] n: 0)"
         R"( parse/trace "aaa" [some ["a"]] :cb n)",
         "4"},
        {R"(cb: func [e m r i s] [if e = 'paren [s1: length? s] true])"
         R"( parse/trace "a" [[("x")] "a"] :cb s1)",
         "6"},
        {R"(cb: func [e m r i s] [1 / 0] parse/trace "a" ["a"] :cb)", error(err::zero_divide)},
        // A callback that changes what it is shown cannot break the run.
        {R"(cb: func [e m r i s] [clear head s clear head r clear head i true])"
         R"( parse/trace "abc" ["a" some ["b" | "c"]] :cb)",
         "true"},
        {R"(cb: func [e m r i s] [clear head s true] parse/trace [[1]] [into [integer!]] :cb)",
         "true"},
    });
}

} // namespace
} // namespace mox::test

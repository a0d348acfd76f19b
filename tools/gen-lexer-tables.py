#!/usr/bin/env python3
"""Writes evaluator/lexer-tables.h: the lexer's byte classes, working states,
token kinds and the tables of its machine (evaluator/lexer.cpp).

    python3 tools/gen-lexer-tables.py > evaluator/lexer-tables.h

The machine reads one byte at a time: the byte's class and the current state
give the next state, or a token kind, which ends the token before that byte.
A state lists its transitions by class names; the classes it does not list go
to its default. The test suite regenerates the header and compares it with
the checked-in one, so change the machine here and run the script again.
"""

import sys

# Byte classes, in table order. Each names its bytes; the two last entries
# before END take what no other class takes: CONTROL the control bytes,
# OTHER every other byte (letters, most punctuation, UTF-8 lead bytes).
CLASSES = [
    ("BLANK", "tab, CR and space", b"\t\r "),
    ("LINE_FEED", "line feed", b"\n"),
    ("DIGIT", "1 to 9", b"123456789"),
    ("ZERO", "", b"0"),
    ("BLOCK_OPEN", "", b"["),
    ("BLOCK_CLOSE", "", b"]"),
    ("PAREN_OPEN", "", b"("),
    ("PAREN_CLOSE", "", b")"),
    ("BRACE_OPEN", "", b"{"),
    ("BRACE_CLOSE", "", b"}"),
    ("QUOTE", "double quote", b'"'),
    ("HASH", "", b"#"),
    ("APOSTROPHE", "", b"'"),
    ("COLON", "", b":"),
    ("X", "x and X: pairs", b"xX"),
    ("T", "T: dates", b"T"),
    ("H", "h: hexadecimal integers", b"h"),
    ("LOWER_E", "e: exponents", b"e"),
    ("UPPER_E", "E: exponents and hexadecimal digits", b"E"),
    ("LOWER_HEX", "a to d and f", b"abcdf"),
    ("UPPER_HEX", "A to D and F", b"ABCDF"),
    ("SLASH", "", b"/"),
    ("BACKSLASH", "backslash", b"\\"),
    ("LESS", "", b"<"),
    ("GREATER", "", b">"),
    ("EQUAL", "", b"="),
    ("PERCENT", "", b"%"),
    ("COMMA", "", b","),
    ("SEMICOLON", "", b";"),
    ("AT", "", b"@"),
    ("POINT", "", b"."),
    ("DOLLAR", "", b"$"),
    ("PLUS", "", b"+"),
    ("MINUS", "", b"-"),
    ("CARET", "", b"^"),
    ("CONTROL", "the other control bytes", None),
    ("CONTINUATION", "DEL and the UTF-8 continuation bytes", bytes(range(0x7F, 0xC0))),
    ("OTHER", "any other byte", None),
    ("INVALID", "bytes that never occur in UTF-8", bytes([0xC0, 0xC1]) + bytes(range(0xF8, 0x100))),
    ("END", "NUL, which also stands for the end of the input", b"\0"),
]

# The bytes that end most tokens.
DELIMITERS = ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_OPEN "
              "BRACE_CLOSE QUOTE SEMICOLON CONTROL END")
LETTERS = "X T H LOWER_E UPPER_E LOWER_HEX UPPER_HEX"

# Token kinds, the machine's accepting codes, with the type each stands for
# in the scan modes. The token loop tells the structural kinds from value
# tokens by their order: every kind before K_STRING is structural, and a
# scan for one value stops after a kind from K_BLOCK_CLOSE on.
KINDS = [
    ("END", None),
    ("ERROR", None),
    ("BLOCK_OPEN", "block!"),
    ("BLOCK_CLOSE", "block!"),
    ("PAREN_OPEN", "paren!"),
    ("PAREN_CLOSE", "paren!"),
    ("BRACE_OPEN", None),
    ("BRACE_CLOSE", "string!"),
    ("MAP_OPEN", "map!"),
    ("PATH_HEAD", "path!"),
    ("CONSTRUCT", None),
    ("COMMENT", None),
    ("COMMA", None),
    ("STRING", "string!"),
    ("WORD", "word!"),
    ("ISSUE", "issue!"),
    ("INTEGER", "integer!"),
    ("REFINEMENT", "refinement!"),
    ("CHAR", "char!"),
    ("FILE", "file!"),
    ("BINARY", "binary!"),
    ("PERCENT", "percent!"),
    ("FLOAT", "float!"),
    ("SPECIAL_FLOAT", "float!"),
    ("TUPLE", "tuple!"),
    ("DATE", "date!"),
    ("PAIR", "pair!"),
    ("POINT", "point2D!"),
    ("TIME", "time!"),
    ("MONEY", "money!"),
    ("TAG", "tag!"),
    ("URL", "url!"),
    ("EMAIL", "email!"),
    ("HEX", "integer!"),
    ("RAW_STRING", "string!"),
    ("REF", "ref!"),
]

STATES = []


def state(name, doc, heading_for, default, *transitions):
    """A working state: the datatype its token is heading for (None: not
    known yet), the target of the classes it does not list, and (classes,
    target) pairs; a target is a state S_... or a token kind K_..."""
    STATES.append((name, doc, heading_for, default, transitions))


state("S_START", "between tokens", None, "S_WORD",
      ("BLANK LINE_FEED CONTROL", "S_START"),
      ("DIGIT ZERO", "S_NUMBER"),
      ("BLOCK_OPEN", "K_BLOCK_OPEN"),
      ("BLOCK_CLOSE", "K_BLOCK_CLOSE"),
      ("PAREN_OPEN", "K_PAREN_OPEN"),
      ("PAREN_CLOSE", "K_PAREN_CLOSE"),
      ("BRACE_OPEN", "K_BRACE_OPEN"),
      ("BRACE_CLOSE BACKSLASH CONTINUATION INVALID", "K_ERROR"),
      ("QUOTE", "S_STRING"),
      ("HASH", "S_HASH"),
      ("APOSTROPHE COLON", "S_WORD_PREFIX"),
      ("UPPER_E UPPER_HEX", "S_HEX_WORD"),
      ("SLASH", "S_SLASH"),
      ("LESS", "S_LESS"),
      ("EQUAL", "S_EQUAL"),
      ("PERCENT", "S_PERCENT"),
      ("COMMA", "K_COMMA"),
      ("SEMICOLON", "S_COMMENT"),
      ("AT", "S_REF"),
      ("POINT", "S_LEADING_POINT"),
      ("DOLLAR", "S_MONEY_SIGN"),
      ("PLUS MINUS", "S_SIGN"),
      ("END", "K_END"))
state("S_COMMENT", "a comment up to the line's end", None, "S_COMMENT",
      ("LINE_FEED END", "K_COMMENT"),
      ("INVALID", "K_ERROR"))
state("S_STRING", "a quoted string", "string!", "S_STRING",
      ("LINE_FEED INVALID END", "K_ERROR"),
      ("QUOTE", "K_STRING"),
      ("CARET", "S_STRING_ESCAPE"))
state("S_STRING_ESCAPE", "after ^ in a quoted string", "string!", "S_STRING",
      ("INVALID END", "K_ERROR"))
state("S_BRACE", "a braced string (its braces end it as tokens of their own)", "string!",
      "S_BRACE",
      ("BRACE_OPEN", "K_BRACE_OPEN"),
      ("BRACE_CLOSE", "K_BRACE_CLOSE"),
      ("CARET", "S_BRACE_ESCAPE"),
      ("INVALID END", "K_ERROR"))
state("S_BRACE_ESCAPE", "after ^ in a braced string", "string!", "S_BRACE",
      ("INVALID END", "K_ERROR"))
state("S_PERCENT", "after a leading %: a file, a raw string or a word", "file!", "S_FILE",
      ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_CLOSE SEMICOLON AT "
       "CONTROL END", "K_WORD"),
      ("BRACE_OPEN", "S_RAW_STRING"),
      ("QUOTE", "S_QUOTED_FILE"),
      ("COLON", "S_PERCENT_WORD"),
      ("PERCENT", "S_PERCENTS"),
      ("INVALID", "K_ERROR"))
state("S_FILE", "a file", "file!", "S_FILE",
      ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_OPEN BRACE_CLOSE "
       "COLON SEMICOLON AT END", "K_FILE"),
      ("QUOTE INVALID", "K_ERROR"))
state("S_QUOTED_FILE", "a file in quotes", "file!", "S_QUOTED_FILE",
      ("LINE_FEED INVALID END", "K_ERROR"),
      ("QUOTE", "K_FILE"))
state("S_PERCENTS", "after two or more leading %", "file!", "S_FILE",
      ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_CLOSE QUOTE "
       "BACKSLASH SEMICOLON CONTROL END", "K_WORD"),
      ("BRACE_OPEN", "S_RAW_STRING"),
      ("PERCENT", "S_PERCENTS"),
      ("INVALID", "K_ERROR"))
state("S_RAW_STRING", "a raw string", "string!", "S_RAW_STRING",
      ("BRACE_CLOSE", "S_RAW_CLOSE"),
      ("INVALID END", "K_ERROR"))
state("S_RAW_CLOSE", "after } in a raw string", "string!", "S_RAW_STRING",
      ("BRACE_CLOSE", "S_RAW_CLOSE"),
      ("PERCENT", "S_RAW_END"),
      ("INVALID END", "K_ERROR"))
state("S_RAW_END", "the % after a raw string's }", "string!", "K_ERROR",
      ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_OPEN QUOTE LESS "
       "SEMICOLON CONTROL END", "K_RAW_STRING"),
      ("PERCENT", "S_RAW_END"))
state("S_SLASH", "after a leading /: a refinement or a word", "word!", "S_REFINEMENT",
      (DELIMITERS + " HASH AT", "K_WORD"),
      ("COLON", "S_WORD_COLON"),
      ("SLASH", "S_SLASHES"),
      ("COMMA INVALID", "K_ERROR"))
state("S_REFINEMENT", "a refinement", "refinement!", "S_REFINEMENT",
      (DELIMITERS + " SLASH AT", "K_REFINEMENT"),
      ("COLON COMMA INVALID", "K_ERROR"))
state("S_SLASHES", "a word of leading slashes", "word!", "S_WORD",
      (DELIMITERS + " HASH AT", "K_WORD"),
      ("SLASH", "S_SLASHES"),
      ("PERCENT COMMA DOLLAR INVALID", "K_ERROR"))
state("S_HASH", "after #: an issue, a map, a binary, a char or a construction", "issue!",
      "S_ISSUE",
      ("BLANK LINE_FEED BLOCK_CLOSE PAREN_CLOSE BRACE_CLOSE COLON LESS GREATER COMMA INVALID",
       "K_ERROR"),
      ("BLOCK_OPEN", "K_MAP_OPEN"),
      ("PAREN_OPEN", "S_CONSTRUCT"),
      ("BRACE_OPEN", "S_BINARY"),
      ("QUOTE", "S_CHAR"),
      ("SEMICOLON AT CONTROL END", "K_ISSUE"))
state("S_BINARY", "a binary's digits", "binary!", "K_ERROR",
      ("BLANK LINE_FEED DIGIT ZERO " + LETTERS + " SLASH EQUAL PLUS OTHER", "S_BINARY"),
      ("BRACE_CLOSE", "K_BINARY"),
      ("SEMICOLON", "S_BINARY_COMMENT"))
state("S_BINARY_COMMENT", "a comment in a binary", None, "S_BINARY_COMMENT",
      ("LINE_FEED", "S_BINARY"),
      ("INVALID END", "K_ERROR"))
state("S_CHAR", "a char", "char!", "S_CHAR",
      ("QUOTE", "K_CHAR"),
      ("CARET", "S_CHAR_ESCAPE"),
      ("INVALID END", "K_ERROR"))
state("S_CHAR_ESCAPE", "after ^ in a char", "char!", "S_CHAR",
      ("INVALID END", "K_ERROR"))
state("S_CONSTRUCT", "a construction #(...)", None, "S_CONSTRUCT",
      ("PAREN_CLOSE", "K_CONSTRUCT"),
      ("INVALID END", "K_ERROR"))
state("S_ISSUE", "an issue", "issue!", "S_ISSUE",
      (DELIMITERS + " AT", "K_ISSUE"),
      ("COLON SLASH INVALID", "K_ERROR"))
state("S_NUMBER", "leading digits", "integer!", "K_INTEGER",
      ("DIGIT ZERO APOSTROPHE", "S_NUMBER"),
      ("HASH", "S_HASH"),
      ("COLON", "S_TIME_COLON"),
      ("X", "S_PAIR_X"),
      ("T SLASH MINUS", "S_DATE"),
      ("H", "S_DIGITS_H"),
      ("LOWER_E", "S_EXPONENT"),
      ("UPPER_E", "S_DIGITS_E"),
      ("LOWER_HEX BACKSLASH GREATER EQUAL DOLLAR PLUS CARET CONTINUATION OTHER INVALID",
       "K_ERROR"),
      ("UPPER_HEX", "S_DIGITS_HEX"),
      ("PERCENT", "K_PERCENT"),
      ("AT", "S_EMAIL"),
      ("POINT", "S_DECIMAL_POINT"))
state("S_DECIMAL_POINT", "after digits and a point", "float!", "K_ERROR",
      (DELIMITERS + " SLASH LESS COMMA", "K_FLOAT"),
      ("DIGIT ZERO APOSTROPHE", "S_FRACTION"),
      ("HASH", "S_SPECIAL_FLOAT"),
      ("X", "S_PAIR_X"),
      ("LOWER_E UPPER_E", "S_EXPONENT"),
      ("PERCENT", "K_PERCENT"))
state("S_FRACTION", "a decimal's fraction digits", "float!", "K_FLOAT",
      ("DIGIT ZERO APOSTROPHE", "S_FRACTION"),
      ("HASH T H LOWER_HEX UPPER_HEX BACKSLASH GREATER EQUAL DOLLAR PLUS MINUS CARET "
       "CONTINUATION OTHER INVALID", "K_ERROR"),
      ("X", "S_PAIR_X"),
      ("LOWER_E UPPER_E", "S_EXPONENT"),
      ("PERCENT", "K_PERCENT"),
      ("AT", "S_EMAIL"),
      ("POINT", "S_TUPLE"))
state("S_EXPONENT", "a decimal's exponent", "float!", "K_ERROR",
      (DELIMITERS + " COLON SLASH LESS COMMA", "K_FLOAT"),
      ("DIGIT ZERO PLUS MINUS", "S_EXPONENT"),
      ("AT", "S_EMAIL"))
state("S_DIGITS_E", "digits and E: an exponent or hexadecimal digits", "float!", "K_FLOAT",
      ("DIGIT ZERO", "S_DIGITS_E"),
      ("HASH APOSTROPHE X T LOWER_E LOWER_HEX BACKSLASH GREATER EQUAL DOLLAR CARET "
       "CONTINUATION OTHER INVALID", "K_ERROR"),
      ("H", "S_DIGITS_H"),
      ("UPPER_E UPPER_HEX", "S_HEX_WORD"),
      ("PERCENT", "K_PERCENT"),
      ("AT", "S_EMAIL"),
      ("POINT", "S_TUPLE"),
      ("PLUS MINUS", "S_EXPONENT"))
state("S_SPECIAL_FLOAT", "after digits, a point and #", "float!", "K_SPECIAL_FLOAT",
      ("DIGIT", "K_FLOAT"),
      ("HASH APOSTROPHE COLON PERCENT AT DOLLAR CARET INVALID", "K_ERROR"),
      (LETTERS + " GREATER EQUAL POINT PLUS MINUS CONTINUATION OTHER", "S_SPECIAL_FLOAT"))
state("S_TUPLE", "a tuple", "tuple!", "K_ERROR",
      (DELIMITERS + " COLON SLASH LESS", "K_TUPLE"),
      ("DIGIT ZERO POINT", "S_TUPLE"))
state("S_DATE", "a date", "date!", "S_DATE",
      (DELIMITERS + " LESS DOLLAR", "K_DATE"),
      ("PERCENT COMMA AT CARET CONTINUATION INVALID", "K_ERROR"))
state("S_TIME_COLON", "after digits and a colon", "time!", "K_ERROR",
      ("DIGIT ZERO", "S_TIME"))
state("S_TIME", "a time", "time!", "K_ERROR",
      (DELIMITERS + " SLASH LESS", "K_TIME"),
      ("DIGIT ZERO COLON POINT", "S_TIME"))
state("S_PAIR_X", "after a number and x", "pair!", "K_ERROR",
      ("DIGIT ZERO PLUS MINUS", "S_PAIR"),
      ("AT", "S_EMAIL"))
state("S_PAIR", "a pair's second number", "pair!", "K_ERROR",
      (DELIMITERS + " COLON SLASH LESS", "K_PAIR"),
      ("DIGIT ZERO LOWER_E UPPER_E POINT", "S_PAIR"),
      ("AT", "S_EMAIL"))
state("S_POINT", "a point literal (...) after its (", "point2D!", "K_ERROR",
      ("BLANK LINE_FEED DIGIT ZERO BLOCK_CLOSE HASH LOWER_E UPPER_E LOWER_HEX UPPER_HEX COMMA "
       "POINT PLUS MINUS OTHER", "S_POINT"),
      ("PAREN_CLOSE", "K_POINT"))
state("S_MONEY_SIGN", "after $", "money!", "K_ERROR",
      ("DIGIT ZERO", "S_MONEY"))
state("S_MONEY", "money's whole digits", "money!", "K_ERROR",
      (DELIMITERS + " HASH COLON SLASH LESS", "K_MONEY"),
      ("DIGIT ZERO APOSTROPHE", "S_MONEY"),
      ("POINT", "S_MONEY_FRACTION"))
state("S_MONEY_FRACTION", "money's fraction digits", "money!", "K_ERROR",
      (DELIMITERS + " HASH COLON SLASH LESS", "K_MONEY"),
      ("DIGIT ZERO APOSTROPHE", "S_MONEY_FRACTION"))
state("S_DIGITS_HEX", "digits and hexadecimal letters, which need a final h", None,
      "K_ERROR",
      ("DIGIT ZERO UPPER_E UPPER_HEX", "S_DIGITS_HEX"),
      ("H", "S_HEX_WORD_H"),
      ("AT", "S_EMAIL"))
state("S_HEX_WORD", "a word of hexadecimal digits: a hexadecimal integer with a final h",
      "integer!", "K_WORD",
      ("DIGIT ZERO UPPER_E UPPER_HEX", "S_HEX_WORD"),
      ("APOSTROPHE X T LOWER_E LOWER_HEX LESS GREATER EQUAL POINT PLUS MINUS CARET "
       "CONTINUATION OTHER", "S_WORD"),
      ("COLON", "S_WORD_COLON"),
      ("H", "S_HEX_WORD_H"),
      ("SLASH", "K_PATH_HEAD"),
      ("PERCENT COMMA INVALID", "K_ERROR"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY"))
state("S_HEX_WORD_H", "hexadecimal digits and h", "word!", "S_WORD",
      (DELIMITERS + " BACKSLASH", "K_HEX"),
      ("HASH PERCENT COMMA INVALID", "K_ERROR"),
      ("COLON", "S_WORD_COLON"),
      ("SLASH", "K_PATH_HEAD"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY"))
state("S_DIGITS_H", "decimal digits and h", "integer!", "K_ERROR",
      (DELIMITERS + " BACKSLASH LESS", "K_HEX"),
      ("SLASH", "K_PATH_HEAD"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY"))
state("S_LESS", "after a leading <: a tag or a word", "tag!", "S_TAG",
      (DELIMITERS, "K_WORD"),
      ("APOSTROPHE", "S_TAG_SINGLE_QUOTED"),
      ("COLON", "S_WORD_COLON"),
      ("LESS", "S_LESS"),
      ("GREATER EQUAL MINUS", "S_WORD"),
      ("INVALID", "K_ERROR"))
state("S_TAG", "a tag", "tag!", "S_TAG",
      ("QUOTE", "S_TAG_DOUBLE_QUOTED"),
      ("APOSTROPHE", "S_TAG_SINGLE_QUOTED"),
      ("GREATER", "K_TAG"),
      ("INVALID END", "K_ERROR"))
state("S_TAG_DOUBLE_QUOTED", "double quotes in a tag", "tag!", "S_TAG_DOUBLE_QUOTED",
      ("QUOTE", "S_TAG"),
      ("INVALID END", "K_ERROR"))
state("S_TAG_SINGLE_QUOTED", "single quotes in a tag", "tag!", "S_TAG_SINGLE_QUOTED",
      ("APOSTROPHE", "S_TAG"),
      ("INVALID END", "K_ERROR"))
state("S_SIGN", "after a leading + or -", "word!", "S_WORD",
      (DELIMITERS + " HASH BACKSLASH", "K_WORD"),
      ("DIGIT ZERO", "S_NUMBER"),
      ("APOSTROPHE PERCENT CARET INVALID", "K_ERROR"),
      ("SLASH", "K_PATH_HEAD"),
      ("POINT", "S_LEADING_POINT"),
      ("DOLLAR", "S_MONEY"))
state("S_PREFIXED_SIGN", "a + or - after ' or :", "word!", "S_WORD",
      (DELIMITERS + " HASH BACKSLASH", "K_WORD"),
      ("APOSTROPHE PERCENT DOLLAR CARET INVALID", "K_ERROR"),
      ("SLASH", "K_PATH_HEAD"))
state("S_LEADING_POINT", "after a leading point", "word!", "S_WORD",
      (DELIMITERS + " HASH BACKSLASH", "K_WORD"),
      ("DIGIT ZERO PLUS MINUS", "S_POINT_DIGITS"),
      ("COLON", "S_WORD_COLON"),
      ("SLASH", "K_PATH_HEAD"),
      ("PERCENT COMMA DOLLAR INVALID", "K_ERROR"),
      ("AT", "S_EMAIL"))
state("S_POINT_DIGITS", "a decimal that starts with its point", "float!", "K_ERROR",
      (DELIMITERS + " COLON SLASH LESS", "K_FLOAT"),
      ("DIGIT ZERO LOWER_E UPPER_E PLUS MINUS", "S_POINT_DIGITS"),
      ("X", "S_PAIR_X"),
      ("PERCENT", "K_PERCENT"),
      ("AT", "S_EMAIL"))
state("S_WORD_PREFIX", "after a leading ' or :", "word!", "K_ERROR",
      (LETTERS + " GREATER POINT CARET CONTINUATION OTHER", "S_WORD"),
      ("SLASH", "S_SLASH"),
      ("LESS", "S_LESS"),
      ("EQUAL", "S_EQUAL"),
      ("PERCENT", "S_PERCENT_WORD"),
      ("PLUS MINUS", "S_PREFIXED_SIGN"))
state("S_WORD", "a word", "word!", "S_WORD",
      (DELIMITERS + " HASH BACKSLASH LESS", "K_WORD"),
      ("COLON", "S_WORD_COLON"),
      ("SLASH", "K_PATH_HEAD"),
      ("PERCENT COMMA INVALID", "K_ERROR"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY_SIGN"))
state("S_WORD_COLON", "a word and a colon: a set-word or a URL", "set-word!", "S_URL",
      (DELIMITERS + " BACKSLASH", "K_WORD"),
      ("LESS INVALID", "K_ERROR"))
state("S_PERCENT_WORD", "% signs after a leading ' or :, or after %:", "word!", "K_ERROR",
      ("BLANK LINE_FEED BLOCK_OPEN BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_OPEN BRACE_CLOSE "
       "BACKSLASH SEMICOLON CONTROL END", "K_WORD"),
      ("PERCENT", "S_PERCENT_WORD"))
state("S_URL", "a URL", "url!", "S_URL",
      (DELIMITERS + " BACKSLASH LESS", "K_URL"),
      ("GREATER CARET INVALID", "K_ERROR"))
state("S_EMAIL", "an email address", "email!", "K_EMAIL",
      ("DIGIT ZERO " + LETTERS + " PERCENT POINT PLUS MINUS CONTINUATION OTHER", "S_EMAIL"),
      ("HASH APOSTROPHE COLON GREATER EQUAL COMMA AT DOLLAR CARET INVALID", "K_ERROR"))
state("S_REF", "a ref", "ref!", "S_REF",
      (DELIMITERS + " LESS", "K_REF"),
      ("HASH APOSTROPHE BACKSLASH GREATER EQUAL COMMA AT DOLLAR CARET INVALID", "K_ERROR"))
state("S_EQUAL", "after a leading =", "word!", "S_WORD",
      (DELIMITERS + " COLON BACKSLASH", "K_WORD"),
      ("HASH PERCENT COMMA AT DOLLAR INVALID", "K_ERROR"),
      ("SLASH", "K_PATH_HEAD"))
state("S_PATH", "a path element after its /", "path!", "K_ERROR",
      ("DIGIT ZERO", "S_PATH_NUMBER"),
      ("PAREN_OPEN", "K_PAREN_OPEN"),
      ("PAREN_CLOSE", "K_PAREN_CLOSE"),
      ("QUOTE", "S_STRING"),
      ("HASH", "S_PATH_HASH"),
      ("APOSTROPHE COLON", "S_PATH_WORD_PREFIX"),
      (LETTERS + " GREATER EQUAL POINT CONTINUATION OTHER", "S_PATH_WORD"),
      ("LESS", "S_LESS"),
      ("AT", "S_REF"),
      ("DOLLAR", "S_MONEY_SIGN"),
      ("PLUS MINUS", "S_PATH_SIGN"))
state("S_PATH_NUMBER", "a number in a path", "integer!", "K_ERROR",
      (DELIMITERS + " COLON SLASH LESS", "K_INTEGER"),
      ("DIGIT ZERO APOSTROPHE", "S_PATH_NUMBER"),
      ("X", "S_PAIR_X"),
      ("LOWER_E UPPER_E", "S_EXPONENT"),
      ("PERCENT", "K_PERCENT"),
      ("AT", "S_EMAIL"),
      ("POINT", "S_DECIMAL_POINT"))
state("S_PATH_WORD_PREFIX", "after ' or : in a path", "word!", "K_ERROR",
      (LETTERS + " LESS GREATER EQUAL POINT PLUS MINUS CONTINUATION OTHER", "S_PATH_WORD"))
state("S_PATH_WORD", "a word in a path", "word!", "S_PATH_WORD",
      (DELIMITERS + " COLON SLASH BACKSLASH", "K_WORD"),
      ("HASH PERCENT COMMA INVALID", "K_ERROR"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY_SIGN"))
state("S_PATH_HASH", "after # in a path", "issue!", "S_ISSUE",
      ("BLANK LINE_FEED BLOCK_CLOSE PAREN_OPEN PAREN_CLOSE BRACE_OPEN BRACE_CLOSE COLON SLASH "
       "LESS GREATER EQUAL COMMA SEMICOLON AT CONTROL INVALID END", "K_ERROR"),
      ("BLOCK_OPEN", "S_CONSTRUCT"),
      ("QUOTE", "S_CHAR"))
state("S_PATH_SIGN", "after + or - in a path", "word!", "K_WORD",
      ("DIGIT ZERO", "S_PATH_NUMBER"),
      ("HASH APOSTROPHE LESS PERCENT COMMA CARET INVALID", "K_ERROR"),
      (LETTERS + " GREATER EQUAL POINT CONTINUATION OTHER", "S_PATH_WORD"),
      ("AT", "S_EMAIL"),
      ("DOLLAR", "S_MONEY_SIGN"),
      ("PLUS MINUS", "S_PATH_SIGN"))

# The states the token loop starts a token in; every other state must be
# reached from another one.
ENTERED_BY_CODE = ["S_START", "S_BRACE", "S_POINT", "S_PATH"]

# Kinds follow the working states after one unused code, which keeps every
# number what it was when the table was written by hand.
FIRST_KIND = len(STATES) + 1


def type_id(name):
    """The C++ type constant of a datatype name: point2D! -> TYPE_POINT2D."""
    return "0" if name is None else "TYPE_" + name[:-1].upper().replace("-", "_")


def build():
    """The class of every byte, the next-code rows and the state types;
    exits with a message on a table that is not complete and unambiguous."""
    errors = []
    class_index = {name: i for i, (name, _, _) in enumerate(CLASSES)}
    byte_class = [None] * 256
    for i, (name, _, members) in enumerate(CLASSES):
        for b in members or b"":
            if byte_class[b] is not None:
                errors.append("byte 0x%02X is in %s and %s" % (b, CLASSES[byte_class[b]][0], name))
            byte_class[b] = i
    for b in range(256):
        if byte_class[b] is None:
            byte_class[b] = class_index["CONTROL" if b < 0x20 else "OTHER"]

    codes = {name: i for i, (name, _, _, _, _) in enumerate(STATES)}
    if len(codes) != len(STATES):
        errors.append("a state is named twice")
    codes.update({"K_" + name: FIRST_KIND + i for i, (name, _) in enumerate(KINDS)})
    if FIRST_KIND + len(KINDS) > 256:
        errors.append("the codes do not fit a byte")

    rows = []
    reached = set(ENTERED_BY_CODE)
    for name, _, _, default, transitions in STATES:
        row = [None] * len(CLASSES)
        for classes, target in transitions:
            for c in classes.split():
                if c not in class_index:
                    errors.append("%s: no class %s" % (name, c))
                elif row[class_index[c]] is not None:
                    errors.append("%s: class %s is listed twice" % (name, c))
                else:
                    row[class_index[c]] = target
        row = [default if t is None else t for t in row]
        for t in row:
            if t not in codes:
                errors.append("%s: no state or kind %s" % (name, t))
        reached.update(t for t in row if t != name)
        rows.append(row)
    for name, _, _, _, _ in STATES:
        if name not in reached:
            errors.append("%s is never reached" % name)
    if errors:
        sys.exit("\n".join(errors))
    return byte_class, [[codes[t] for t in row] for row in rows]


def byte_name(b):
    return chr(b) if 0x20 < b < 0x7F else "%02X" % b


def main():
    byte_class, rows = build()
    out = []
    w = out.append
    w("// The lexer's byte classes, working states, token kinds and the tables of")
    w("// its machine. Generated by tools/gen-lexer-tables.py; do not edit: change")
    w("// the script and run it again.")
    w("#pragma once")
    w("")
    w("#include <cstdint>")
    w("")
    w('#include "core/cell.h"')
    w("")
    w("// clang-format off")
    w("namespace mox::lexer {")
    w("")
    w("// The class of a byte: the column of the transition table.")
    w("enum ByteClass : uint8_t {")
    for name, doc, members in CLASSES:
        if not doc:
            doc = " ".join(byte_name(b) for b in members)
        w("    C_%s, // %s" % (name, doc))
    w("    CLASS_COUNT")
    w("};")
    w("")
    w("// The working states: the rows of the transition table.")
    w("enum State : uint8_t {")
    for name, doc, _, _, _ in STATES:
        w("    %s, // %s" % (name, doc))
    w("    STATE_COUNT")
    w("};")
    w("")
    w("// Token kinds: the codes that end a token before the byte read.")
    w("enum Kind : uint8_t {")
    for i, (name, _) in enumerate(KINDS):
        w("    K_%s = %d," % (name, FIRST_KIND + i))
    w("};")
    w("constexpr int KIND_COUNT = %d;" % len(KINDS))
    w("")
    w("// The class of every byte.")
    w("inline constexpr uint8_t kClass[256] = {")
    for lo in range(0, 256, 16):
        cells = ", ".join("%2d" % c for c in byte_class[lo:lo + 16])
        w("    %s, // %02X-%02X" % (cells, lo, lo + 15))
    w("};")
    w("")
    w("// The next state or token kind by state and class.")
    w("inline constexpr uint8_t kNext[STATE_COUNT][CLASS_COUNT] = {")
    for (name, _, _, _, _), row in zip(STATES, rows):
        w("    // %s" % name)
        w("    {" + ", ".join("%d" % c for c in row[:20]) + ",")
        w("     " + ", ".join("%d" % c for c in row[20:]) + "},")
    w("};")
    w("")
    w("// The datatype each working state is heading for (0: none yet).")
    w("inline constexpr uint8_t kStateType[STATE_COUNT] = {")
    for name, _, heading_for, _, _ in STATES:
        w("    %s, // %s" % (type_id(heading_for), name))
    w("};")
    w("")
    w("// The type each token kind stands for in the scan modes (0: none).")
    w("inline constexpr uint8_t kKindType[KIND_COUNT] = {")
    for name, type_name in KINDS:
        w("    %s, // K_%s" % (type_id(type_name), name))
    w("};")
    w("")
    w("} // namespace mox::lexer")
    w("// clang-format on")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Case rows for enhex, dehex and url! mold, with Python's urllib.parse as
the oracle: quote() with safe="" is the strict table (letters, digits and
- . _ ~ kept), quote() with the URL table's fifteen extra characters is the
URL table; unquote() decodes well-formed escapes. Prints the rows; they
stand in the "percent-encoding against urllib.parse" group of
file-url.mox (regenerate them with this script when the inputs change).
"""
import random
from urllib.parse import quote, unquote

URL_SAFE = "!#$&'()*+,/:=?@"


def mox_string(text):
    """A Mox string literal for text: "..." with caret escapes."""
    out = ['"']
    for ch in text:
        code = ord(ch)
        if ch == '"':
            out.append('^"')
        elif ch == "^":
            out.append("^^")
        elif ch == "\n":
            out.append("^/")
        elif ch == "\t":
            out.append("^-")
        elif code < 32 or code == 127 or 0x80 <= code <= 0x9F:
            out.append("^(%X)" % code)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def molded(escaped):
    """The expected-mold field of a string result holding percent-escaped
    text (ASCII without quotes, carets or braces): a string molds in braces
    from 50 characters on."""
    return mox_string(("{%s}" if len(escaped) > 49 else '"%s"') % escaped)


def samples():
    fixed = [
        "",
        "a b~",
        "".join(chr(c) for c in range(32, 127)),
        "".join(chr(c) for c in range(0, 32)) + "\x7f",
        "été à Noël ÿ ×",
        "€ 中文 ₿",
        "😀 emoji 𝄞 clef",
        "path/to/file name.txt?q=1&r=2#frag",
        "100% [sure] {maybe} <tag> |pipe| back\\slash `tick` ^caret \"quote\"",
        "\u00a0\u00ff\u0100\u07ff\u0800\uffef\U00010000\U0010fffd",
    ]
    rng = random.Random(14)
    alphabet = [chr(c) for c in range(32, 127)] + list("éüß€中😀\u00a0\u0100")
    rand = ["".join(rng.choice(alphabet) for _ in range(rng.randint(1, 24))) for _ in range(12)]
    return fixed + rand


def main():
    print("; enhex of a string!: the strict table")
    for s in samples():
        print("[enhex %s]  %s" % (mox_string(s), molded(quote(s, safe=""))))
    print("; enhex of the other text types, and url! mold: the URL table")
    for s in samples():
        expected = quote(s, safe=URL_SAFE)
        print("[enhex to file! %s]  %s" % (mox_string(s), molded(expected)))
        if s:
            print("[mold to url! %s]  %s" % (mox_string(s), molded(expected)))
    print("; dehex of well-formed escapes, and of raw text around them")
    rows = []
    for s in samples():
        rows.append(quote(s, safe=""))
        rows.append(quote(s, safe=URL_SAFE).lower())
        rows.append(s.replace("%", "%25").replace("é", "%C3%A9").replace("€", "%e2%82%ac"))
    for s in rows:
        print("[(dehex %s) == %s]  \"true\"" % (mox_string(s), mox_string(unquote(s))))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Seeded generator of large inputs for the benchmark.

    generate.py tree   BYTES     [--seed N] > class.xml
    generate.py subrs  COUNT     [--seed N] > class.xml
    generate.py json   TOKENS    [--seed N] > settings.json
    generate.py diff   BYTES     [--seed N] > text.diff
    generate.py vm     BYTES     [--seed N] > Main.vm
    generate.py vmloop ROUNDS              > Main.vm
    generate.py jack   NUMBER    [--seed N] > BenchNUMBER.jack

tree:  one Jack class in the XML tree form, written exactly as the tree
       programs write it (3 spaces a level), with subroutines added until
       the next one would pass BYTES. Its expressions mix constants that
       fold, identities, calls, strings with markup characters and UTF-8,
       and annotations. The same seed gives the same subroutines in the same
       order, so a smaller tree is a prefix of a larger one (subrs COUNT
       writes exactly COUNT subroutines).
json:  an SDK settings document of about TOKENS tokens whose
       "SupportedTargets"."macosx"."Archs" lists x86_64 and arm64, buried
       between large objects and arrays of every kind of value.
diff:  BYTES of diff-style lines ending in a line feed, with tabs, carriage
       returns, other control bytes and bytes above 127.
vm:    a VM file of about BYTES, functions written the way a compiler
       writes them (every command and segment, labels, calls of each other
       and of the library), of which Main.main runs only a few steps: for
       the time to load and check code.
vmloop: a compute-bound VM program: ROUNDS times 1000 calls of a small
       function of arithmetic and logic, for the steps per second.
jack:  one Jack class of the size programs are written in, about 300 lines:
       class BenchNUMBER with statics, fields, a constructor, methods and
       functions of every statement form, expressions with constants that
       fold, array accesses, calls, strings. Each NUMBER gives another class.
"""

import argparse
import random
import sys

STEP = "   "


def escape(text):
    out = []
    for ch in text:
        c = ord(ch) if isinstance(ch, str) else ch
        if ch == '"':
            out.append("&quot;")
        elif ch == "&":
            out.append("&amp;")
        elif ch == "'":
            out.append("&apos;")
        elif ch == "<":
            out.append("&lt;")
        elif ch == ">":
            out.append("&gt;")
        elif c < 32 or c == 127:
            out.append("&#%d;" % c)
        else:
            out.append(ch)
    return "".join(out)


class TreeWriter:
    """Writes elements the way the tree writer does: one per line."""

    def __init__(self):
        self.lines = []
        self.nodes = 0

    def open(self, depth, tag):
        self.lines.append(STEP * depth + "<" + tag + ">\n")

    def close(self, depth, tag):
        self.lines.append(STEP * depth + "</" + tag + ">\n")

    def text(self, depth, tag, value):
        self.lines.append(STEP * depth + "<" + tag + ">" + escape(value) + "</" + tag + ">\n")


NAMES = ["x", "y", "count", "total", "index", "size", "left", "right", "item", "next",
         "width", "height", "speed", "score", "limit", "step", "flag", "done", "head", "tail"]
TYPES = ["int", "int", "int", "boolean", "char", "Array", "String", "Point"]
CLASSES = ["Math", "Output", "Memory", "Screen", "Keyboard", "Array", "String", "Sys", "Point", "List"]
SUBRS = ["multiply", "divide", "printInt", "printString", "alloc", "deAlloc", "drawLine", "new",
         "dispose", "get", "set", "length", "charAt", "wait", "readInt", "max", "min", "abs"]
OPS = ["+", "-", "*", "/", "&", "|", "<", ">", "="]
COMMENTS = ["checks the bounds first", "a < b && c > d", "caf\u00e9 r\u00e9sum\u00e9 \u2014 \u00a9",
            "the caller's \"own\" copy", "folded by hand", "tab\there", "TODO: remove"]
STRINGS = ["Hello, world", "score: ", "<tag> & \"quotes\"", "it's done", "na\u00efve \u00fcber",
           "line\none", "", "x"]


class ClassGenerator:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.w = TreeWriter()

    # Variables are (segment, name, offset, type).
    def annotation(self, depth):
        r = self.rng
        if r.random() >= 0.03:
            return
        w = self.w
        w.open(depth, "annotation")
        for _ in range(r.randint(1, 2)):
            w.text(depth + 1, "ann-comment", r.choice(COMMENTS))
        if r.random() < 0.3:
            w.text(depth + 1, "ann-warning", "unused value")
        w.close(depth, "annotation")

    def var(self, depth, tag, v):
        w = self.w
        w.nodes += 1
        w.open(depth, tag)
        self.annotation(depth + 1)
        w.text(depth + 1, "var-segment", v[0])
        w.text(depth + 1, "var-name", v[1])
        w.text(depth + 1, "var-offset", str(v[2]))
        w.text(depth + 1, "var-type", v[3])
        w.close(depth, tag)

    def var_list(self, depth, tag, variables):
        w = self.w
        w.nodes += 1
        w.open(depth, tag)
        for v in variables:
            self.var(depth + 1, "var-dec", v)
        w.close(depth, tag)

    def node(self, depth, tag, body):
        w = self.w
        w.nodes += 1
        w.open(depth, tag)
        self.annotation(depth + 1)
        body(depth + 1)
        w.close(depth, tag)

    def leaf_int(self, depth, value):
        self.node(depth, "int", lambda d: self.w.text(d, "ic", str(value)))

    def term(self, depth, scope, level):
        r = self.rng
        w = self.w
        roll = r.random()

        def body(d):
            if roll < 0.30 or level > 3:
                self.leaf_int(d, r.randint(0, 32767) if r.random() < 0.5 else r.randint(0, 9))
            elif roll < 0.55:
                self.var(d, "var", r.choice(scope))
            elif roll < 0.60:
                self.node(d, "string", lambda d2: w.text(d2, "sc", r.choice(STRINGS) or "s"))
            elif roll < 0.63:
                self.node(d, "bool", lambda d2: w.text(d2, "tf", r.choice(["true", "false"])))
            elif roll < 0.65:
                self.node(d, "null", lambda d2: None)
            elif roll < 0.67:
                self.node(d, "this", lambda d2: None)
            elif roll < 0.77:
                self.expr(d, scope, level + 1)
            elif roll < 0.83:
                def unary(d2):
                    w.text(d2, "op", r.choice(["-", "~"]))
                    self.term(d2, scope, level + 1)
                self.node(d, "unary-op", unary)
            elif roll < 0.88:
                def index(d2):
                    self.var(d2, "var", r.choice(scope))
                    self.expr(d2, scope, level + 1)
                self.node(d, "array-index", index)
            else:
                self.call(d, scope, level + 1)

        self.node(depth, "term", body)

    def call(self, depth, scope, level):
        r = self.rng
        w = self.w

        def subr_call(d):
            w.text(d, "subr-name", r.choice(SUBRS))

            def args(d2):
                for _ in range(r.randint(0, 3) if level < 4 else 0):
                    self.expr(d2, scope, level + 1)
            self.node(d, "expr-list", args)

        if r.random() < 0.5:
            def body(d):
                w.text(d, "class-name", r.choice(CLASSES))
                self.node(d, "subr-call", subr_call)
            self.node(depth, "call-as-function", body)
        else:
            def body(d):
                w.text(d, "class-name", r.choice(CLASSES))
                if r.random() < 0.3:
                    self.node(d, "this", lambda d2: None)
                else:
                    self.var(d, "var", r.choice(scope))
                self.node(d, "subr-call", subr_call)
            self.node(depth, "call-as-method", body)

    def expr(self, depth, scope, level=0):
        r = self.rng
        w = self.w

        def body(d):
            roll = r.random()
            if roll < 0.2 and level < 3:
                # Two constants under one operator: exprfold's bread and butter.
                self.node(d, "term", lambda d2: self.leaf_int(d2, r.randint(0, 200)))
                self.node(d, "op", lambda d2: w.text(d2, "i-op", r.choice(OPS)))
                self.node(d, "term", lambda d2: self.leaf_int(d2, r.randint(1, 200)))
                return
            count = 1 if roll < 0.55 else r.choice([2, 2, 3])
            for i in range(count):
                if i:
                    self.node(d, "op", lambda d2: w.text(d2, "i-op", r.choice(OPS)))
                self.term(d, scope, level)

        self.node(depth, "expr", body)

    def statements(self, depth, scope, level):
        r = self.rng

        def body(d):
            for _ in range(r.randint(1, 4) if level else r.randint(3, 10)):
                self.statement(d, scope, level)

        self.node(depth, "statements", body)

    def statement(self, depth, scope, level):
        r = self.rng
        w = self.w
        roll = r.random()

        def body(d):
            if roll < 0.45 or level > 2:
                def let(d2):
                    self.var(d2, "var", r.choice(scope))
                    self.expr(d2, scope)
                self.node(d, "let", let)
            elif roll < 0.52:
                def let_array(d2):
                    self.var(d2, "var", r.choice(scope))
                    self.expr(d2, scope)
                    self.expr(d2, scope)
                self.node(d, "let-array", let_array)
            elif roll < 0.62:
                def if_(d2):
                    self.expr(d2, scope)
                    self.statements(d2, scope, level + 1)
                self.node(d, "if", if_)
            elif roll < 0.70:
                def if_else(d2):
                    self.expr(d2, scope)
                    self.statements(d2, scope, level + 1)
                    self.statements(d2, scope, level + 1)
                self.node(d, "if-else", if_else)
            elif roll < 0.78:
                def while_(d2):
                    self.expr(d2, scope)
                    self.statements(d2, scope, level + 1)
                self.node(d, "while", while_)
            elif roll < 0.94:
                self.node(d, "do", lambda d2: self.call(d2, scope, 1))
            elif roll < 0.97:
                self.node(d, "return", lambda d2: None)
            else:
                self.node(d, "return-expr", lambda d2: self.expr(d2, scope))

        self.node(depth, "statement", body)

    def subroutine(self, depth, statics, fields):
        r = self.rng
        w = self.w
        kind = r.choice(["constructor", "function", "method", "method"])
        params = [("argument", r.choice(NAMES) + str(i), i, r.choice(TYPES)) for i in range(r.randint(0, 3))]
        locals_ = [("local", r.choice(NAMES) + str(i), i, r.choice(TYPES)) for i in range(r.randint(0, 4))]
        scope = statics + params + locals_ + (fields if kind != "function" else [])
        if not scope:
            scope = [("local", "tmp", 0, "int")]

        def sub(d):
            w.text(d, "vtype", r.choice(["void", "int", "boolean", "Point"]))
            w.text(d, "name", r.choice(SUBRS) + str(r.randint(0, 999)))
            self.var_list(d, "param-list", params)

            def body(d2):
                self.var_list(d2, "var-decs", locals_)
                self.statements(d2, scope, 0)
            self.node(d, "subr-body", body)

        self.node(depth, "subr", lambda d: self.node(d, kind, sub))


def write_tree(out, seed, max_bytes=None, subr_count=None):
    g = ClassGenerator(seed)
    w = g.w
    statics = [("static", n + "S", i, r) for i, (n, r) in enumerate([("count", "int"), ("instances", "int")])]
    fields = [("this", n, i, t) for i, (n, t) in enumerate([("x", "int"), ("y", "int"), ("name", "String"),
                                                            ("items", "Array")])]
    w.open(0, "class")
    w.text(1, "class-name", "Bench")
    g.var_list(1, "class-var-decs", statics)
    g.var_list(1, "class-var-decs", fields)
    w.open(1, "subr-decs")
    head = "".join(w.lines)
    tail = STEP + "</subr-decs>\n</class>\n"
    out.write(head)
    size = len(head.encode()) + len(tail)
    count = 0
    while subr_count is None or count < subr_count:
        w.lines = []
        g.subroutine(2, statics, fields)
        piece = "".join(w.lines)
        piece_size = len(piece.encode())
        if max_bytes is not None and size + piece_size > max_bytes:
            break
        out.write(piece)
        size += piece_size
        count += 1
    out.write(tail)
    return count


def json_string(rng):
    choices = ["x86_64", "arm64", "YES", "NO", "default", "Caf\\u00e9", "r\u00e9sum\u00e9",
               "path/to/some/Thing.framework", "quote \\\"inside\\\"", "tab\\tand\\nnewline",
               "\\ud83d\\ude00", "14.2.99", "MACOSX_DEPLOYMENT_TARGET"]
    return '"' + rng.choice(choices) + '"'


def json_value(rng, depth, budget):
    """Returns (text, tokens) of one value of at most about budget tokens."""
    roll = rng.random()
    if budget < 8 or depth > 6 or roll < 0.5:
        kind = rng.random()
        if kind < 0.5:
            return json_string(rng), 1
        if kind < 0.8:
            return rng.choice(["0", "1", "42", "-7", "3.25", "1e3", "-0.5E+3", "10.13"]), 1
        return rng.choice(["true", "false", "null"]), 1
    if roll < 0.75:
        items, tokens = [], 2
        for _ in range(rng.randint(0, 12)):
            text, n = json_value(rng, depth + 1, budget // 4)
            items.append(text)
            tokens += n + 1
        if items:
            tokens -= 1
        return "[" + ", ".join(items) + "]", tokens
    members, tokens = [], 2
    for i in range(rng.randint(0, 10)):
        text, n = json_value(rng, depth + 1, budget // 4)
        members.append('"Key%d_%d": %s' % (depth, i, text))
        tokens += n + 3
    if members:
        tokens -= 1
    pad = "\n" + "    " * (depth + 1)
    return "{" + pad + ("," + pad).join(members) + "\n" + "    " * depth + "}", tokens


def write_json(out, seed, tokens):
    """Writes a document of exactly tokens tokens, counting the end of input."""
    rng = random.Random(seed)
    head = ('{\n    "CanonicalName": "macosx14.2",\n    "DisplayName": "Desktop Platform SDK 14.2",\n'
            '    "Version": "14.2",\n')
    middle = ('    "SupportedTargets": {\n        "macosx": {\n            "Archs": ["x86_64", "arm64"],\n'
              '            "DefaultDeploymentTarget": "14.2"\n        }\n    },\n')
    end = '    "End": true\n}\n'
    count = 1 + 3 * 4 + 20  # the brace, the three head members and the target block
    room = tokens - 5       # "End", ":", "true", "}" and the end of input
    out.write(head)
    half = tokens // 2
    wrote_middle = False
    index = 0
    while True:
        if not wrote_middle and count >= half:
            out.write(middle)
            wrote_middle = True
        text, n = json_value(rng, 1, 4000)
        if count + n + 3 > room - 40:
            break
        out.write('    "Properties%d": %s,\n' % (index, text))
        count += n + 3
        index += 1
    if not wrote_middle:
        out.write(middle)
    # Small members of 4 tokens make up the rest; the last one takes 4 to 7.
    left = room - count
    fillers = ['"Pad%d": 0,', '"Pad%d": [],', '"Pad%d": [0],', '"Pad%d": [[]],']
    while left >= 8:
        out.write('    ' + fillers[0] % index + '\n')
        left -= 4
        index += 1
    if left >= 4:
        out.write('    ' + fillers[left - 4] % index + '\n')
    out.write(end)


def write_diff(out, seed, size):
    rng = random.Random(seed)
    words = ["let", "x", "=", "y", "+", "1;", "do", "Output.printString(\"Caf\u00e9\");", "return;",
             "while", "(i", "<", "n)", "{", "}", "if", "var", "int", "count,", "size;", "//", "note"]
    pool = []
    for _ in range(20000):
        roll = rng.random()
        marker = "-" if roll < 0.25 else "+" if roll < 0.5 else "|" if roll < 0.55 else " "
        indent = "\t" if rng.random() < 0.15 else " " * rng.choice([0, 4, 8, 12])
        line = marker + indent + " ".join(rng.choice(words) for _ in range(rng.randint(0, 12)))
        data = bytearray(line.encode())
        if rng.random() < 0.05:
            data.append(13)  # a carriage return before the line feed
        if rng.random() < 0.03:
            data.insert(rng.randint(1, len(data)), rng.choice([0, 1, 27, 127, 0xE9, 0xFF, 0x80]))
        if rng.random() < 0.02:
            data[0:0] = b"@@ -%d,7 +%d,7 @@\n" % (rng.randint(1, 9999), rng.randint(1, 9999))
        pool.append(bytes(data) + b"\n")
    sink = out.buffer
    written = 0
    while written < size:
        block = b"".join(rng.choices(pool, k=4096))
        if written + len(block) > size:
            block = block[:size - written]
            cut = block.rfind(b"\n")
            block = block[:cut + 1] if cut >= 0 else b""
            if not block:
                break
        sink.write(block)
        written += len(block)
    return written


def write_vm(out, seed, max_bytes):
    rng = random.Random(seed)
    size = 0
    out.write("function Main.main 0\npush constant 0\nreturn\n")
    n = 0
    while size < max_bytes:
        lines = ["function Main.f%d %d" % (n, rng.randint(0, 4))]
        for k in range(rng.randint(5, 40)):
            choice = rng.randrange(7)
            if choice == 0:
                lines.append("push constant %d" % rng.randint(0, 32767))
            elif choice == 1:
                lines.append("push %s %d" % rng.choice([("argument", rng.randint(0, 3)), ("local", rng.randint(0, 3)),
                                                        ("static", rng.randint(0, 9)), ("this", rng.randint(0, 5)),
                                                        ("that", 0), ("pointer", rng.randint(0, 1)),
                                                        ("temp", rng.randint(0, 7))]))
            elif choice == 2:
                lines.append("pop %s %d" % rng.choice([("local", rng.randint(0, 3)), ("static", rng.randint(0, 9)),
                                                       ("that", 0), ("pointer", 1), ("temp", 0)]))
            elif choice == 3:
                lines.append(rng.choice(["add", "sub", "neg", "eq", "gt", "lt", "and", "or", "not"]))
            elif choice == 4:
                lines += ["label WHILE_%d" % k, "push local 0", "not", "if-goto WHILE_END_%d" % k,
                          "goto WHILE_%d" % k, "label WHILE_END_%d" % k]
            elif choice == 5:
                lines.append("call Main.f%d %d" % (rng.randint(0, n), rng.randint(0, 3)))
            else:
                lines.append(rng.choice(["call Math.multiply 2", "call Output.printInt 1", "call String.new 1",
                                         "call Memory.alloc 1", "call Screen.drawLine 4"]))
        lines += ["push constant 0", "return"]
        text = "\n".join(lines) + "\n"
        out.write(text)
        size += len(text)
        n += 1


def write_vmloop(out, rounds):
    out.write("""function Main.main 3
push constant 0
pop local 0
label OUTER
push local 0
push constant %d
lt
not
if-goto DONE
push constant 0
pop local 1
label INNER
push local 1
push constant 1000
lt
not
if-goto NEXT
push local 2
push local 1
push local 0
call Main.mix 2
add
pop local 2
push local 1
push constant 1
add
pop local 1
goto INNER
label NEXT
push local 0
push constant 1
add
pop local 0
goto OUTER
label DONE
push local 2
call Output.printInt 1
pop temp 0
push constant 0
return
function Main.mix 0
push argument 0
push argument 1
and
push argument 0
push argument 1
or
sub
push constant 3
add
return
""" % rounds)
class JackGenerator:
    """A Jack class as a person writes one: every name declared before use."""

    def __init__(self, seed, number):
        self.rng = random.Random(seed * 100003 + number)
        self.name = "Bench%d" % number
        self.lines = []

    def expr(self, scope, level=0):
        r = self.rng
        roll = r.random()
        if level > 2 or roll < 0.3:
            return self.term(scope, level)
        if roll < 0.45:
            return "%d %s %d" % (r.randint(0, 100), r.choice(OPS[:6]), r.randint(1, 100))
        return "%s %s %s" % (self.term(scope, level), r.choice(OPS), self.term(scope, level))

    def term(self, scope, level):
        r = self.rng
        roll = r.random()
        ints = [v for v, t in scope if t == "int"]
        arrays = [v for v, t in scope if t == "Array"]
        if roll < 0.3:
            return str(r.randint(0, 32767))
        if roll < 0.6:
            return r.choice(ints)
        if roll < 0.7 and level < 3:
            return "(" + self.expr(scope, level + 1) + ")"
        if roll < 0.78:
            return "%s[%s]" % (r.choice(arrays), self.expr(scope, level + 1))
        if roll < 0.84:
            return r.choice(["-", "~"]) + r.choice(ints)
        if roll < 0.92 and level < 3:
            return "Math.%s(%s, %s)" % (r.choice(["max", "min", "multiply"]), self.expr(scope, level + 1),
                                         self.expr(scope, level + 1))
        return r.choice(["true", "false", "null"])

    def statement(self, scope, depth, level):
        r = self.rng
        pad = "    " * depth
        ints = [v for v, t in scope if t == "int"]
        arrays = [v for v, t in scope if t == "Array"]
        roll = r.random()
        if roll < 0.35 or level > 1:
            self.lines.append("%slet %s = %s;" % (pad, r.choice(ints), self.expr(scope)))
        elif roll < 0.45:
            self.lines.append("%slet %s[%s] = %s;" % (pad, r.choice(arrays), self.expr(scope), self.expr(scope)))
        elif roll < 0.6:
            self.lines.append("%sdo Output.printString(\"%s\");" % (pad, r.choice(["score: ", "done", "x = "])))
        elif roll < 0.7:
            self.lines.append("%sdo Output.printInt(%s);" % (pad, self.expr(scope)))
        elif roll < 0.85:
            self.lines.append("%sif (%s < %s) {" % (pad, r.choice(ints), self.expr(scope)))
            for _ in range(r.randint(1, 3)):
                self.statement(scope, depth + 1, level + 1)
            if r.random() < 0.5:
                self.lines.append(pad + "} else {")
                for _ in range(r.randint(1, 3)):
                    self.statement(scope, depth + 1, level + 1)
            self.lines.append(pad + "}")
        else:
            counter = r.choice(ints)
            self.lines.append("%swhile (%s > 0) {" % (pad, counter))
            for _ in range(r.randint(1, 3)):
                self.statement(scope, depth + 1, level + 1)
            self.lines.append("%s    let %s = %s - 1;" % (pad, counter, counter))
            self.lines.append(pad + "}")

    def subroutine(self, kind, name, members):
        r = self.rng
        params = [("p%d" % i, "int") for i in range(r.randint(0, 3))]
        local = [("i", "int"), ("j", "int"), ("sum", "int"), ("buffer", "Array")]
        scope = (members if kind != "function" else [v for v in members if v[0].startswith("s")]) + params + local
        returns = self.name if kind == "constructor" else "int"
        self.lines.append("    %s %s %s(%s) {" % (kind, returns, name, ", ".join("int " + p for p, _ in params)))
        self.lines.append("        var int i, j, sum;")
        self.lines.append("        var Array buffer;")
        self.lines.append("        let buffer = Array.new(%d);" % r.randint(8, 64))
        for _ in range(r.randint(8, 16)):
            self.statement(scope, 2, 0)
        self.lines.append("        do buffer.dispose();")
        self.lines.append("        return %s;" % ("this" if kind == "constructor" else self.expr(scope)))
        self.lines.append("    }")
        self.lines.append("")

    def generate(self):
        members = [("sCount", "int"), ("sTable", "Array"), ("x", "int"), ("y", "int"), ("items", "Array")]
        self.lines.append("/** A class of the benchmark's folder. */")
        self.lines.append("class %s {" % self.name)
        self.lines.append("    static int sCount;")
        self.lines.append("    static Array sTable;")
        self.lines.append("    field int x, y;")
        self.lines.append("    field Array items;")
        self.lines.append("")
        self.subroutine("constructor", "new", members)
        for i in range(4):
            self.subroutine("method", "step%d" % i, members)
        for i in range(2):
            self.subroutine("function", "helper%d" % i, members)
        self.lines.append("}")
        return "\n".join(self.lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["tree", "subrs", "json", "diff", "vm", "vmloop", "jack"])
    parser.add_argument("amount", type=int)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8", newline="\n")
    out = sys.stdout
    if args.what == "tree":
        write_tree(out, args.seed, max_bytes=args.amount)
    elif args.what == "subrs":
        write_tree(out, args.seed, subr_count=args.amount)
    elif args.what == "json":
        write_json(out, args.seed, args.amount)
    elif args.what == "vm":
        write_vm(out, args.seed, args.amount)
    elif args.what == "vmloop":
        write_vmloop(out, args.amount)
    elif args.what == "jack":
        out.write(JackGenerator(args.seed, args.amount).generate())
    else:
        out.flush()
        write_diff(out, args.seed, args.amount)
    out.flush()


if __name__ == "__main__":
    main()

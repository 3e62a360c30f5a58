"""Mutant enumeration for tools/ci/mutate.py: small source changes found by
libclang's syntax tree, so that comments, string literals and the
arguments of macros (logging, ACE's smart-pointer helpers) are never
touched.

A mutant is one replacement of a byte range [start, end) of a file by a
new text; its key (file, line, column, original -> replacement) is what
the equivalent-mutant list names."""

import json
import os
import subprocess
from dataclasses import dataclass, field

import clang.cindex as ci

K = ci.CursorKind

RELATIONAL = {
    "<": ["<=", ">="],
    "<=": ["<", ">"],
    ">": [">=", "<="],
    ">=": [">", "<"],
    "==": ["!="],
    "!=": ["=="],
}
ARITHMETIC = {
    "+": ["-"],
    "-": ["+"],
    "*": ["/"],
    "/": ["*"],
    "%": ["/"],
    "<<": [">>"],
    ">>": ["<<"],
    "&": ["|"],
    "|": ["&"],
    "^": ["|"],
}
COMPOUND = {"+=": ["-="], "-=": ["+="], "*=": ["/="], "/=": ["*="], "|=": ["&="], "&=": ["|="]}
LOGICAL = {"&&": ["||"], "||": ["&&"]}
BINARY = {**RELATIONAL, **ARITHMETIC, **LOGICAL}

FUNCTIONS = (K.FUNCTION_DECL, K.FUNCTION_TEMPLATE, K.CXX_METHOD)
# Statements whose first child is a condition.
CONDITIONS = (K.IF_STMT, K.WHILE_STMT, K.CONDITIONAL_OPERATOR)


@dataclass
class Mutant:
    file: str  # relative to the tree's root
    line: int
    col: int
    start: int
    end: int
    operator: str
    original: str
    replacement: str
    status: str = "pending"
    killer: str = ""
    seconds: float = 0.0
    extra: dict = field(default_factory=dict)

    def order(self):
        """Files in turn, each from its start."""
        return (self.file, self.start, self.end, self.replacement)

    def key(self):
        return (self.file, self.line, self.col, self.original, self.replacement)

    def describe(self):
        """The mutant as tools/ci/mutation-equivalent.txt names it, then its
        operator."""
        return (f"{self.file}:{self.line}:{self.col} | {json.dumps(self.original)} -> "
                f"{json.dumps(self.replacement)}"
                f" | {self.operator}")

    def apply(self, text: bytes) -> bytes:
        return text[: self.start] + self.replacement.encode() + text[self.end :]


def _resource_dir():
    try:
        out = subprocess.run(["clang", "-print-resource-dir"], capture_output=True, text=True, check=True)
        return out.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return ""


class Enumerator:
    """Parses each file on its own (a header as its own translation unit)
    and lists the mutants of the code that the file itself spells."""

    def __init__(self, root):
        self.root = root
        self.index = ci.Index.create()
        self.args = ["-x", "c++", "-std=c++17", "-I" + root, "-Wno-everything"]
        resource = _resource_dir()
        if resource:
            self.args += ["-resource-dir", resource]
        self.errors = []

    def file_mutants(self, rel):
        path = os.path.join(self.root, rel)
        with open(path, "rb") as f:
            self.text = f.read()
        tu = self.index.parse(path, args=self.args,
                              options=ci.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
        for d in tu.diagnostics:
            if d.severity >= ci.Diagnostic.Error:
                self.errors.append(f"{rel}: {d.spelling}")
        self.path = os.path.realpath(path)
        self.rel = rel
        self.macro_ranges = [
            (c.extent.start.offset, c.extent.end.offset)
            for c in tu.cursor.get_children()
            if c.kind == K.MACRO_INSTANTIATION and self._here(c)
        ]
        self.out = []
        self.seen = set()
        self._walk(tu.cursor)
        self.out.sort(key=Mutant.order)
        return self.out

    # -- helpers ---------------------------------------------------------

    def _here(self, cursor):
        f = cursor.location.file
        return f is not None and os.path.realpath(f.name) == self.path

    def _in_macro(self, start, end):
        return any(a <= start < b or a < end <= b for a, b in self.macro_ranges)

    def _span(self, cursor):
        return cursor.extent.start.offset, cursor.extent.end.offset

    def _add(self, start, end, operator, replacement, loc_offset=None):
        if start >= end and replacement == "":
            return
        if self._in_macro(start, end if end > start else start + 1):
            return
        original = self.text[start:end].decode(errors="replace")
        if original == replacement:
            return
        key = (start, end, replacement)
        if key in self.seen:
            return
        self.seen.add(key)
        off = start if loc_offset is None else loc_offset
        line = self.text.count(b"\n", 0, off) + 1
        col = off - (self.text.rfind(b"\n", 0, off) + 1) + 1
        self.out.append(Mutant(self.rel, line, col, start, end, operator, original, replacement))

    def _operator_token(self, cursor, children):
        """The operator token of a binary expression: the first token after
        its left operand."""
        if len(children) != 2:
            return None
        lhs_end = children[0].extent.end.offset
        for tok in cursor.get_tokens():
            if tok.extent.start.offset >= lhs_end:
                return tok
        return None

    # -- the walk --------------------------------------------------------

    def _walk(self, cursor):
        for child in cursor.get_children():
            if child.kind == K.MACRO_INSTANTIATION or child.kind == K.MACRO_DEFINITION:
                continue
            if child.kind == K.INCLUSION_DIRECTIVE:
                continue
            if not self._here(child):
                continue
            if child.kind == K.STATIC_ASSERT:
                continue
            # A function's return type (an enable_if condition) only
            # selects among overloads at compile time.
            if cursor.kind in FUNCTIONS and child.extent.end.offset <= cursor.location.offset:
                continue
            self._visit(child)
            self._walk(child)

    def _visit(self, c):
        kind = c.kind
        children = list(c.get_children())
        if kind == K.BINARY_OPERATOR:
            tok = self._operator_token(c, children)
            if tok is None:
                return
            op = tok.spelling
            s, e = tok.extent.start.offset, tok.extent.end.offset
            group = ("relational" if op in RELATIONAL else "logical" if op in LOGICAL
                     else "arithmetic" if op in ARITHMETIC else None)
            if group:
                for r in BINARY[op]:
                    self._add(s, e, group, r)
            if op == "&&":
                ls, le = self._span(children[0])
                rs, re_ = self._span(children[1])
                cs, ce = self._span(c)
                self._add(cs, ce, "conjunct dropped", self.text[ls:le].decode(), s)
                self._add(cs, ce, "conjunct dropped", self.text[rs:re_].decode(), s)
        elif kind == K.COMPOUND_ASSIGNMENT_OPERATOR:
            tok = self._operator_token(c, children)
            if tok is not None and tok.spelling in COMPOUND:
                for r in COMPOUND[tok.spelling]:
                    self._add(tok.extent.start.offset, tok.extent.end.offset, "arithmetic", r)
        elif kind == K.UNARY_OPERATOR:
            toks = list(c.get_tokens())
            if not toks:
                return
            first, last = toks[0], toks[-1]
            if first.spelling == "!":
                self._add(first.extent.start.offset, first.extent.end.offset, "negation removed", "")
            elif first.spelling in ("++", "--"):
                self._add(first.extent.start.offset, first.extent.end.offset, "arithmetic",
                          "--" if first.spelling == "++" else "++")
            elif last.spelling in ("++", "--") and len(toks) > 1:
                self._add(last.extent.start.offset, last.extent.end.offset, "arithmetic",
                          "--" if last.spelling == "++" else "++")
        elif kind == K.INTEGER_LITERAL:
            self._integer(c)
        elif kind == K.CXX_BOOL_LITERAL_EXPR:
            toks = list(c.get_tokens())
            if len(toks) == 1 and toks[0].spelling in ("true", "false"):
                s, e = self._span(c)
                self._add(s, e, "boolean flipped", "false" if toks[0].spelling == "true" else "true")
        if kind in CONDITIONS and children:
            cond = children[0]
            if cond.kind.is_expression():
                s, e = self._span(cond)
                self._add(s, e, "condition negated", "!(" + self.text[s:e].decode() + ")")
        if kind == K.RETURN_STMT and children:
            expr = children[0]
            if expr.type.kind == ci.TypeKind.BOOL and expr.kind != K.CXX_BOOL_LITERAL_EXPR:
                s, e = self._span(expr)
                self._add(s, e, "boolean flipped", "!(" + self.text[s:e].decode() + ")")
        if kind == K.COMPOUND_STMT:
            for stmt in children:
                call = self._call_statement(stmt)
                if call is not None:
                    s, e = self._span(stmt)
                    self._add(s, e, "call deleted", "(void)0")

    def _call_statement(self, stmt):
        """The call that a statement consists of, through the implicit
        nodes (cleanups, casts) that wrap it."""
        node = stmt
        while node.kind == K.UNEXPOSED_EXPR:
            inner = list(node.get_children())
            if len(inner) != 1:
                return None
            node = inner[0]
        if node.kind != K.CALL_EXPR or node.spelling.startswith("operator"):
            return None
        if stmt.extent.start.offset != node.extent.start.offset:
            return None
        return node

    def _integer(self, c):
        toks = list(c.get_tokens())
        if len(toks) != 1:
            return
        spelling = toks[0].spelling
        digits = spelling.rstrip("uUlL")
        suffix = spelling[len(digits):]
        try:
            if digits.lower().startswith("0x"):
                upper = any(ch in "ABCDEF" for ch in digits[2:])
                value, fmt = int(digits, 16), digits[:2] + ("{:X}" if upper else "{:x}")
            elif len(digits) > 1 and digits.startswith("0"):
                value, fmt = int(digits, 8), "0{:o}"
            else:
                value, fmt = int(digits.replace("'", "")), "{}"
        except ValueError:
            return
        s, e = toks[0].extent.start.offset, toks[0].extent.end.offset
        for v in (value + 1, value - 1):
            if v >= 0:
                self._add(s, e, "constant moved", fmt.format(v) + suffix)

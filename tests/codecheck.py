#!/usr/bin/env python3
"""Inspects the machine code of the built cpubench executable.

    codecheck.py PATH/cpubench

Guards against build and optimizer outcomes that the source cannot show:
GMP linked at build time instead of loaded at run time, MulDiv128 inlined
or compiled to a library division, the OpenMP team not compiled in, and the
copy loop replaced by memcpy or turned into streaming stores. Exits 0 when
all checks hold, 1 otherwise, 2 when the executable cannot be inspected.
"""

import re
import subprocess
import sys
from collections import namedtuple

Insn = namedtuple("Insn", "address mnemonic operands target comment")

HEADER = re.compile(r"^([0-9a-f]+) <(.+)>:$")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
SYMBOL = re.compile(r"<([^>+]+)(\+0x[0-9a-f]+)?>")
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "cs", "ds",
            "bnd", "notrack", "addr32"}
GPR64 = re.compile(r"^%r([a-z]{2}|\d+)$")
MULTIPLY_OR_DIVIDE = re.compile(r"^i?(mul|div)[bwlq]?$")

MULDIV128 = "_Z9MulDiv128"
SINGLE = "_Z16mulDivSingleCore"
TEAM = "_Z14mulDivTeamCore"
COPY = "_Z9copyBytes"
FILLCOPY = "_Z13fillCopySteps"
PARALLEL_START = re.compile(r"^(GOMP_parallel\w*|__kmpc_fork_call)(@.*)?$")
OUTLINED = re.compile(r"(_omp_fn\.\d+|omp_outlined)")
MEMCPY = re.compile(r"^(__)?(memcpy|memmove)\w*(@.*)?$")
ALIGNED16 = {"movaps", "movapd", "movdqa"}
LIBRARY_DIVISION = re.compile(r"^__u?(div|mod|divmod)ti[34]\b")


def split_operands(text):
    """Splits AT&T operands on the commas outside parentheses."""
    operands, depth, current = [], 0, ""
    for char in text:
        depth += (char == "(") - (char == ")")
        if char == "," and depth == 0:
            operands.append(current.strip())
            current = ""
        else:
            current += char
    return operands + [current.strip()] if current.strip() else operands


def tool(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def disassemble(binary):
    """{function name: [Insn]} with mangled names."""
    functions, current = {}, None
    for line in tool("objdump", "-d", "--no-show-raw-insn", binary).splitlines():
        header = HEADER.match(line)
        if header:
            current = functions.setdefault(header.group(2), [])
            continue
        match = LINE.match(line)
        if not match or current is None:
            continue
        body, _, comment = match.group(2).partition("#")
        words = body.split(None, 1)
        while words and words[0] in PREFIXES:
            words = words[1].split(None, 1) if len(words) > 1 else []
        if not words:
            continue
        operands = words[1].strip() if len(words) > 1 else ""
        target = SYMBOL.search(operands)
        referenced = SYMBOL.search(comment)
        current.append(Insn(int(match.group(1), 16), words[0], operands,
                            target.group(1) if target and not target.group(2) else None,
                            referenced.group(1) if referenced else None))
    return functions


class Checker:
    def __init__(self, binary):
        self.binary = binary
        self.functions = disassemble(binary)
        self.failures = 0

    def report(self, ok, message, detail=""):
        print(f"{'ok      ' if ok else 'FAILED  '}{message}")
        if detail and not ok:
            print("        " + detail.replace("\n", "\n        "))
        self.failures += not ok

    def function(self, prefix):
        """The one function whose mangled name starts with prefix and has no
        suffix such as ._omp_fn.0 or .cold."""
        names = [n for n in self.functions if n.startswith(prefix) and "." not in n]
        return names[0] if len(names) == 1 else None

    def call_sites(self, name, target):
        """Calls and tail jumps in function `name` whose target matches."""
        return [i for i in self.functions.get(name, [])
                if i.mnemonic.startswith(("call", "jmp")) and i.target
                and (target(i.target) if callable(target) else i.target.startswith(target))]

    def listing(self, name):
        return "\n".join(f"{i.address:x}: {i.mnemonic} {i.operands}"
                         for i in self.functions.get(name, []))

    # ---------------------------------------------------------------- checks

    def gmp_not_linked(self):
        # GMP is loaded with dlopen at run time; linked at build time, the
        # program would not start on a machine without it, before it could
        # say so.
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]",
                            tool("readelf", "-d", self.binary))
        gmp = [lib for lib in needed if "gmp" in lib]
        self.report(not gmp, "libgmp is not among the NEEDED libraries",
                    f"NEEDED: {', '.join(needed)}")

    def muldiv128_instructions(self):
        # One 64x64->128 multiply and one 128/64 divide, nothing else that
        # multiplies or divides: a plain __int128 division would bring a
        # library call, a wrong constraint a 32-bit form or an extra step.
        name = self.function(MULDIV128)
        if name is None:
            self.report(False, "MulDiv128 is a function of its own", "no such symbol")
            return
        body = self.functions[name]

        def wide(kind):
            return [i for i in body if i.mnemonic == kind + "q"
                    or (i.mnemonic == kind and GPR64.match(i.operands))]
        arithmetic = [i for i in body if MULTIPLY_OR_DIVIDE.match(i.mnemonic)]
        ok = len(wide("mul")) == 1 and len(wide("div")) == 1 and len(arithmetic) == 2
        self.report(ok, "MulDiv128 holds exactly one 64-bit mul and one 64-bit div",
                    self.listing(name))

    def muldiv128_called(self):
        # A call in every iteration is part of the measured work: the
        # function must not be inlined into the loops.
        single = self.function(SINGLE)
        sites = self.call_sites(single, MULDIV128) if single else []
        self.report(len(sites) >= 1, "mulDivSingleCore calls MulDiv128",
                    self.listing(single) if single else "no mulDivSingleCore")

        team = self.function(TEAM)
        if team is None:
            self.report(False, "mulDivTeamCore exists", "no such symbol")
            return
        # The team must be formed: mulDivTeamCore starts a parallel region,
        # and the work lies in the outlined function the threads run. Where
        # the region is not compiled (e.g. clang given -fopenmp=libgomp,
        # which ignores the pragmas), the loop sits in mulDivTeamCore itself
        # and only the calling thread runs it.
        starts = self.call_sites(team, lambda t: bool(PARALLEL_START.match(t)))
        self.report(bool(starts), "mulDivTeamCore starts an OpenMP parallel region",
                    self.listing(team))
        outlined, pending = set(), [team]
        while pending:
            for insn in self.functions.get(pending.pop(), []):
                for symbol in (insn.target, insn.comment):
                    if symbol and OUTLINED.search(symbol) and symbol not in outlined \
                            and symbol in self.functions:
                        outlined.add(symbol)
                        pending.append(symbol)
        callers = [f for f in sorted(outlined) if self.call_sites(f, MULDIV128)]
        self.report(bool(callers),
                    "the team's outlined function calls MulDiv128"
                    + (f" ({', '.join(callers)})" if callers else ""),
                    "outlined functions referenced from mulDivTeamCore: "
                    + (", ".join(sorted(outlined)) or "none"))
        direct = self.call_sites(team, MULDIV128)
        self.report(not direct, "mulDivTeamCore itself does not call MulDiv128",
                    "\n".join(f"{i.address:x}: {i.mnemonic} {i.operands}" for i in direct))

    def no_library_division(self):
        # The 128-bit division must be the div instruction, never libgcc's
        # routine: __udivti3, or __udivmodti4 where quotient and remainder
        # are both taken (and the signed and modulo kin).
        def division(symbol):
            return bool(symbol and LIBRARY_DIVISION.match(symbol))
        sites = [(name, i) for name, body in self.functions.items() for i in body
                 if division(i.target) or division(i.comment)]
        symbols = sorted({line.split()[-1] for line in
                          (tool("nm", self.binary) + tool("nm", "-D", self.binary)).splitlines()
                          if line.split() and division(line.split()[-1])})
        self.report(not sites and not symbols,
                    "nothing references __udivti3, __udivmodti4 or their kin",
                    "\n".join([f"{n}: {i.address:x} {i.mnemonic} {i.operands}" for n, i in sites]
                              + [f"symbol {s}" for s in symbols]))

    def copy_loop(self):
        name = self.function(COPY)
        if name is None:
            self.report(False, "copyBytes exists", "no such symbol")
            return
        body = self.functions[name]
        # The loop: the span from the target of a backward branch up to it.
        addresses = [i.address for i in body]
        loops = []
        for i in body:
            if i.mnemonic.startswith("j"):
                match = re.match(r"^([0-9a-f]+)\b", i.operands)
                if match and addresses[0] <= int(match.group(1), 16) < i.address:
                    start = int(match.group(1), 16)
                    loops.append([x for x in body if start <= x.address <= i.address])
        loads = stores = 0
        for loop in loops:
            moves = [i for i in loop if i.mnemonic in ALIGNED16]
            loads = max(loads, sum(1 for i in moves if "(" in split_operands(i.operands)[0]))
            stores = max(stores, sum(1 for i in moves if "(" in split_operands(i.operands)[-1]))
        # Eight 16-byte pieces per 128-byte block, each an aligned load and
        # an aligned store (a compiler may unroll the block loop further).
        ok = loads >= 8 and loads == stores and loads % 8 == 0
        self.report(ok, f"copyBytes has a loop of aligned 16-byte loads and stores "
                        f"({loads} and {stores})", self.listing(name))

        # The plain loop would be recognised and replaced by a call of
        # memcpy; only the misaligned path may call it.
        for function in (name, self.function(FILLCOPY)):
            if function is None:
                continue
            sites = self.call_sites(function, lambda t: bool(MEMCPY.match(t)))
            self.report(len(sites) <= 1,
                        f"{function} has at most one memcpy call site ({len(sites)})",
                        self.listing(function))
            # Plain stores and no prefetching, as every copy of the
            # benchmark is written.
            streaming = [i for i in self.functions[function]
                         if i.mnemonic.startswith(("movnt", "prefetch"))]
            self.report(not streaming, f"{function} has no non-temporal store or prefetch",
                        "\n".join(f"{i.address:x}: {i.mnemonic} {i.operands}" for i in streaming))


def main():
    if len(sys.argv) != 2:
        print("usage: codecheck.py PATH/cpubench", file=sys.stderr)
        return 2
    try:
        checker = Checker(sys.argv[1])
        if not any(n.startswith(MULDIV128) for n in checker.functions):
            print(f"codecheck: {sys.argv[1]} has no symbols (stripped?)", file=sys.stderr)
            return 2
        checker.gmp_not_linked()
        checker.muldiv128_instructions()
        checker.muldiv128_called()
        checker.no_library_division()
        checker.copy_loop()
    except (subprocess.CalledProcessError, OSError) as error:
        print(f"codecheck: cannot inspect {sys.argv[1]}: {error}", file=sys.stderr)
        return 2
    if checker.failures:
        print(f"{checker.failures} check(s) failed")
        return 1
    print("all checks hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())

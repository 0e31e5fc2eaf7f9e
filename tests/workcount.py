#!/usr/bin/env python3
"""Counts the work each timed loop of the benchmark really executes.

workprobe (tests/workprobe.cpp) runs one computing core of cpubench_core
with a small count. It is run twice under callgrind, with counts N1 and N2;
the executed instructions of the core's own functions are classified by
mnemonic (from objdump of the probe) and the calls between functions are
taken from callgrind's call graph. Per-iteration figures are the difference
between the two runs divided by N2 - N1, so set-up, start-up and the
prologue of the core cancel out and only the loop remains.

These counts catch what a wrong build or a clever optimizer does to a loop:
work deleted as dead, folded into constants, hoisted out of the loop,
merged or vectorised into fewer instructions, or extra work added.

    workcount.py --probe PATH/workprobe [--kernel NAME] [--valgrind PATH]

Exits 0 when every check holds, 1 on a mismatch, 2 when the probe cannot
be measured.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict, namedtuple
from fractions import Fraction


class ProbeError(Exception):
    pass


# ---------------------------------------------------------------- objdump

Insn = namedtuple("Insn", "address function mnemonic operands")

PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "cs", "ds",
            "bnd", "notrack", "addr32"}
HEADER = re.compile(r"^([0-9a-f]+) <(.+)>:$")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")


def split_operands(text):
    """Splits AT&T operands on the commas outside parentheses."""
    operands, depth, current = [], 0, ""
    for char in text:
        if char == "(":
            depth += 1
        elif char == ")":
            depth -= 1
        if char == "," and depth == 0:
            operands.append(current.strip())
            current = ""
        else:
            current += char
    if current.strip():
        operands.append(current.strip())
    return operands


def disassemble(binary):
    """Returns {address: Insn} for every instruction objdump lists."""
    text = subprocess.run(["objdump", "-d", "--no-show-raw-insn", binary], check=True,
                          capture_output=True, text=True).stdout
    insns, function = {}, None
    for line in text.splitlines():
        header = HEADER.match(line)
        if header:
            function = header.group(2)
            continue
        match = LINE.match(line)
        if not match or function is None:
            continue
        body = match.group(2).split("#")[0].strip()
        words = body.split(None, 1)
        while words and words[0] in PREFIXES:
            words = words[1].split(None, 1) if len(words) > 1 else []
        if not words:
            continue
        operands = split_operands(words[1]) if len(words) > 1 else []
        insns[int(match.group(1), 16)] = Insn(int(match.group(1), 16), function, words[0],
                                              operands)
    return insns


# -------------------------------------------------------------- callgrind

Profile = namedtuple("Profile", "executed calls")


def parse_callgrind(path):
    """Reads a callgrind profile (written with --dump-instr=yes).

    executed: {(object, function, address): self Ir}. Ir is one per executed
      instruction, so for an ordinary instruction this is how often it ran.
      (The cost of skipped PLT stubs is booked on the calling instruction,
      so call and jump sites must not be counted this way.)
    calls: {(caller, callee): number of calls}.
    """
    executed = defaultdict(int)
    calls = defaultdict(int)
    names = {}
    position_count, ir_index = 1, 0
    obj = function = callee = None
    call_cost_follows = False
    previous = []

    def name(value):
        # "(id) name" defines a compressed name, "(id)" refers to it.
        match = re.match(r"^\((\d+)\)(?:\s+(.*))?$", value)
        if not match:
            return value
        if match.group(2) is not None:
            names[match.group(1)] = match.group(2)
        return names[match.group(1)]

    def function_name(value):
        # A recursive call's level is appended as 'N: the same function.
        return re.sub(r"'\d+$", "", name(value))

    with open(path, encoding="utf-8", errors="replace") as stream:
        for raw in stream:
            line = raw.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("positions:"):
                positions = line.split()[1:]
                if positions[0] != "instr":
                    raise ProbeError("callgrind did not record instruction addresses")
                position_count = len(positions)
                continue
            if line.startswith("events:"):
                events = line.split()[1:]
                ir_index = position_count + events.index("Ir")
                continue
            if line.startswith(("jump=", "jcnd=")):
                raise ProbeError("unexpected jump records: run callgrind without --collect-jumps")
            key, sep, value = line.partition("=")
            if sep and re.fullmatch(r"[a-z]+", key):
                if key == "ob":
                    obj = name(value)
                elif key == "fn":
                    function = function_name(value)
                elif key == "cfn":
                    callee = function_name(value)
                elif key == "calls":
                    calls[(function, callee)] += int(value.split()[0])
                    call_cost_follows = True
                elif key in ("fl", "fi", "fe", "cob", "cfi", "cfl"):
                    name(value)
                continue
            if not (line[0].isdigit() or line[0] in "+-*"):
                continue  # header lines such as "summary: 123"
            fields = line.split()
            values = []
            for i, field in enumerate(fields[:position_count]):
                base = previous[i] if i < len(previous) else 0
                if field == "*":
                    values.append(base)
                elif field[0] in "+-":
                    values.append(base + int(field, 0))
                else:
                    values.append(int(field, 0))
            previous = values
            if call_cost_follows:
                # The line after calls= is the call's inclusive cost: not self cost.
                call_cost_follows = False
                continue
            cost = int(fields[ir_index]) if len(fields) > ir_index else 0
            executed[(obj, function, values[0])] += cost
    return Profile(executed, calls)


# ------------------------------------------------------------------ a run

class Run:
    """One callgrind run of the probe, with the probe's code attributed."""

    def __init__(self, probe, insns, profile):
        self.insns = insns
        self.calls = profile.calls
        self.ir = defaultdict(int)  # address in the probe -> times executed
        real = os.path.realpath(probe)
        for (obj, function, address), cost in profile.executed.items():
            if obj is None or os.path.realpath(obj) != real:
                continue
            insn = insns.get(address)
            # The profile's addresses must be the probe's own, as objdump
            # lists them: otherwise (a position-independent probe, a stale
            # binary) every count below would be attributed wrongly.
            if insn is None:
                raise ProbeError(f"callgrind reports address {address:#x} in {function}, "
                                 "which is no instruction of the probe's disassembly "
                                 "(was workprobe linked with -no-pie?)")
            if (not function.startswith(("0x", "(")) and not insn.function.endswith("@plt")
                    and insn.function != function):
                raise ProbeError(f"callgrind places {address:#x} in {function}, objdump "
                                 f"in {insn.function}")
            self.ir[address] += cost

    def executed(self, functions, predicate):
        """{mnemonic: executions} of the matching instructions of the functions."""
        counts = defaultdict(int)
        for address, cost in self.ir.items():
            insn = self.insns[address]
            if in_functions(insn.function, functions) and predicate(insn):
                counts[insn.mnemonic] += cost
        return counts

    def calls_between(self, callers, callee_pattern):
        counts = defaultdict(int)
        for (caller, callee), count in self.calls.items():
            if in_functions(caller, callers) and re.search(callee_pattern, callee):
                counts[callee] += count
        return counts


def in_functions(function, functions):
    return functions is None or any(function.startswith(f) for f in functions)


def run_probe(probe, valgrind, arguments, insns):
    with tempfile.TemporaryDirectory(prefix="workcount.") as directory:
        out = os.path.join(directory, "callgrind.out")
        environment = dict(os.environ)
        # Symbols bound at start-up, so no lazy resolution runs inside a loop;
        # idle OpenMP threads sleep instead of spinning under the serialising
        # valgrind; the team gets the size it asks for.
        environment.update(LD_BIND_NOW="1", OMP_WAIT_POLICY="PASSIVE", OMP_DYNAMIC="FALSE")
        environment.pop("OMP_THREAD_LIMIT", None)
        command = [valgrind, "--tool=callgrind", "--dump-instr=yes", "--compress-strings=no",
                   "--compress-pos=no", "--demangle=no", f"--callgrind-out-file={out}",
                   probe] + arguments
        result = subprocess.run(command, capture_output=True, text=True, env=environment)
        if result.returncode != 0 or not os.path.exists(out):
            raise ProbeError(f"{' '.join(arguments)} failed (status {result.returncode}):\n"
                             + result.stdout + result.stderr)
        return Run(probe, insns, parse_callgrind(out)), result.stdout.strip()


# --------------------------------------------------- instruction classes

MEMORY = re.compile(r"\(")
GPR64 = re.compile(r"^%r([a-z]{2}|\d+)$")
GPR32 = re.compile(r"^%(e[a-z]{2}|r\d+d)$")
MOVE16 = {"movaps", "movapd", "movups", "movupd", "movdqa", "movdqu", "lddqu"}
ALIGNED16 = {"movaps", "movapd", "movdqa"}
MOVE8_XMM = {"movsd", "movlpd", "movhpd", "movlps", "movhps", "movq"}
FP_ARITHMETIC = re.compile(r"^(add|sub|mul|div|sqrt|min|max|and|andn|or|xor|hadd|hsub|addsub)"
                           r"(ss|sd|ps|pd)$")


def is_memory(operand):
    return bool(MEMORY.search(operand))


def mnemonic(*names):
    return lambda insn: insn.mnemonic in names


def fp_arithmetic(insn):
    return bool(FP_ARITHMETIC.match(insn.mnemonic))


def store16(insn):
    return insn.mnemonic in MOVE16 and is_memory(insn.operands[-1])


def load16(insn):
    # A 16-byte load: a vector move from memory, or a packed operation that
    # takes its memory operand directly.
    if not insn.operands or not is_memory(insn.operands[0]) or is_memory(insn.operands[-1]):
        return False
    return insn.mnemonic in MOVE16 or insn.mnemonic.endswith(("ps", "pd"))


def aligned_load16(insn):
    return load16(insn) and insn.mnemonic in ALIGNED16


def aligned_store16(insn):
    return store16(insn) and insn.mnemonic in ALIGNED16


def unaligned_move16(insn):
    return insn.mnemonic in MOVE16 and insn.mnemonic not in ALIGNED16


def store8(insn):
    if len(insn.operands) != 2 or not is_memory(insn.operands[1]):
        return False
    if insn.mnemonic in MOVE8_XMM:
        return insn.operands[0].startswith("%xmm")
    return insn.mnemonic in ("mov", "movq") and bool(GPR64.match(insn.operands[0]))


def streaming_or_prefetch(insn):
    return insn.mnemonic.startswith(("movnt", "prefetch"))


def multiply64(kind):
    # mul/div with a 64-bit operand: rdx:rax = rax * op, or rdx:rax / op.
    def predicate(insn):
        if insn.mnemonic == kind + "q":
            return True
        return insn.mnemonic == kind and len(insn.operands) == 1 and bool(
            GPR64.match(insn.operands[0]))
    return predicate


def register_imul32(insn):
    # imul of two 32-bit registers, no immediate: the multiply by a value
    # the compiler does not know.
    return (insn.mnemonic in ("imul", "imull") and len(insn.operands) == 2
            and all(GPR32.match(op) for op in insn.operands))


def divide(insn):
    return bool(re.match(r"^i?div[bwlq]?$", insn.mnemonic))


def multiply_or_divide(insn):
    return bool(re.match(r"^i?(mul|div)[bwlq]?$", insn.mnemonic))


# ------------------------------------------------------------- the checks

CROSS = ["_Z12crossLogCore"]
PACKED = ["_Z13packedMulCore"]
MULMOD = ["_Z12mulMod32Core"]
SINGLE = ["_Z16mulDivSingleCore"]
MULDIV128 = ["_Z9MulDiv128"]
COPY = ["_Z9copyBytes"]
FILLCOPY = ["_Z13fillCopySteps", "_Z9copyBytes"]  # copyBytes may be inlined
GMPPOWER = ["_Z12gmpPowerCore"]

LOG = r"^(__)?(ieee754_)?log(_[a-z0-9]+)?(@.*)?$"
MEMCPY = r"^(__)?(memcpy|memmove)(_[a-z0-9_]+)?(@.*)?$"
MEMSET = r"^(__)?memset(_[a-z0-9_]+)?(@.*)?$"
TEAM_THREADS = 4


def executed(functions, predicate):
    return lambda run: run.executed(functions, predicate)


def other_than(functions, predicate, allowed):
    return lambda run: {m: c for m, c in run.executed(functions, predicate).items()
                        if m not in allowed}


def lanes(functions, operation):
    """Executed scalar operations of a kind: an sd instruction counts one,
    a pd instruction two (both lanes)."""
    def metric(run):
        counts = run.executed(functions, mnemonic(operation + "sd", operation + "pd"))
        return {(m + " lanes" if m.endswith("pd") else m): c * (2 if m.endswith("pd") else 1)
                for m, c in counts.items()}
    return metric


def calls(callers, callee):
    return lambda run: run.calls_between(callers, callee)


# A check is (what, metric, per unit, constant, mode). "per unit" mode:
# (metric(N2) - metric(N1)) / (units(N2) - units(N1)) must equal `per`.
# "each run" mode: metric(N) == per * units(N) + constant in both runs.
Check = namedtuple("Check", "what metric per constant mode")


def per_unit(what, metric, per):
    return Check(what, metric, per, 0, "per unit")


def each_run(what, metric, per, constant):
    return Check(what, metric, per, constant, "each run")


Kernel = namedtuple("Kernel", "arguments sizes unit units checks")

KERNELS = {
    # v x u and (v x u) x u, component by component: 12 scalar multiplies
    # and 6 scalar subtractions, then three times log(4 + |s|). More
    # multiplications or subtractions than that means part of the chain is
    # computed twice; mulpd or subpd at all means the scalar chain was
    # vectorised, so the loop no longer measures scalar arithmetic.
    "crosslog": Kernel(
        lambda n: ["crosslog", str(n)], (400, 800), "iteration", lambda n: n, [
            per_unit("multiplications (mulsd 1, mulpd 2)", lanes(CROSS, "mul"), 12),
            per_unit("subtractions (subsd 1, subpd 2)", lanes(CROSS, "sub"), 6),
            per_unit("mulsd", executed(CROSS, mnemonic("mulsd")), 12),
            per_unit("subsd", executed(CROSS, mnemonic("subsd")), 6),
            per_unit("andpd (the absolute values)", executed(CROSS, mnemonic("andpd")), 3),
            per_unit("addsd (4 + |s|)", executed(CROSS, mnemonic("addsd")), 3),
            per_unit("other floating-point arithmetic",
                     other_than(CROSS, fp_arithmetic, {"mulsd", "subsd", "andpd", "addsd"}), 0),
            per_unit("calls of log", calls(CROSS, LOG), 3),
        ]),
    # Chains of 101, 51 and 6 rounds of two mulpd, then the store, the
    # overwrite of both elements with K and the reload, twice, and the store
    # of V to R. A folded or hoisted chain shows as fewer mulpd; stores
    # merged or deleted, or a reload forwarded in a register, as fewer moves.
    "packedmul": Kernel(
        lambda n: ["packedmul", str(n)], (200, 400), "outer iteration", lambda n: n, [
            per_unit("mulpd", executed(PACKED, mnemonic("mulpd")), 316),
            per_unit("other floating-point arithmetic",
                     other_than(PACKED, fp_arithmetic, {"mulpd"}), 0),
            per_unit("16-byte stores (V to S twice, V to R)", executed(PACKED, store16), 3),
            per_unit("8-byte stores (K to S[0] and S[1], twice)", executed(PACKED, store8), 4),
            per_unit("16-byte loads (V from S, twice)", executed(PACKED, load16), 2),
        ]),
    # V = V * multiplier % 65521. GCC 12 and Clang 14 both reduce by the
    # constant modulus with a reciprocal multiply: imul by 0x80078071, shift
    # right by 47, imul by 65521, subtract. So three imul per iteration, one
    # of them register by register (the multiplier is laundered: a constant
    # one would become an immediate or shifts), and no divide. Clang unrolls
    # by four; the count per iteration is the same.
    "mulmod32": Kernel(
        lambda n: ["mulmod32", str(n)], (1000, 2001), "iteration", lambda n: n, [
            per_unit("imul (V*multiplier and the reduction)",
                     executed(MULMOD, mnemonic("imul")), 3),
            per_unit("imul reg32,reg32 (V*multiplier)", executed(MULMOD, register_imul32), 1),
            per_unit("div/idiv", executed(MULMOD, divide), 0),
        ]),
    # One call of MulDiv128 per iteration (it must not be inlined or
    # hoisted), and in it one 64-bit mul and one 64-bit div: no call of a
    # library division such as __udivti3 or __udivmodti4, no split into two
    # divides.
    "muldiv": Kernel(
        lambda n: ["muldiv", str(n)], (1000, 2000), "iteration", lambda n: n, [
            per_unit("calls mulDivSingleCore -> MulDiv128", calls(SINGLE, r"^_Z9MulDiv128"), 1),
            per_unit("64-bit mul in MulDiv128", executed(MULDIV128, multiply64("mul")), 1),
            per_unit("64-bit div in MulDiv128", executed(MULDIV128, multiply64("div")), 1),
            per_unit("calls made by MulDiv128 (a library division)", calls(MULDIV128, r""), 0),
            per_unit("other multiplies/divides in MulDiv128",
                     executed(MULDIV128, lambda i: multiply_or_divide(i)
                              and not multiply64("mul")(i) and not multiply64("div")(i)), 0),
        ]),
    # Every thread of the team repeats the whole work: THREADS calls of
    # MulDiv128 per iteration. A team that is not formed (OpenMP not
    # compiled in, or the runtime granting one thread) shows as 1.
    "team": Kernel(
        lambda n: ["team", str(TEAM_THREADS), str(n)], (300, 600),
        f"iteration of the {TEAM_THREADS}-thread team", lambda n: n, [
            per_unit("calls of MulDiv128", calls(None, r"^_Z9MulDiv128"), TEAM_THREADS),
            per_unit("64-bit mul in MulDiv128", executed(MULDIV128, multiply64("mul")),
                     TEAM_THREADS),
            per_unit("64-bit div in MulDiv128", executed(MULDIV128, multiply64("div")),
                     TEAM_THREADS),
        ]),
    # Aligned buffers: the vector loop, eight aligned 16-byte loads and
    # stores per 128-byte block, plain stores, no prefetch, and no memcpy.
    "copy": Kernel(
        lambda n: ["copy", str(n)], (32, 64), "128-byte block", lambda n: n, [
            per_unit("aligned 16-byte loads", executed(COPY, aligned_load16), 8),
            per_unit("aligned 16-byte stores", executed(COPY, aligned_store16), 8),
            per_unit("unaligned 16-byte moves", executed(COPY, unaligned_move16), 0),
            per_unit("movnt*/prefetch*", executed(COPY, streaming_or_prefetch), 0),
            each_run("calls copyBytes -> memcpy", calls(COPY, MEMCPY), 0, 0),
        ]),
    # One address off the 16-byte grid: exactly one memcpy of the whole
    # range, and the vector loop not entered.
    "copy-misaligned": Kernel(
        lambda n: ["copy-misaligned", str(n)], (32, 64), "128-byte block", lambda n: n, [
            each_run("calls copyBytes -> memcpy", calls(COPY, MEMCPY), 0, 1),
            each_run("16-byte moves in copyBytes", executed(COPY, lambda i: i.mnemonic in MOVE16),
                     0, 0),
        ]),
    # Eight steps, each one memset of a whole buffer and one copy of it: 8
    # memset calls, and 8 copies of eight aligned loads and stores per block.
    "fillcopy": Kernel(
        lambda n: ["fillcopy", str(n)], (4096, 8192), "128-byte block of the buffers",
        lambda n: n // 128, [
            each_run("calls of memset from fillCopySteps", calls(FILLCOPY[:1], MEMSET), 0, 8),
            per_unit("aligned 16-byte loads (8 copies)", executed(FILLCOPY, aligned_load16),
                     8 * 8),
            per_unit("aligned 16-byte stores (8 copies)", executed(FILLCOPY, aligned_store16),
                     8 * 8),
            per_unit("movnt*/prefetch*", executed(FILLCOPY, streaming_or_prefetch), 0),
            each_run("calls of memcpy", calls(FILLCOPY, MEMCPY), 0, 0),
        ]),
    # The calls go through pointers bound at run time: each iteration must
    # make its own mpz_add and mpz_pow_ui, none merged or hoisted.
    "gmp": Kernel(
        lambda n: ["gmp", str(n)], (10, 20), "iteration", lambda n: n, [
            each_run("calls of __gmpz_add", calls(GMPPOWER, r"^__gmpz_add(@.*)?$"), 1, 0),
            each_run("calls of __gmpz_pow_ui", calls(GMPPOWER, r"^__gmpz_pow_ui(@.*)?$"), 1, 0),
            each_run("calls of __gmpz_init_set_str",
                     calls(GMPPOWER, r"^__gmpz_init_set_str(@.*)?$"), 0, 4),
            each_run("calls of __gmpz_mod", calls(GMPPOWER, r"^__gmpz_mod(@.*)?$"), 0, 1),
        ]),
}


def total(counts):
    return sum(counts.values())


def describe(first, second, scale):
    """The mnemonics whose counts changed between the runs, per unit."""
    keys = sorted(set(first) | set(second))
    parts = []
    for key in keys:
        change = Fraction(second.get(key, 0) - first.get(key, 0), scale)
        if change:
            parts.append(f"{key} {number(change)}")
    return ", ".join(parts)


def number(value):
    value = Fraction(value)
    return str(value.numerator) if value.denominator == 1 else f"{float(value):.3f}"


def measure(name, kernel, probe, valgrind, insns):
    runs = []
    for size in kernel.sizes:
        run, output = run_probe(probe, valgrind, kernel.arguments(size), insns)
        runs.append(run)
        print(f"  workprobe {' '.join(kernel.arguments(size))}: {output}")
    n1, n2 = kernel.sizes
    u1, u2 = kernel.units(n1), kernel.units(n2)
    rows, failed = [], False
    for check in kernel.checks:
        first, second = check.metric(runs[0]), check.metric(runs[1])
        if check.mode == "per unit":
            measured = Fraction(total(second) - total(first), u2 - u1)
            ok = measured == check.per
            shown = number(measured)
            detail = describe(first, second, u2 - u1) if len(set(first) | set(second)) > 1 else ""
            expected = number(check.per)
            what = f"{check.what} per {kernel.unit}"
        else:
            wanted = (check.per * u1 + check.constant, check.per * u2 + check.constant)
            ok = (total(first), total(second)) == wanted
            shown = f"{total(first)}, {total(second)}"
            detail = ""
            expected = f"{wanted[0]}, {wanted[1]}"
            what = f"{check.what} (N = {n1}, {n2})"
        rows.append((what, shown, expected, "ok" if ok else "MISMATCH", "" if ok else detail))
        failed |= not ok
    width = max(len(r[0]) for r in rows)
    print(f"{name}:")
    print(f"  {'check':<{width}}  {'measured':>12}  {'expected':>12}")
    for what, shown, expected, verdict, detail in rows:
        print(f"  {what:<{width}}  {shown:>12}  {expected:>12}  {verdict}")
        if detail:
            print(f"      executed: {detail}")
    return not failed


def check_fixed_address(probe):
    header = subprocess.run(["readelf", "-h", probe], check=True, capture_output=True,
                            text=True).stdout
    if not re.search(r"Type:\s+EXEC\b", header):
        raise ProbeError(f"{probe} is not a fixed-address executable (link it with -no-pie)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--probe", required=True, help="path of the workprobe executable")
    parser.add_argument("--kernel", choices=sorted(KERNELS), action="append",
                        help="kernel to measure (repeatable; default: all)")
    parser.add_argument("--valgrind", default="valgrind", help="valgrind executable")
    options = parser.parse_args()
    try:
        check_fixed_address(options.probe)
        insns = disassemble(options.probe)
        ok = True
        for name in options.kernel or list(KERNELS):
            ok &= measure(name, KERNELS[name], options.probe, options.valgrind, insns)
    except (ProbeError, subprocess.CalledProcessError, OSError) as error:
        print(f"workcount: {error}", file=sys.stderr)
        return 2
    print("all checks hold" if ok else "MISMATCH: the loop does not execute the work it is "
          "written with (see the table)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

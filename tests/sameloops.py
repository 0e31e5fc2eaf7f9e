#!/usr/bin/env python3
"""Compares the loops of the workloads in two builds of cpubench.

    sameloops.py [--stripped SHIPPED]... REFERENCE OTHER

A run of one build is compared with a run of another only if both time the
same instructions. Every loop of the workloads' functions in REFERENCE
(e.g. the release preset's build) must be in OTHER (e.g. the Debian 11
build the packages are made from), and every loop of OTHER in REFERENCE,
with the same instructions in the same order: the same mnemonics,
immediates, displacements and called functions. What the register
allocator and the linker decide is set aside: which register of a kind
holds a value, and the addresses of code and data.

A loop is the span from the target of a backward branch to the branch, as
tests/codecheck.py finds it, in the functions of kernels/ and the OpenMP
regions outlined from them. With --stripped, SHIPPED (a packaged program,
which has no symbols left to find the loops by) must hold the machine code
of OTHER; it may be given more than once.

Exits 0 when both builds have the same loops, 1 otherwise (naming each loop
missing from the other build), 2 when a program cannot be inspected or a
workload has no loop in it.
"""

import argparse
import re
import subprocess
import sys

from codecheck import OUTLINED, disassemble, split_operands

# The functions of kernels/ (in the global namespace or a file's anonymous
# one), whatever their parameters and whatever suffix the compiler gives a
# part it splits off (._omp_fn.0, .cold, .part.0, .isra.0).
KERNEL_FUNCTIONS = {
    "crossLogCore", "runCrossLog", "packedMulCore", "runPackedMul", "gmpPowerCore",
    "runGmpPower", "mulDivSingleCore", "mulDivTeamCore", "MulDiv128", "runTeam", "runMulDiv",
    "mulMod32Core", "runMulMod32", "copyBytes", "copyBlocks", "fillCopySteps", "runFillCopy",
}
# The cores whose loops are the timed work: each must have one, or the
# names above are stale and the loops would go uncompared.
TIMED_CORES = ["crossLogCore", "packedMulCore", "gmpPowerCore", "mulDivSingleCore",
               "mulDivTeamCore", "mulMod32Core", "copyBytes", "fillCopySteps"]
MANGLED = re.compile(r"^_Z(?:N12_GLOBAL__N_1)?(\d+)([A-Za-z_]\w*)")
REGISTER = re.compile(r"%([a-z][a-z0-9]*)")
DIRECT_TARGET = re.compile(r"^([0-9a-f]+)(\s+<[^>]*>)?$")


def kernel_name(symbol):
    """The source name of a function of kernels/, or None."""
    match = MANGLED.match(symbol)
    if not match:
        return None
    name = match.group(2)[:int(match.group(1))]
    return name if name in KERNEL_FUNCTIONS else None


def register_kind(name):
    """A register's class and width, without its number."""
    if name in ("rsp", "esp", "rip"):
        return name
    if re.fullmatch(r"[xyz]mm\d+", name):
        return name[:3]
    if re.fullmatch(r"r([a-ds]x|[sd]i|bp|\d+)", name):
        return "r64"
    if re.fullmatch(r"e([a-ds]x|[sd]i|bp)|r\d+d", name):
        return "r32"
    if re.fullmatch(r"([a-ds]x|[sd]i|bp)|r\d+w", name):
        return "r16"
    if re.fullmatch(r"[a-d][lh]|[sd]il|bpl|r\d+b", name):
        return "r8"
    return name


def normalise(insn, index_of):
    """An instruction as text without register numbers and addresses: a
    direct branch names its target by its place in the loop, or the
    function it calls or leaves to; data addressed relative to the
    instruction pointer is 'rip'."""
    target = DIRECT_TARGET.match(insn.operands) if insn.mnemonic.startswith(("j", "call", "loop")) else None
    if target:
        address = int(target.group(1), 16)
        if address in index_of:
            return f"{insn.mnemonic} @{index_of[address]}"
        return f"{insn.mnemonic} <{insn.target or 'out'}>"
    operands = ["rip" if "(%rip)" in operand
                else REGISTER.sub(lambda m: "%" + register_kind(m.group(1)), operand)
                for operand in split_operands(insn.operands)]
    return f"{insn.mnemonic} {','.join(operands)}".strip()


def kernel_functions(functions):
    """{symbol: the source names of the functions it comes from} of the
    kernels' functions and of the OpenMP regions outlined from them (which
    Clang names apart from them; a region belongs to every function its
    function is inlined into)."""
    found = {s: {kernel_name(s)} for s in functions if kernel_name(s)}
    pending = list(found)
    while pending:
        caller = pending.pop()
        for insn in functions[caller]:
            for symbol in (insn.target, insn.comment):
                if symbol and OUTLINED.search(symbol) and symbol in functions \
                        and not found[caller] <= found.setdefault(symbol, set()):
                    found[symbol] |= found[caller]
                    pending.append(symbol)
    return found


def loops(functions):
    """[(symbol, source names, [Insn], normalised instructions)], one for
    each backward branch of the kernels' functions."""
    found = []
    for symbol, names in kernel_functions(functions).items():
        body = functions[symbol]
        for insn in body:
            target = DIRECT_TARGET.match(insn.operands) if insn.mnemonic.startswith(("j", "loop")) else None
            if not target or not body[0].address <= int(target.group(1), 16) < insn.address:
                continue
            start = int(target.group(1), 16)
            span = [i for i in body if start <= i.address <= insn.address]
            # A block after the return that jumps back to the function's
            # tail makes no loop.
            if any(i.mnemonic.startswith("ret") for i in span):
                continue
            index_of = {i.address: n for n, i in enumerate(span)}
            found.append((symbol, names, span, tuple(normalise(i, index_of) for i in span)))
    return found


def listing(span):
    return "\n".join(f"        {i.address:x}: {i.mnemonic} {i.operands}" for i in span)


def text_section(binary):
    """The bytes of .text, which stripping leaves as they are."""
    return subprocess.run(["objcopy", "-O", "binary", "--only-section=.text", binary, "/dev/stdout"],
                          check=True, capture_output=True).stdout


def missing(ours, theirs, ours_path, theirs_path):
    """Reports the loops of ours that theirs lacks; returns their number."""
    keys = {key for *_, key in theirs}
    count = 0
    for symbol, names, span, key in ours:
        if key in keys:
            print(f"ok      {ours_path}: the loop of {symbol} at {span[0].address:x} "
                  f"({len(span)} instructions)")
            continue
        count += 1
        print(f"FAILED  {ours_path}: the loop of {symbol} at {span[0].address:x} "
              f"is missing from {theirs_path}:\n{listing(span)}")
        for other_symbol, other_names, other_span, _ in theirs:
            if other_names & names:
                print(f"        {theirs_path} has in {other_symbol}:\n{listing(other_span)}")
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("reference", help="a build with symbols, e.g. build/release/cpubench")
    parser.add_argument("other", help="another build with symbols")
    parser.add_argument("--stripped", action="append", default=[],
                        help="a packaged program that must hold OTHER's machine code")
    args = parser.parse_args()
    try:
        reference = loops(disassemble(args.reference))
        other = loops(disassemble(args.other))
        code = text_section(args.other) if args.stripped else None
        stripped_differs = [path for path in args.stripped if text_section(path) != code]
    except (subprocess.CalledProcessError, OSError) as error:
        print(f"sameloops: cannot inspect the programs: {error}", file=sys.stderr)
        return 2
    for path, found in ((args.reference, reference), (args.other, other)):
        lacking = [core for core in TIMED_CORES if not any(core in names for _, names, _, _ in found)]
        if lacking:
            print(f"sameloops: no loop of {', '.join(lacking)} in {path} (stripped, or renamed?)",
                  file=sys.stderr)
            return 2

    failures = 0
    for path in stripped_differs:
        print(f"FAILED  {path} is not {args.other} stripped: their machine code differs")
        failures += 1
    failures += missing(reference, other, args.reference, args.other)
    failures += missing(other, reference, args.other, args.reference)
    if failures:
        print(f"{failures} difference(s)")
        return 1
    print(f"the {len(reference)} loops of {args.reference} and the {len(other)} of {args.other} "
          "are the same")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""The facts of a Linux host that updates change and that move CPU speed,
printed as one JSON object for machine.json:

  microcode         the processor's microcode revision, as the kernel reports it
  firmware_vendor   the BIOS's vendor, version and date (from the DMI tables)
  firmware_version
  firmware_date
  mitigations       the kernel's status per speculative-execution flaw
  glibc             the C library's version
  gmp               the file libgmp.so.10 resolves to, as cpubench loads it
  gmp_version       GMP's own version string
  governor          cpu0's frequency governor

A fact whose source is missing (a virtual machine often has no DMI tables
and no cpufreq) is left out; nothing missing makes the script fail. Runs
under any Python 3 with its standard library.
"""

import ctypes
import json
import os


def read(path):
    """The file's text without surrounding blanks; empty when unreadable."""
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            return file.read().strip()
    except OSError:
        return ""


def microcode():
    revision = read("/sys/devices/system/cpu/cpu0/microcode/version")
    if revision:
        return revision
    for line in read("/proc/cpuinfo").splitlines():
        name, _, value = line.partition(":")
        if name.strip() == "microcode":
            return value.strip()
    return ""


def mitigations():
    folder = "/sys/devices/system/cpu/vulnerabilities"
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        return {}
    states = {}
    for name in names:
        text = read(os.path.join(folder, name))
        if text:
            states[name] = text
    return states


def glibc():
    try:
        version = os.confstr("CS_GNU_LIBC_VERSION") or ""
    except (ValueError, OSError):
        return ""
    return version[len("glibc "):] if version.startswith("glibc ") else ""


def gmp():
    """GMP's version and its file, loaded by name as cpubench loads it: the
    version from the library itself (the same on every distribution), the
    file from this process's memory map."""
    try:
        library = ctypes.CDLL("libgmp.so.10")
        version = ctypes.c_char_p.in_dll(library, "__gmp_version").value or b""
    except (OSError, ValueError):
        return "", ""
    path = ""
    for line in read("/proc/self/maps").splitlines():
        fields = line.split(None, 5)
        if len(fields) == 6 and os.path.basename(fields[5]).startswith("libgmp.so.10"):
            path = os.path.realpath(fields[5])
            break
    return version.decode("ascii", "replace"), path


def main():
    gmp_version, gmp_file = gmp()
    facts = {
        "microcode": microcode(),
        "firmware_vendor": read("/sys/class/dmi/id/bios_vendor"),
        "firmware_version": read("/sys/class/dmi/id/bios_version"),
        "firmware_date": read("/sys/class/dmi/id/bios_date"),
        "mitigations": mitigations(),
        "glibc": glibc(),
        "gmp": gmp_file,
        "gmp_version": gmp_version,
        "governor": read("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor"),
    }
    print(json.dumps({key: value for key, value in facts.items() if value}, sort_keys=True))


main()

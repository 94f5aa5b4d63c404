#!/usr/bin/env python3
"""Reads the hardening of ELF programs and libraries from their headers and
dynamic symbols (readelf), the flags Debian builds its packages with:
position-independent executable, full RELRO (read-only relocations with
every symbol bound at load), the strong stack protector, _FORTIFY_SOURCE,
and a stack that is not executable. Prints one line per file and flag;
exits non-zero when a file lacks one.
  elf_hardening.py --fortified|--unfortified <file>...
--unfortified: a build without _FORTIFY_SOURCE (the sanitizer builds)."""

import argparse
import re
import subprocess
import sys


def readelf(*args):
    return subprocess.run(["readelf", "-W"] + list(args), capture_output=True, text=True,
                          check=True).stdout


def imported_functions(path):
    """Names of the functions the file takes from other files."""
    names = set()
    for line in readelf("--dyn-syms", path).splitlines():
        fields = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if len(fields) >= 8 and fields[3] == "FUNC" and fields[6] == "UND":
            names.add(fields[7].split("@")[0])
    return names


# glibc's headers of checked wrappers, included only under _FORTIFY_SOURCE:
# their names in a file's line tables show it was compiled with them.
FORTIFY_HEADERS = ("string_fortified.h", "stdio2.h", "fcntl2.h", "poll2.h", "socket2.h", "wchar2.h")


def fortify_headers(path):
    lines = readelf("--debug-dump=line", path)
    return [h for h in FORTIFY_HEADERS if re.search(r"(^|[\s/])" + re.escape(h) + r"\b", lines, re.M)]


def fortifiable_functions():
    """The C library's functions that have a checked variant __<name>_chk,
    read from the C library itself: what _FORTIFY_SOURCE can replace."""
    cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True, check=True).stdout
    libc = next((m.group(1) for m in re.finditer(r"^\s*libc\.so\.6 \(libc6,x86-64[^)]*\) => (\S+)", cache, re.M)),
                None) or next(m.group(1) for m in re.finditer(r"^\s*libc\.so\.6 .*=> (\S+)", cache, re.M))
    checked = set()
    for line in readelf("--dyn-syms", libc).splitlines():
        fields = line.split()
        if len(fields) >= 8 and fields[3] == "FUNC" and fields[6] != "UND":
            match = re.fullmatch(r"__(\w+)_chk", fields[7].split("@")[0])
            if match:
                checked.add(match.group(1))
    return checked


def check_file(path, fortified, fortifiable):
    """(flag, ok, detail) for each flag of one file."""
    header = readelf("-h", path)
    segments = readelf("-l", path)
    dynamic = readelf("-d", path)
    file_type = re.search(r"^\s*Type:\s+(\w+)", header, re.M).group(1)
    is_program = "INTERP" in segments
    flags_1 = re.search(r"\(FLAGS_1\)\s+Flags:(.*)", dynamic)
    flags = re.search(r"\(FLAGS\)\s+(.*)", dynamic)
    flags_1 = flags_1.group(1).split() if flags_1 else []
    flags = flags.group(1).split() if flags else []
    stack = re.search(r"^\s*GNU_STACK\s.*\s([RWE]+)\s+0x[0-9a-f]+\s*$", segments, re.M)
    imports = imported_functions(path)
    results = []

    if is_program:
        results.append(("PIE", file_type == "DYN" and "PIE" in flags_1,
                        f"type {file_type}, FLAGS_1 {' '.join(flags_1) or '-'}"))
    else:
        results.append(("position-independent", file_type == "DYN" and "TEXTREL" not in dynamic,
                        f"type {file_type}" + (", text relocations" if "TEXTREL" in dynamic else "")))
    results.append(("RELRO", "GNU_RELRO" in segments, "GNU_RELRO segment" if "GNU_RELRO" in segments else "none"))
    now = "BIND_NOW" in flags or "NOW" in flags_1
    results.append(("BIND_NOW (full RELRO)", now, f"FLAGS {' '.join(flags) or '-'}"))
    results.append(("stack protector", "__stack_chk_fail" in imports,
                    "calls __stack_chk_fail" if "__stack_chk_fail" in imports else "no __stack_chk_fail"))
    checked = sorted(n for n in imports if re.fullmatch(r"__\w+_chk", n) and n != "__stack_chk_fail")
    unchecked = sorted(imports & fortifiable)
    if not fortified:
        results.append(("_FORTIFY_SOURCE", None, "not used in this build"))
    elif checked:
        results.append(("_FORTIFY_SOURCE", True, f"calls {len(checked)} checked functions ({', '.join(checked[:3])}...)"))
    elif not unchecked:
        results.append(("_FORTIFY_SOURCE", True, "calls no function it would check"))
    else:
        # Where the compiler knows every call is within bounds, nothing is
        # left to check at run time and no checked function is called; the
        # debug information still names the checked wrappers' headers.
        headers = fortify_headers(path)
        results.append(("_FORTIFY_SOURCE", bool(headers),
                        f"no call left to check; compiled with {', '.join(headers)}" if headers
                        else f"calls {', '.join(unchecked[:5])} unchecked, none checked"))
    results.append(("non-executable stack", stack is not None and "E" not in stack.group(1),
                    f"GNU_STACK {stack.group(1)}" if stack else "no GNU_STACK segment"))
    return results


def main():
    parser = argparse.ArgumentParser()
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--fortified", action="store_true")
    mode.add_argument("--unfortified", action="store_true")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    fortifiable = fortifiable_functions()
    failed = 0
    for path in args.files:
        for flag, ok, detail in check_file(path, args.fortified, fortifiable):
            status = "n/a " if ok is None else "ok  " if ok else "FAIL"
            failed += ok is False
            print(f"{status} {path}: {flag} ({detail})")
    print(f"{len(args.files)} files, {failed} missing flags")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

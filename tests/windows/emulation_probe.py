"""Tells how this machine runs 32-bit x86 programs: natively (the kernel's
IA-32 emulation), through an interpreter the kernel hands them to (qemu-user
registered in binfmt_misc, say), or not at all.

A tiny 32-bit ELF program is started: it writes one byte, then waits for its
standard input to end. While it waits, the kernel's own view of the process,
/proc/<pid>/exe, names the file the kernel executes for it: the probe itself
when it runs natively, the interpreter when binfmt_misc handed it over (an
interpreter can answer the program's own questions about itself, but not
the kernel's answer to another process). binfmt_misc entries take precedence
over the kernel's own ELF loader, so an entry for i386 ELF files sends 32-bit
programs through the interpreter even where the kernel could run them."""

import errno
import os
import select
import struct
import subprocess

BASE = 0x08048000
HEADER_SIZE = 52
PROGRAM_HEADER_SIZE = 32
# write(1, "1", 1); read(0, buffer, 1); exit(0) - Linux i386 system calls,
# the byte on the stack.
CODE = bytes([
    0x6A, 0x31,                          # push '1'
    0x89, 0xE1,                          # mov ecx, esp
    0xBA, 0x01, 0x00, 0x00, 0x00,        # mov edx, 1
    0xBB, 0x01, 0x00, 0x00, 0x00,        # mov ebx, 1 (standard output)
    0xB8, 0x04, 0x00, 0x00, 0x00,        # mov eax, 4 (write)
    0xCD, 0x80,                          # int 0x80
    0x31, 0xDB,                          # xor ebx, ebx (standard input)
    0xB8, 0x03, 0x00, 0x00, 0x00,        # mov eax, 3 (read)
    0xCD, 0x80,                          # int 0x80
    0x31, 0xDB,                          # xor ebx, ebx (exit code 0)
    0xB8, 0x01, 0x00, 0x00, 0x00,        # mov eax, 1 (exit)
    0xCD, 0x80,                          # int 0x80
])


def i386_program():
    """A static ELF32 i386 executable: one loadable segment (headers and
    code, read and execute), and a stack that is not executable."""
    code_offset = HEADER_SIZE + 2 * PROGRAM_HEADER_SIZE
    size = code_offset + len(CODE)
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)   # 32-bit, little-endian, version 1, System V
    header = ident + struct.pack("<HHIIIIIHHHHHH",
                                 2, 3, 1,                   # ET_EXEC, EM_386, EV_CURRENT
                                 BASE + code_offset,        # entry point
                                 HEADER_SIZE, 0, 0,         # program headers, no sections, flags
                                 HEADER_SIZE, PROGRAM_HEADER_SIZE, 2, 0, 0, 0)
    load = struct.pack("<IIIIIIII", 1, 0, BASE, BASE, size, size, 5, 0x1000)        # PT_LOAD, R+X
    stack = struct.pack("<IIIIIIII", 0x6474E551, 0, 0, 0, 0, 0, 6, 16)             # PT_GNU_STACK, RW
    return header + load + stack + CODE


class Outcome:
    """mode: "native", "emulated" (by `interpreter`) or "none"; `detail`
    says what was seen."""

    def __init__(self, mode, detail, interpreter=""):
        self.mode = mode
        self.detail = detail
        self.interpreter = interpreter


def binfmt_entries_for(interpreter, root="/proc/sys/fs/binfmt_misc"):
    """Names of the enabled binfmt_misc entries whose interpreter is the one
    given (where binfmt_misc is visible here)."""
    names = []
    try:
        entries = sorted(os.listdir(root))
    except OSError:
        return names
    for name in entries:
        if name in ("register", "status"):
            continue
        try:
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except OSError:
            continue
        fields = dict(line.split(" ", 1) for line in lines if " " in line)
        if "enabled" in lines and os.path.realpath(fields.get("interpreter", "")) == os.path.realpath(interpreter):
            names.append(name)
    return names


def probe(folder, timeout=120):
    """Runs the probe from `folder` (a folder that allows execution: /tmp may
    not) and says how 32-bit programs run here."""
    path = os.path.join(folder, "i386-probe")
    with open(path, "wb") as f:
        f.write(i386_program())
    os.chmod(path, 0o755)
    try:
        process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return Outcome("none", "the kernel does not execute 32-bit programs, and no binfmt_misc "
                                   "entry takes them")
        return Outcome("none", f"the 32-bit probe could not be started ({error.strerror})")
    try:
        # Once it has written its byte it runs the probe's own code; until
        # then /proc/<pid>/exe may still show what forked it.
        ready, _, _ = select.select([process.stdout], [], [], timeout)
        if not ready or os.read(process.stdout.fileno(), 1) != b"1":
            return Outcome("none", f"the 32-bit probe did not run (no sign within {timeout} s)")
        executed = os.readlink(f"/proc/{process.pid}/exe")
    finally:
        process.stdin.close()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()
    if os.path.realpath(executed) == os.path.realpath(path):
        return Outcome("native", "the kernel runs 32-bit programs itself")
    entries = binfmt_entries_for(executed)
    through = f"binfmt_misc entry {', '.join(entries)}" if entries else "binfmt_misc"
    return Outcome("emulated", f"32-bit programs run through {executed} ({through})", executed)

#!/usr/bin/env python3
"""Checks of the Windows deliverables as users get them, unpacked from the
package: the package itself (checksums, notices, debug files, the relink
kit), then the same table of checks for each architecture: the PE files
statically (hardening and version resource included), then, under Wine, the
library against the Linux build of the same library, sysHello in a host that
leaves standard output alone, the machine identity, and quillonsvc.exe
through Wine's own service manager. Prints one line per check and a summary;
exits non-zero when any check failed. A check that cannot run here is
reported as skipped, with the reason, and never counted as passed."""

import argparse
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "..", "scripts", "windows")]
import emulation_probe  # noqa: E402
import pe_info  # noqa: E402
from package_checks import package_checks, project_version, shipped_file_checks, unpack  # noqa: E402

METHODS = ["encrypt", "decrypt", "encryptById", "decryptById", "encryptById2",
           "decryptById2", "sysHello", "elapsedRealtime", "genkey", "getit"]
# Bytes the callee pops in the 32-bit build; absent: C convention.
STDCALL_BYTES = {"encrypt": 16, "decrypt": 16, "encryptById": 12, "decryptById": 12,
                 "encryptById2": 12, "decryptById2": 12, "sysHello": 8}
EXPORTS_64 = sorted("Java_Quillon_Vaultor_" + m for m in METHODS)
EXPORTS_32 = sorted(
    f"_Java_Quillon_Vaultor_{m}@{STDCALL_BYTES[m]}" if m in STDCALL_BYTES
    else f"Java_Quillon_Vaultor_{m}" for m in METHODS)
# Milliseconds from 1601-01-01 to 1970-01-01.
FILETIME_EPOCH_OFFSET_MS = 11644473600000
# Wine's clock is the host's; slack for the tick of its clock source.
WINE_CLOCK_TICK_MS = 16
PLACEHOLDER_VENDOR = b"GeniusIntel"
PLACEHOLDER_SERIAL = b"ISADUMMYIDMAYBEVM"
SERVICE_NAME = "Quillon"
STATES = {1: "STOPPED", 2: "START_PENDING", 3: "STOP_PENDING", 4: "RUNNING", 5: "CONTINUE_PENDING",
          6: "PAUSE_PENDING", 7: "PAUSED"}
ERROR_SERVICE_SPECIFIC_ERROR = 1066
# The event-log texts of one service start and stop, in their order.
CYCLE_EVENTS = ["Service Quillon is starting up", "Quillon startup java Process ok ",
                "Quillon startup completed", "Service Quillon is going to shutdown.",
                "Quillon shutdown completed", "Service Quillon succesfully stopped."]


class Architecture:
    """What differs between the two builds; every check takes one."""

    def __init__(self, name, dll, machine, exports, clock, build, wine, shipped, package):
        self.name = name
        self.dll = dll
        self.machine = machine
        self.exports = exports
        self.clock = clock
        self.build = build
        self.wine = wine
        self.shipped = shipped
        self.package = package

    def bin(self, *parts):
        """Where a check finds a file: one the package ships for this
        architecture as unpacked from it; quillonsvc.exe of an architecture
        it is not shipped for from the build's bin/; a program of the checks
        from the build's devbin/."""
        name = os.path.join(*parts)
        if name in self.shipped:
            return os.path.join(self.package, name)
        if os.path.exists(os.path.join(self.build, "bin", name)):
            return os.path.join(self.build, "bin", name)
        return os.path.join(self.build, "devbin", name)


class CommandTimeout(Exception):
    pass


class Results:
    def __init__(self):
        self.counts = {"PASS": 0, "FAIL": 0, "SKIP": 0}

    def record(self, status, name, detail=""):
        self.counts[status] += 1
        print(f"{status} {name}" + (f": {detail}" if detail else ""), flush=True)

    def check(self, name, ok, detail=""):
        self.record("PASS" if ok else "FAIL", name, detail)
        return ok

    def skip(self, name, reason):
        self.record("SKIP", name, reason)

    def section(self, title):
        print(f"-- {title}", flush=True)

    def scoped(self, prefix):
        return ScopedResults(self, prefix)


class ScopedResults:
    """The same results, every check's name led by its architecture."""

    def __init__(self, results, prefix):
        self.results = results
        self.prefix = prefix

    def record(self, status, name, detail=""):
        self.results.record(status, f"{self.prefix}: {name}", detail)

    def check(self, name, ok, detail=""):
        return self.results.check(f"{self.prefix}: {name}", ok, detail)

    def skip(self, name, reason):
        self.results.skip(f"{self.prefix}: {name}", reason)

    def section(self, title):
        self.results.section(f"{self.prefix}: {title}")


class Wine:
    """Runs Windows programs in one prefix with one wine loader."""

    def __init__(self, loader, prefix, debug="-all"):
        self.loader = loader
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG=debug, DISPLAY="",
                        WAYLAND_DISPLAY="", WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
        self.prefix = prefix

    @staticmethod
    def path(unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def run(self, args, stdin=b"", timeout=120, cwd=None):
        """Runs one program to its end. Its standard handles are files, not
        pipes: a process the program starts in the Wine session (the service
        manager, a service) inherits them and may outlive it, and a pipe
        would then never reach its end. Raises CommandTimeout when the
        program has not ended in time."""
        with tempfile.TemporaryFile() as inp, tempfile.TemporaryFile() as out, \
                tempfile.TemporaryFile() as err:
            inp.write(stdin)
            inp.seek(0)
            process = subprocess.Popen([self.loader] + args, stdin=inp, stdout=out, stderr=err,
                                       env=self.env, cwd=cwd)
            try:
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise CommandTimeout(f"{' '.join(os.path.basename(a) for a in args)} did not end "
                                     f"within {timeout} s under Wine") from None
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())


class Harness:
    """One way of calling a build of the library: the Linux harness with the
    Linux library, or a Windows harness under Wine with a DLL."""

    def __init__(self, label, command, library):
        self.label = label
        self.command = command
        self.library = library

    def batch(self, lines):
        result = self.command([self.library], "\n".join(lines).encode() + b"\n")
        if result.returncode != 0:
            raise RuntimeError(f"{self.label} harness exited {result.returncode}: "
                               f"{result.stderr.decode(errors='replace')[-400:]}")
        out = result.stdout.decode("latin-1").replace("\r\n", "\n").splitlines()
        if len(out) != len(lines):
            raise RuntimeError(f"{self.label} harness gave {len(out)} answers to {len(lines)} commands: {out[-3:]}")
        return out

    def single(self, words):
        return self.command([self.library] + words, b"")


def hexa(data):
    return data.hex() if data else "-"


def parse_bytes(answer):
    if answer == "null":
        return None
    if answer.startswith("hex "):
        return bytes.fromhex(answer[4:])
    raise RuntimeError(f"unexpected answer {answer!r}")


# ---------------------------------------------------------------- static ---

def objdump_returns(objdump, dll, debug_file):
    """Return instructions per function of a 32-bit DLL's code: the code of
    the (stripped) file, each function running from its symbol in the debug
    file to the next symbol of the code."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], capture_output=True,
                          text=True, check=True).stdout
    found = []
    for line in text.splitlines():
        insn = re.match(r"^\s*([0-9a-f]+):\s+(ret\S*)\s*(\$0x[0-9a-f]+)?", line)
        if insn:
            found.append((int(insn.group(1), 16), int(insn.group(3)[1:], 16) if insn.group(3) else 0))
    starts = {name: address for name, address in pe_info.PeFile(debug_file).symbol_addresses().items()
              if address is not None}
    bounds = sorted(set(starts.values()))
    returns = {}
    for name, start in starts.items():
        end = next((b for b in bounds if b > start), float("inf"))
        returns[name] = [pops for address, pops in found if start <= address < end]
    return returns


def check_self_contained(results, name, pe):
    bundled = [dll for dll in pe.imported_dlls()
               if re.match(r"(lib|qt5|qt6)", dll, re.IGNORECASE)]
    results.check(f"{name}: needs no DLL beside it", not bundled,
                  "imports " + ", ".join(pe.imported_dlls()) if not bundled else "imports " + ", ".join(bundled))


def static_library_checks(results, arch, context):
    results.section(f"{arch.dll}: its PE file")
    path = arch.bin(arch.dll)
    if not results.check(f"{arch.dll} built", os.path.exists(path), path):
        return
    pe = pe_info.PeFile(path)
    expected = arch.exports
    results.check(f"{arch.dll}: machine type", pe.machine == arch.machine, f"{pe.machine:#x}")
    exports = sorted(pe.exports())
    results.check(f"{arch.dll}: exports exactly the {len(expected)} entry points", exports == expected,
                  f"extra {sorted(set(exports) - set(expected))}, missing {sorted(set(expected) - set(exports))}"
                  if exports != expected else ", ".join(exports))
    check_self_contained(results, arch.dll, pe)
    kernel32 = next((names for dll, names in pe.imports().items() if dll.lower() == "kernel32.dll"), [])
    # The C runtime imports GetSystemTimeAsFileTime itself: the 64-bit build
    # shows its choice by the precise clock's absence.
    clocks = [n for n in kernel32 if n.startswith("GetSystemTime") and n.endswith("AsFileTime")]
    results.check(f"{arch.dll}: reads the clock with {arch.clock}",
                  arch.clock in clocks and (arch.clock != "GetSystemTimeAsFileTime" or len(clocks) == 1),
                  ", ".join(clocks))
    # The library's own DllMain switches off thread notifications.
    results.check(f"{arch.dll}: its DllMain imports DisableThreadLibraryCalls",
                  "DisableThreadLibraryCalls" in kernel32)
    if arch.name != "i686":
        return
    returns = objdump_returns(context.objdump_i686, path, os.path.join(context.debug, arch.dll + ".debug"))
    for method in METHODS:
        pops = STDCALL_BYTES.get(method, 0)
        # Symbols carry the 32-bit C decoration: a leading underscore.
        symbol = f"_Java_Quillon_Vaultor_{method}" + (f"@{pops}" if pops else "")
        found = returns.get(symbol)
        convention = f"standard call, callee pops {pops}" if pops else "C convention"
        if not found:
            results.check(f"{arch.dll}: {method} returns as {convention}", False,
                          f"no return instruction under {symbol}")
        else:
            results.check(f"{arch.dll}: {method} returns as {convention}",
                          all(n == pops for n in found), f"ret pops {sorted(set(found))}")


def static_program_checks(results, arch, context):
    results.section("quillonsvc.exe: its PE file")
    path = arch.bin("quillonsvc.exe")
    name = "quillonsvc.exe"
    if not results.check(f"{name} built", os.path.exists(path), path):
        return
    pe = pe_info.PeFile(path)
    results.check(f"{name}: machine type", pe.machine == arch.machine, f"{pe.machine:#x}")
    results.check(f"{name}: console program", pe.subsystem == pe_info.SUBSYSTEM_CONSOLE,
                  f"subsystem {pe.subsystem}")
    manifests = pe.resources(pe_info.RT_MANIFEST)
    level = re.findall(rb'requestedExecutionLevel\s+level="([^"]+)"', b"".join(manifests))
    results.check(f"{name}: one manifest asking for asInvoker",
                  len(manifests) == 1 and level == [b"asInvoker"],
                  f"{len(manifests)} manifest(s), levels {[x.decode() for x in level]}")
    check_self_contained(results, name, pe)


# ---------------------------------------------------------------- library ---

def windows_harness(arch):
    exe = arch.bin("vaultor_harness.exe")
    return Harness(f"{arch.dll} under Wine",
                   lambda words, stdin: arch.wine.run([exe, Wine.path(words[0])] + words[1:], stdin=stdin),
                   arch.bin(arch.dll))


def library_checks(results, arch, context):
    """The Windows build against the Linux build of the same library."""
    windows, linux = windows_harness(arch), context.linux
    tag = windows.label
    results.section(f"{tag} called as the JVM calls it, against {linux.label}")
    if not results.check(f"{arch.dll} and its harness built",
                         os.path.exists(windows.library) and os.path.exists(arch.bin("vaultor_harness.exe"))):
        return
    rng = random.Random(20261209)
    try:
        exports = windows.batch(["exports"])[0]
    except Exception as error:  # noqa: BLE001 - reported as a failure
        results.check(f"{tag}: loads and resolves its exports", False, str(error))
        return
    results.check(f"{tag}: every entry point found by its export name", exports == "ok", exports)

    samples = [b"", b"\x00", b"abc\x00def", bytes(range(256)), bytes(rng.randrange(256) for _ in range(4099))]
    passwords = [b"secret", b"pass\x00word", bytes(rng.randrange(256) for _ in range(40))]
    cases = [(d, passwords[i % len(passwords)]) for i, d in enumerate(samples)]

    def sealed_by(harness):
        return [parse_bytes(a) for a in harness.batch([f"encrypt {hexa(d)} {hexa(p)}" for d, p in cases])]

    def opened_by(harness, sealed):
        return [parse_bytes(a) for a in harness.batch(
            [f"decrypt {hexa(s)} {hexa(p)}" for s, (_, p) in zip(sealed, cases)])]

    win_sealed, linux_sealed = sealed_by(windows), sealed_by(linux)
    results.check(f"{tag}: sealed data has the format's size (72 + data)",
                  all(s is not None and len(s) == 72 + len(d) for s, (d, _) in zip(win_sealed, cases)),
                  str([len(s) if s else None for s in win_sealed]))
    results.check(f"{tag}: data sealed on Windows opens with the Linux library",
                  opened_by(linux, win_sealed) == [d or None for d, _ in cases])
    results.check(f"{tag}: data sealed on Linux opens with the Windows library",
                  opened_by(windows, linux_sealed) == [d or None for d, _ in cases])
    wrong = windows.batch([f"decrypt {hexa(win_sealed[3])} {hexa(b'Secret')}",
                           f"decrypt {hexa(bytes(72))} {hexa(b'x')}",
                           f"decrypt {hexa(win_sealed[0][:-1])} {hexa(cases[0][1])}"])
    results.check(f"{tag}: wrong password, 72-byte and short data are refused (null)",
                  wrong == ["null"] * 3, str(wrong))

    # Built-in keys: deterministic, so both builds must give the same bytes.
    by_id = [bytes(range(17)), b"\x00" * 32, bytes(rng.randrange(256) for _ in range(1000))]
    for suffix in ("", "2"):
        commands = [f"encryptById{suffix} {hexa(d)}" for d in by_id]
        win, lin = windows.batch(commands), linux.batch(commands)
        results.check(f"{tag}: encryptById{suffix} ciphertexts agree with the Linux build",
                      win == lin and all(a.startswith("hex ") for a in win), f"{win[0][:40]} / {lin[0][:40]}")
        back = windows.batch([f"decryptById{suffix} {a[4:]}" for a in lin if a.startswith("hex ")])
        results.check(f"{tag}: decryptById{suffix} opens the Linux ciphertexts",
                      [parse_bytes(a) for a in back] == by_id)
        edge = windows.batch([f"encryptById{suffix} -", f"decryptById{suffix} -",
                              f"decryptById{suffix} 0102030405"])
        linux_edge = linux.batch([f"decryptById{suffix} 0102030405"])
        results.check(f"{tag}: ById{suffix} with empty data is null, 5 bytes decrypt to 5 bytes as on Linux",
                      edge[:2] == ["null", "null"] and len(parse_bytes(edge[2]) or b"") == 5
                      and edge[2] == linux_edge[0], str(edge))

    keys = windows.batch(["genkey", "genkey"])
    forms = [k.startswith("text ") and re.fullmatch(r"[0-9A-F]{768,1572}", k[5:]) is not None for k in keys]
    results.check(f"{tag}: genkey gives 768 to 1572 uppercase hexadecimal digits",
                  all(forms), str([len(k) - 5 for k in keys]))
    results.check(f"{tag}: genkey differs from call to call", keys[0] != keys[1])

    before = (time.time_ns() // 1_000_000) + FILETIME_EPOCH_OFFSET_MS
    clock = windows.batch(["elapsedRealtime"])[0]
    after = (time.time_ns() // 1_000_000) + FILETIME_EPOCH_OFFSET_MS
    value = int(clock[5:]) if clock.startswith("long ") else None
    # The reading is taken between the two host readings; the slack covers
    # the coarser tick of the clock source, not any run time.
    results.check(f"{tag}: elapsedRealtime is wall-clock milliseconds since 1601",
                  value is not None and before - WINE_CLOCK_TICK_MS <= value <= after + WINE_CLOCK_TICK_MS,
                  f"{before} <= {value} <= {after}")

    # The harness has set its standard output to binary mode.
    hello = windows.single(["sysHello"])
    results.check(f"{tag}: sysHello with standard output in binary mode writes exactly \"Hello world\\r\\n\"",
                  hello.returncode == 0 and hello.stdout == b"Hello world\r\n", repr(hello.stdout))


def hello_checks(results, arch, context):
    """sysHello in a host that leaves standard output as the C runtime starts
    it (text mode), as a JVM does."""
    results.section(f"{arch.dll}: sysHello in a host that leaves standard output alone")
    host = arch.bin("hello_host.exe")
    if not results.check("hello_host.exe built", os.path.exists(host), host):
        return
    runtimes = sorted({dll.lower() for path in (host, arch.bin(arch.dll))
                       for dll in pe_info.PeFile(path).imported_dlls()
                       if re.fullmatch(r"(msvcr.*|ucrtbase|api-ms-win-crt-.*)\.dll", dll, re.IGNORECASE)})
    for mode, expected, what in (
            ("alone", b"Hello world\r\n", "writes exactly the 13 bytes \"Hello world\\r\\n\""),
            ("around", b"before\r\nHello world\r\nafter text\r\n",
             "leaves the host's text mode and its pending output as they were")):
        run = arch.wine.run([host, Wine.path(arch.bin(arch.dll)), mode])
        results.check(f"sysHello in an untouched host {what}", run.returncode == 0 and run.stdout == expected,
                      f"{run.stdout!r}, C runtime {', '.join(runtimes)}"
                      + (f", exit {run.returncode}: {run.stderr.decode(errors='replace')[-200:]}"
                         if run.returncode else ""))


def identity_checks(results, arch, context):
    windows, sources_tool, wine = windows_harness(arch), arch.bin("identity_sources.exe"), arch.wine
    results.section(f"{windows.label}: machine identity under Wine")
    texts = windows.batch(["getit", "getit"])
    again = windows.batch(["getit"])
    ok_form = all(re.fullmatch(r"text [0-9A-F]{64}[ZD]?3317", t) for t in texts + again)
    results.check(f"{windows.label}: getit has its form (64 hex digits, Z or D, 3317)", ok_form, texts[0])
    results.check(f"{windows.label}: getit repeats in one process and across processes",
                  texts[0] == texts[1] == again[0], str(texts + again))
    if not sources_tool or not os.path.exists(sources_tool):
        results.skip("identity sources reported by Wine", "the identity_sources program was not built")
        return
    run = wine.run([sources_tool])
    report = run.stdout.decode("latin-1").replace("\r\n", "\n")
    if not results.check("identity_sources runs under Wine", run.returncode == 0,
                         "" if run.returncode == 0 else run.stderr.decode(errors="replace")[-300:]):
        return
    facts = {}
    print("   what Wine returns for each source:")
    for line in report.splitlines():
        name, _, value = line.partition(" ")
        if name == "identity":
            facts[name] = value.encode()
        else:
            facts[name] = b"" if value == "-" else bytes.fromhex(value)
        print(f"     {name:20} {facts[name]!r}")
    wanted = ["vendor", "vmGenerationId", "systemUuid", "bootDiskSerial", "systemVolumeSerial", "identity"]
    if not results.check("identity_sources reports every source", all(k in facts for k in wanted),
                         f"got {sorted(facts)}"):
        return
    results.check("the system volume serial has its form (xxxx-xxxx, lowercase hex)",
                  facts["systemVolumeSerial"] == b"" or
                  re.fullmatch(rb"[0-9a-f]{4}-[0-9a-f]{4}", facts["systemVolumeSerial"]) is not None,
                  repr(facts["systemVolumeSerial"]))
    # The identity text, computed here from the facts as Wine gave them.
    vendor = facts["vendor"]
    serial = next((facts[k] for k in wanted[1:5] if facts[k]), b"")
    placeholder = not serial
    if placeholder:
        vendor, serial = PLACEHOLDER_VENDOR, PLACEHOLDER_SERIAL
    if not vendor:
        vendor = PLACEHOLDER_VENDOR
    expected = hashlib.sha256(vendor + serial).hexdigest().upper()
    expected += ("Z" if placeholder else "") + ("D" if vendor == b"docker" else "") + "3317"
    results.check("getit equals the identity computed here from the reported facts",
                  texts[0] == "text " + expected, f"{texts[0][5:]} / {expected}")
    results.check("the tool's identity equals getit's", facts["identity"].decode() == texts[0][5:])


# ---------------------------------------------------------------- service ---

def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.25)
    return predicate()


class ServiceStage:
    """quillonsvc.exe of one architecture in a folder of its own, with the
    Java stand-in at Java\\bin\\java.exe, run through Wine's service manager."""

    def __init__(self, arch):
        self.arch = arch
        self.dir = os.path.join(arch.build, "wine-service")
        self.exe = os.path.join(self.dir, "quillonsvc.exe")
        self.missing = [p for p in (arch.bin("quillonsvc.exe"), os.path.join(arch.build, "standin", "java.exe"),
                                    arch.bin("service_status.exe")) if not os.path.exists(p)]
        if self.missing:
            return
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "Java", "bin"))
        shutil.copy(arch.bin("quillonsvc.exe"), self.dir)
        shutil.copy(os.path.join(arch.build, "standin", "java.exe"), os.path.join(self.dir, "Java", "bin"))
        open(os.path.join(self.dir, "quillon.jar"), "wb").close()

    def file(self, name):
        return os.path.join(self.dir, name)

    def svc(self, *options, timeout=120):
        """quillonsvc.exe with these options: (exit code or None on a
        time-out, standard output, standard error)."""
        try:
            result = self.arch.wine.run([self.exe] + list(options), timeout=timeout)
        except CommandTimeout as error:
            return None, "", str(error)
        code = result.returncode
        code = code - (1 << 32) if code >= 1 << 31 else code
        return code, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def standin_log(self):
        try:
            with open(self.file("standin.log"), encoding="latin-1") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def standin_mode(self, mode):
        """How the next Java stand-in ends ("" for the console protocol)."""
        for name in ("standin.log", "standin.go", "standin.mode"):
            if os.path.exists(self.file(name)):
                os.remove(self.file(name))
        if mode:
            with open(self.file("standin.mode"), "w") as f:
                f.write(mode + "\n")

    def query(self):
        """QueryServiceStatus through Wine: (state name, Win32 exit code,
        service-specific exit code), ("absent", None, None) for no service."""
        try:
            run = self.arch.wine.run([self.arch.bin("service_status.exe"), SERVICE_NAME], timeout=60)
        except CommandTimeout as error:
            return str(error), None, None
        text = run.stdout.decode("latin-1").strip()
        match = re.fullmatch(r"state (\d+) win32 (\d+) specific (\d+)", text)
        if match:
            state, win32, specific = (int(g) for g in match.groups())
            return STATES.get(state, str(state)), win32, specific
        return ("absent" if text == "absent" else text or f"exit {run.returncode}"), None, None

    def state(self):
        return self.query()[0]

    def wait_state(self, *states, timeout=60):
        return wait_for(lambda: self.state() in states, timeout)

    def clear_leftover(self):
        """A leftover entry of an interrupted run: stop it, remove it, and wait
        until the service manager has let go of it."""
        if self.state() != "absent":
            self.svc("-t")
            self.wait_state("STOPPED", "absent")
            self.svc("-u")
            self.wait_state("absent")

    def events_since(self, offset, event_log):
        """Event-log texts that Wine traced after the given offset."""
        if not event_log or not os.path.exists(event_log):
            return None
        with open(event_log, "rb") as f:
            f.seek(offset)
            traced = f.read().decode("latin-1")
        return re.findall(r'eventlog:\w+\s+(?:L)?"(.*?)"', traced)


def event_log_offset(event_log):
    return os.path.getsize(event_log) if event_log and os.path.exists(event_log) else 0


def service_checks(results, arch, context):
    """A whole cycle: install, console start, Java with its arguments,
    -v, -c 5, -t delivering QUIT, -u, and the event log of it all."""
    results.section("quillonsvc.exe against Wine's service manager")
    stage = ServiceStage(arch)
    if not results.check("service programs built", not stage.missing, f"missing {stage.missing}"):
        return
    svc, name = stage.svc, SERVICE_NAME
    stage.clear_leftover()
    stage.standin_mode("")
    events_from = event_log_offset(context.event_log)

    code, out, err = svc("-v")
    results.check("-v before install: not installed, not running",
                  code == 0 and "is not installed and not running" in out, repr(out + err))

    code, out, err = svc("-i")
    results.check("-i installs the service", code == 0 and
                  f"The service {name} has been installed under: " in out, repr(out + err))
    code, out, err = svc("-i")
    results.check("-i again: already installed, exit code 0",
                  code == 0 and f"The service {name} is already installed" in err, repr(out + err))
    code, out, err = svc("-v")
    results.check("-v after install: installed, not running",
                  "is installed and not running" in out, repr(out))

    code, out, err = svc(timeout=180)
    started = wait_for(lambda: "args" in stage.standin_log(), 120)
    results.check("console launch asks the service manager to start the service",
                  code == 0 and started, f"exit {code}: {err.strip()[-200:]}")
    if not started:
        svc("-t")
        svc("-u")
        return
    stage.wait_state("RUNNING")
    first = stage.standin_log().splitlines()
    expected_args = ["-Dfile.encoding=UTF8", "-Xms1024m",
                     "--add-opens=java.base/jdk.internal.loader=ALL-UNNAMED",
                     "--add-opens=java.base/jdk.internal.misc=ALL-UNNAMED", "--illegal-access=warn",
                     "-Dio.netty.tryReflectionSetAccessible=true", "-cp"]
    args_line = next((l for l in first if l.startswith("args ")), "")
    got = args_line[5:].split(" ", 1)
    java_args = got[1].split("|") if len(got) == 2 else []
    results.check("Java\\bin\\java.exe started with the 9 arguments",
                  got[0] == "9" and java_args[:7] == expected_args
                  and java_args[7].replace("\\", "/").lower().endswith("/quillon.jar")
                  and java_args[8].endswith("core.Bootstrap"), args_line)
    cwd_line = next((l for l in first if l.startswith("cwd ")), "")
    results.check("Java started in the program's directory",
                  cwd_line[4:].replace("\\", "/").rstrip("/").lower().endswith(
                      stage.dir.replace("\\", "/").rstrip("/").lower().split(":", 1)[-1]), cwd_line)
    state = stage.state()
    results.check("the service manager reports the service running", state == "RUNNING", state)
    code, out, _ = svc("-v")
    results.check("-v while it runs: installed and running", "is installed and running" in out, repr(out))

    code, out, err = svc("-c", "5")
    state = stage.state()
    results.check("-c 5 is accepted, exit code 0, the service runs on", code == 0 and state == "RUNNING",
                  f"exit {code}, {state}")

    code, out, err = svc("-t")
    quit_seen = wait_for(lambda: "stdin QUIT" in stage.standin_log() and "exit" in stage.standin_log(), 60)
    results.check("-t stops the service: QUIT reaches the Java program's stdin",
                  code == 0 and quit_seen, stage.standin_log().replace("\n", " | ")[-300:])
    stopped = stage.wait_state("STOPPED")
    state, win32, specific = stage.query()
    results.check("the service manager reports the service stopped", stopped, state)
    results.check("a clean stop reports no exit code (Win32 0, service-specific 0)",
                  (win32, specific) == (0, 0), f"{state} {win32} {specific}")
    code, out, _ = svc("-v")
    results.check("-v after stop: installed and not running", "is installed and not running" in out, repr(out))

    code, out, err = svc("-u")
    results.check("-u uninstalls the service",
                  code == 0 and f"The service {name} has been uninstalled." in out, repr(out + err))
    # The entry goes once the service manager has let go of it.
    results.check("the service manager no longer knows the service", stage.wait_state("absent", timeout=30))
    code, out, err = svc("-u")
    results.check("-u again: not installed, exit code 0",
                  code == 0 and f"The service {name} is not installed" in err, repr(out + err))

    texts = stage.events_since(events_from, context.event_log)
    if texts is None:
        results.skip("event-log entries", "no Wine trace of the service manager's processes")
        return
    print("   event-log texts of this cycle as Wine traced them:")
    for text in texts:
        print("     " + text)
    cycle = [t for t in texts if t in CYCLE_EVENTS]
    results.check("event log: the entries of one start and stop, each once, in order",
                  cycle == CYCLE_EVENTS, f"{len(texts)} entries" if cycle == CYCLE_EVENTS else f"got {cycle}")


def installed_stage(results, arch):
    """A stage with the service freshly installed, or None (reported)."""
    stage = ServiceStage(arch)
    if not results.check("service programs built", not stage.missing, f"missing {stage.missing}"):
        return None
    stage.clear_leftover()
    code, out, err = stage.svc("-i")
    if not results.check("-i installs the service", code == 0, repr(out + err)):
        return None
    return stage


def exit_code_checks(results, arch, context):
    """The codes a service of ours ends with, as Windows reads them: a code of
    its own is service-specific (Win32 exit code 1066)."""
    results.section("quillonsvc.exe's exit codes as Wine's service manager reports them")
    stage = installed_stage(results, arch)
    if stage is None:
        return
    cases = [
        # (what happens, stand-in mode, expected service-specific code)
        ("Java ends by itself with 3 while the service runs", "exit 3", 3),
        ("Java ends with 4 before its start-up marker: start-up failed", "fail 4", 1),
    ]
    for what, mode, specific in cases:
        stage.standin_mode(mode)
        code, out, err = stage.svc(timeout=180)
        ran = code == 0 and wait_for(lambda: "args" in stage.standin_log(), 120)
        if mode.startswith("exit"):
            ran = ran and stage.wait_state("RUNNING")
            open(stage.file("standin.go"), "w").close()
        stopped = ran and stage.wait_state("STOPPED")
        state, win32, got = stage.query()
        results.check(f"{what}: stopped, Win32 exit code 1066, service-specific {specific}",
                      stopped and (win32, got) == (ERROR_SERVICE_SPECIFIC_ERROR, specific),
                      f"launch exit {code}, {state}, Win32 {win32}, service-specific {got}; "
                      + stage.standin_log().replace("\n", " | ")[-160:])
        if not stopped:
            stage.svc("-t")
            stage.wait_state("STOPPED")
    stage.standin_mode("")
    stage.svc("-u")
    stage.wait_state("absent", timeout=30)


def poll_states(stage, until, timeout, marker=None, seen=None):
    """Queries the service's state until `until` is seen (or the time runs
    out): the states in the order seen (after those given), each with whether
    the stand-in's marker file existed once that query had answered. (The
    stand-in makes the file before it writes its marker, so a state that came
    of the marker is seen with the file there.)"""
    seen = list(seen or [])
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        state = stage.state()
        marked = marker is not None and os.path.exists(marker)
        if not seen or seen[-1][0] != state:
            seen.append((state, marked))
        if state == until:
            break
    return seen


def since_start_pending(seen):
    states = [state for state, _ in seen]
    return states[states.index("START_PENDING"):] if "START_PENDING" in states else states


def startup_state_checks(results, arch, context):
    """What Wine's service manager shows of a start that takes a while: the
    service is start-pending until the application has written its start-up
    marker, and a stop while it is start-pending ends it without it ever
    running."""
    results.section("quillonsvc.exe's start-up as Wine's service manager shows it")
    stage = installed_stage(results, arch)
    if stage is None:
        return

    # An application that takes 5 s to start.
    stage.standin_mode("slow 5000")
    marker = stage.file("standin.marker")
    code, out, err = stage.svc(timeout=180)
    seen = poll_states(stage, "RUNNING", 180, marker)
    states = since_start_pending(seen)
    early = [state for state, marked in seen if state == "RUNNING" and not marked]
    results.check("a start that takes a while: START_PENDING, then RUNNING only after the start-up marker",
                  code == 0 and states[:2] == ["START_PENDING", "RUNNING"] and not early,
                  f"launch exit {code}; seen {seen}")
    stage.svc("-t")
    stage.wait_state("STOPPED")

    # An application that would take ten minutes: a stop while it starts.
    stage.standin_mode("slow 600000")
    code, out, err = stage.svc(timeout=180)
    java_runs = code == 0 and wait_for(lambda: "args" in stage.standin_log(), 120) \
        and stage.wait_state("START_PENDING")
    stop = {}
    stopper = threading.Thread(target=lambda: stop.update(zip(("code", "out", "err"), stage.svc("-t"))))
    stopper.start()
    seen = poll_states(stage, "STOPPED", 120, seen=[("START_PENDING", False)] if java_runs else [])
    stopper.join(180)
    state, win32, specific = stage.query()
    states = since_start_pending(seen)
    results.check("a stop while START_PENDING: STOP_PENDING, then STOPPED, never RUNNING, no exit code",
                  java_runs and states == ["START_PENDING", "STOP_PENDING", "STOPPED"]
                  and (win32, specific) == (0, 0) and stop.get("code") == 0,
                  f"seen {[s for s, _ in seen]}; {state} {win32} {specific}; -t {stop}")
    log = stage.standin_log()
    results.check("the stop during start-up reaches the Java program as QUIT",
                  "stdin QUIT" in log and "marker" not in log, log.replace("\n", " | ")[-200:])

    stage.standin_mode("")
    stage.svc("-u")
    stage.wait_state("absent", timeout=30)


# ------------------------------------------------------------------ main ---

# Why the 32-bit service run is not checked where 32-bit programs are
# emulated: it cannot run there, and its checks would only time out.
EMULATED_SERVICE_RUN = (
    "{}: under qemu-user the 32-bit service started by Wine's service manager hangs. "
    "The first line Java writes completes the supervisor's pipe read, Wine interrupts the main "
    "thread with SIGUSR1, Wine's 32-bit signal handler reloads %fs, and qemu-user keeps the "
    "threads' TLS descriptors in one table for the whole process: the main thread goes on as the "
    "most recently created thread and never services its own completions again. A kernel that "
    "runs 32-bit programs itself runs these checks.")

# One table for both architectures: (check, needs Wine, part of the service run).
CHECKS = [
    (shipped_file_checks, False, False),
    (static_library_checks, False, False),
    (static_program_checks, False, False),
    (library_checks, True, False),
    (hello_checks, True, False),
    (identity_checks, True, False),
    (service_checks, True, True),
    (startup_state_checks, True, True),
    (exit_code_checks, True, True),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-i686", required=True)
    parser.add_argument("--build-x86_64", required=True)
    parser.add_argument("--linux-harness", required=True)
    parser.add_argument("--linux-library", required=True)
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--wine32", default="", help="the loader of 32-bit programs, if there is one")
    parser.add_argument("--wine32-unavailable", default="",
                        help="why there is no loader of 32-bit programs (apt refused wine32, say)")
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--event-log", default="", help="file that receives Wine's eventlog trace")
    parser.add_argument("--objdump-i686", default="i686-w64-mingw32-objdump")
    parser.add_argument("--package", required=True, help="the package's zip (scripts/windows/package.sh)")
    parser.add_argument("--debug-package", required=True, help="the zip of its debug files")
    parser.add_argument("--qt-source", required=True, help="Qt Core's source package folder (with tree/)")
    parser.add_argument("--no-service", action="store_true")
    args = parser.parse_args()

    results = Results()
    checks_dir = os.path.dirname(os.path.abspath(args.prefix))
    context = argparse.Namespace(
        objdump_i686=args.objdump_i686, event_log=args.event_log, version=project_version(),
        package_zip=args.package, qt_source=args.qt_source,
        package=unpack(args.package, os.path.join(checks_dir, "package")),
        debug=unpack(args.debug_package, os.path.join(checks_dir, "package-debug")),
        linux=Harness("the Linux libVaultor64.so", lambda words, stdin: subprocess.run(
            [args.linux_harness] + words, input=stdin, capture_output=True, timeout=300), args.linux_library))
    context.architectures = [
        Architecture("i686", "Vaultor.dll", pe_info.MACHINE_I386, EXPORTS_32, "GetSystemTimePreciseAsFileTime",
                     args.build_i686, Wine(args.wine32, args.prefix) if args.wine32 else None,
                     ["quillonsvc.exe", "Vaultor.dll"], context.package),
        Architecture("x86_64", "Vaultor64.dll", pe_info.MACHINE_AMD64, EXPORTS_64, "GetSystemTimeAsFileTime",
                     args.build_x86_64, Wine(args.wine64, args.prefix), ["Vaultor64.dll"], context.package),
    ]

    try:
        package_checks(results, context)
    except Exception as error:  # noqa: BLE001 - one failure, then go on
        results.check("package_checks ran to the end", False, repr(error))
    for arch in context.architectures:
        scoped = results.scoped(arch.name)
        if arch.wine is None:
            if args.wine32_unavailable:
                scoped.skip("every check under Wine", args.wine32_unavailable)
            else:
                scoped.check("a Wine loader for 32-bit programs (wine32)", False,
                             "not installed, and apt recorded no refusal: scripts/setup.sh installs it")
        # Where 32-bit programs run through an emulator, the service run
        # cannot be checked: one line says why.
        service_run_skipped = ""
        if arch.machine == pe_info.MACHINE_I386 and arch.wine is not None and not args.no_service:
            outcome = emulation_probe.probe(checks_dir)
            print(f"   32-bit programs on this machine: {outcome.detail}", flush=True)
            if outcome.mode == "emulated":
                service_run_skipped = EMULATED_SERVICE_RUN.format(outcome.detail)
                scoped.skip("the service cycle and its exit codes", service_run_skipped)
        for check, needs_wine, service_run in CHECKS:
            if needs_wine and arch.wine is None:
                continue
            if service_run and args.no_service:
                scoped.skip(check.__name__, "left out with --no-service")
                continue
            if service_run and service_run_skipped:
                continue
            try:
                check(scoped, arch, context)
            except Exception as error:  # noqa: BLE001 - one failure, then go on
                scoped.check(f"{check.__name__} ran to the end", False, repr(error))

    c = results.counts
    print(f"windows: {c['PASS']} passed, {c['FAIL']} failed, {c['SKIP']} skipped")
    return 1 if c["FAIL"] else 0


if __name__ == "__main__":
    sys.exit(main())

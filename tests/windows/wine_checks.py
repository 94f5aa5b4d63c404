#!/usr/bin/env python3
"""Checks of the Windows deliverables: their PE files statically, and the
64-bit ones (the 32-bit ones too where wine32 is installed) running under
Wine against the Linux build of the same library and against Wine's own
service manager. Prints one line per check and a summary; exits non-zero when
any check failed. A check that cannot run here is reported as skipped, with
the reason, and never counted as passed."""

import argparse
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_info  # noqa: E402

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
PLACEHOLDER_VENDOR = b"GeniusIntel"
PLACEHOLDER_SERIAL = b"ISADUMMYIDMAYBEVM"
SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# quillonsvc joins the checks once its entry point is in the tree.
HAS_QUILLONSVC = os.path.exists(os.path.join(SOURCE_ROOT, "supervisor", "main.cpp"))


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

    def server(self, *flags):
        server = os.path.join(os.path.dirname(self.loader), "wineserver")
        if not os.path.exists(server):
            server = shutil.which("wineserver") or server
        subprocess.run([server] + list(flags), env=self.env, capture_output=True, timeout=120)


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

def objdump_returns(objdump, dll):
    """Return instructions per function label of a 32-bit DLL's code."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], capture_output=True,
                          text=True, check=True).stdout
    returns, current = {}, None
    for line in text.splitlines():
        label = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if label:
            current = label.group(1)
            returns.setdefault(current, [])
            continue
        insn = re.match(r"^\s*[0-9a-f]+:\s+(ret\S*)\s*(\$0x[0-9a-f]+)?", line)
        if insn and current is not None:
            returns[current].append(int(insn.group(2)[1:], 16) if insn.group(2) else 0)
    return returns


def check_self_contained(results, name, pe):
    bundled = [dll for dll in pe.imported_dlls()
               if re.match(r"(lib|qt5|qt6)", dll, re.IGNORECASE)]
    results.check(f"{name}: needs no DLL beside it", not bundled,
                  "imports " + ", ".join(pe.imported_dlls()) if not bundled else "imports " + ", ".join(bundled))


def static_checks(results, args):
    results.section("static checks of the PE files")
    for arch, dll_name, machine, expected in (
            ("i686", "Vaultor.dll", pe_info.MACHINE_I386, EXPORTS_32),
            ("x86_64", "Vaultor64.dll", pe_info.MACHINE_AMD64, EXPORTS_64)):
        path = os.path.join(args.build[arch], "bin", dll_name)
        if not results.check(f"{dll_name} built", os.path.exists(path), path):
            continue
        pe = pe_info.PeFile(path)
        results.check(f"{dll_name}: machine type", pe.machine == machine, f"{pe.machine:#x}")
        exports = sorted(pe.exports())
        results.check(f"{dll_name}: exports exactly the {len(expected)} entry points", exports == expected,
                      f"extra {sorted(set(exports) - set(expected))}, missing {sorted(set(expected) - set(exports))}"
                      if exports != expected else ", ".join(exports))
        check_self_contained(results, dll_name, pe)
        clock = "GetSystemTimePreciseAsFileTime" if arch == "i686" else "GetSystemTimeAsFileTime"
        kernel32 = next((names for dll, names in pe.imports().items() if dll.lower() == "kernel32.dll"), [])
        results.check(f"{dll_name}: reads the clock with {clock}", clock in kernel32,
                      ", ".join(n for n in kernel32 if "SystemTime" in n))
        if arch == "i686":
            returns = objdump_returns(args.objdump_i686, path)
            for method in METHODS:
                pops = STDCALL_BYTES.get(method, 0)
                # Symbols carry the 32-bit C decoration: a leading underscore.
                symbol = f"_Java_Quillon_Vaultor_{method}" + (f"@{pops}" if pops else "")
                found = returns.get(symbol)
                convention = f"standard call, callee pops {pops}" if pops else "C convention"
                if not found:
                    results.check(f"{dll_name}: {method} returns as {convention}", False,
                                  f"no return instruction under {symbol}")
                else:
                    results.check(f"{dll_name}: {method} returns as {convention}",
                                  all(n == pops for n in found), f"ret pops {sorted(set(found))}")

    for arch in ("i686", "x86_64"):
        path = os.path.join(args.build[arch], "bin", "quillonsvc.exe")
        name = f"quillonsvc.exe ({arch})"
        if not HAS_QUILLONSVC:
            results.skip(f"{name} PE checks", "supervisor/main.cpp is not in this tree yet")
            continue
        if not os.path.exists(path):
            results.check(f"{name} built", False, path)
            continue
        pe = pe_info.PeFile(path)
        machine = pe_info.MACHINE_I386 if arch == "i686" else pe_info.MACHINE_AMD64
        results.check(f"{name}: machine type", pe.machine == machine, f"{pe.machine:#x}")
        results.check(f"{name}: console program", pe.subsystem == pe_info.SUBSYSTEM_CONSOLE,
                      f"subsystem {pe.subsystem}")
        manifests = pe.resources(pe_info.RT_MANIFEST)
        level = re.findall(rb'requestedExecutionLevel\s+level="([^"]+)"', b"".join(manifests))
        results.check(f"{name}: one manifest asking for asInvoker",
                      len(manifests) == 1 and level == [b"asInvoker"],
                      f"{len(manifests)} manifest(s), levels {[x.decode() for x in level]}")
        check_self_contained(results, name, pe)


# ---------------------------------------------------------------- library ---

def library_checks(results, windows, linux, wine_clock):
    """The Windows build against the Linux build of the same library."""
    tag = windows.label
    results.section(f"{tag} called as the JVM calls it, against {linux.label}")
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
                  value is not None and before - wine_clock <= value <= after + wine_clock,
                  f"{before} <= {value} <= {after}")

    hello = windows.single(["sysHello"])
    results.check(f"{tag}: sysHello writes exactly \"Hello world\\r\\n\"",
                  hello.returncode == 0 and hello.stdout == b"Hello world\r\n", repr(hello.stdout))


def identity_checks(results, windows, sources_tool, wine):
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


def service_checks(results, args, wine):
    build = args.build["x86_64"]
    results.section("quillonsvc.exe (x86_64) against Wine's service manager")
    if not HAS_QUILLONSVC:
        results.skip("service under Wine's service manager", "supervisor/main.cpp is not in this tree yet")
        return
    program = os.path.join(build, "bin", "quillonsvc.exe")
    standin = os.path.join(build, "standin", "java.exe")
    for path in (program, standin):
        if not os.path.exists(path):
            results.check("service programs built", False, f"{path} is missing")
            return
    stage = os.path.join(build, "wine-service")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, "Java", "bin"))
    shutil.copy(program, stage)
    shutil.copy(standin, os.path.join(stage, "Java", "bin", "java.exe"))
    open(os.path.join(stage, "quillon.jar"), "wb").close()
    exe = os.path.join(stage, "quillonsvc.exe")
    log = os.path.join(stage, "standin.log")
    name = "Quillon"

    def svc(*options, timeout=120):
        try:
            result = wine.run([exe] + list(options), timeout=timeout)
        except CommandTimeout as error:
            return None, "", str(error)
        return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def standin_log():
        try:
            with open(log, encoding="latin-1") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def exit_code(code):
        if code is None:
            return "none (timed out)"
        return code - (1 << 32) if code >= 1 << 31 else code

    def status():
        text = ""
        for _ in range(3):
            try:
                query = wine.run(["sc", "query", name], timeout=60)
            except CommandTimeout as error:
                return str(error)
            text = query.stdout.decode("latin-1")
            match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", text)
            if match:
                return match.group(1)
            if query.returncode and "STATE" not in text:
                return "absent"
            time.sleep(1)
        return text.strip()[:60]

    # A leftover entry of an interrupted run: stop it, remove it, and wait
    # until the service manager has let go of it.
    if status() != "absent":
        svc("-t")
        wait_for(lambda: status() in ("STOPPED", "absent"), 60)
        svc("-u")
        wait_for(lambda: status() == "absent", 60)
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
    started = wait_for(lambda: "args" in standin_log(), 120)
    results.check("console launch asks the service manager to start the service",
                  exit_code(code) == 0 and started, f"exit {exit_code(code)}: {err.strip()[-200:]}")
    if not started:
        svc("-t")
        svc("-u")
        return
    wait_for(lambda: status() == "RUNNING", 60)
    first = standin_log().splitlines()
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
                      stage.replace("\\", "/").rstrip("/").lower().split(":", 1)[-1]), cwd_line)
    state = status()
    results.check("the service manager reports the service running", state == "RUNNING", state)
    code, out, _ = svc("-v")
    results.check("-v while it runs: installed and running", "is installed and running" in out, repr(out))

    code, out, err = svc("-c", "5")
    state = status()
    results.check("-c 5 is accepted, exit code 0, the service runs on", code == 0 and state == "RUNNING",
                  f"exit {code}, {state}")

    code, out, err = svc("-t")
    quit_seen = wait_for(lambda: "stdin QUIT" in standin_log() and "exit" in standin_log(), 60)
    results.check("-t stops the service: QUIT reaches the Java program's stdin",
                  code == 0 and quit_seen, standin_log().replace("\n", " | ")[-300:])
    stopped = wait_for(lambda: status() == "STOPPED", 60)
    results.check("the service manager reports the service stopped", stopped)
    code, out, _ = svc("-v")
    results.check("-v after stop: installed and not running", "is installed and not running" in out, repr(out))

    code, out, err = svc("-u")
    results.check("-u uninstalls the service",
                  code == 0 and f"The service {name} has been uninstalled." in out, repr(out + err))
    # The entry goes once the service manager has let go of it.
    gone = wait_for(lambda: status() == "absent", 30)
    results.check("the service manager no longer knows the service", gone)
    code, out, err = svc("-u")
    results.check("-u again: not installed, exit code 0",
                  code == 0 and f"The service {name} is not installed" in err, repr(out + err))

    if args.event_log and os.path.exists(args.event_log):
        with open(args.event_log, encoding="latin-1") as f:
            traced = f.read()
        texts = re.findall(r'eventlog:\w+\s+(?:L)?"(.*?)"', traced)
        print("   event-log texts as Wine traced them:")
        for text in texts:
            print("     " + text)
        wanted = ["Service Quillon is starting up", "Quillon startup java Process ok ",
                  "Quillon startup completed", "Service Quillon is going to shutdown.",
                  "Quillon shutdown completed", "Service Quillon succesfully stopped."]
        if texts:
            missing = [w for w in wanted if w not in texts]
            results.check("event-log entries of one start and stop, in Wine's trace", not missing,
                          f"missing {missing}" if missing else f"{len(texts)} entries")
        else:
            results.skip("event-log entries", "Wine traced no ReportEventW text here")
    else:
        results.skip("event-log entries", "no Wine trace of the service manager's processes")


# ------------------------------------------------------------------ main ---

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-i686", required=True)
    parser.add_argument("--build-x86_64", required=True)
    parser.add_argument("--linux-harness", required=True)
    parser.add_argument("--linux-library", required=True)
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--wine32", default="", help="a loader that runs 32-bit programs, if any")
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--event-log", default="", help="file that receives Wine's eventlog trace")
    parser.add_argument("--objdump-i686", default="i686-w64-mingw32-objdump")
    parser.add_argument("--no-service", action="store_true")
    args = parser.parse_args()
    args.build = {"i686": args.build_i686, "x86_64": args.build_x86_64}

    results = Results()
    static_checks(results, args)

    wine64 = Wine(args.wine64, args.prefix)

    def under(wine, exe):
        return lambda words, stdin: wine.run([exe] + [Wine.path(words[0])] + words[1:], stdin=stdin)

    linux = Harness("the Linux libVaultor64.so", lambda words, stdin: subprocess.run(
        [args.linux_harness] + words, input=stdin, capture_output=True, timeout=300), args.linux_library)

    # Wine's clock is the host's; a few ms of slack for its tick.
    builds = [("x86_64", "Vaultor64.dll", wine64)]
    if args.wine32:
        builds.append(("i686", "Vaultor.dll", Wine(args.wine32, args.prefix)))
    else:
        results.skip("Vaultor.dll (32-bit) under Wine",
                     "no wine32 on this machine: the 32-bit DLL and quillonsvc.exe are checked statically only")
    for arch, dll, wine in builds:
        harness_exe = os.path.join(args.build[arch], "bin", "vaultor_harness.exe")
        windows = Harness(f"{dll} under Wine", under(wine, harness_exe),
                          os.path.join(args.build[arch], "bin", dll))
        if not os.path.exists(harness_exe) or not os.path.exists(windows.library):
            results.check(f"{dll} and its harness built", False)
            continue
        try:
            library_checks(results, windows, linux, wine_clock=16)
            identity_checks(results, windows,
                            os.path.join(args.build[arch], "bin", "identity_sources.exe"), wine)
        except Exception as error:  # noqa: BLE001 - one failure, then go on
            results.check(f"{dll}: checks ran to the end", False, repr(error))

    if args.no_service:
        results.skip("service under Wine's service manager", "left out with --no-service")
    else:
        try:
            service_checks(results, args, wine64)
        except Exception as error:  # noqa: BLE001
            results.check("service checks ran to the end", False, repr(error))

    c = results.counts
    print(f"windows: {c['PASS']} passed, {c['FAIL']} failed, {c['SKIP']} skipped")
    return 1 if c["FAIL"] else 0


if __name__ == "__main__":
    sys.exit(main())

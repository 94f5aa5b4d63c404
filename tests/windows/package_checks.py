"""Checks of the Windows package as users get it, unpacked: the package as a
whole (its files, their checksums, the debug files their links point at, the
notices against what the link maps show linked in, the relink kit), and each
shipped file (no debug information, the project's version, the hardening
flags). tests/windows/wine_checks.py runs them with its other checks."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "..", "scripts", "windows")]
import pe_info  # noqa: E402
import third_party  # noqa: E402


def project_version():
    """The one version of the project: project(Quillon VERSION ...)."""
    with open(os.path.join(here, "..", "..", "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(Quillon VERSION ([0-9.]+)", f.read()).group(1)


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        match = re.search(rf"^{re.escape(name)}:[A-Z]+=(.*)$", f.read(), re.M)
    return match.group(1) if match else ""


def unpack(archive, folder):
    """The archive unpacked anew into folder: its one top folder."""
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(archive) as contents:
        tops = {name.split("/", 1)[0] for name in contents.namelist()}
        if len(tops) != 1:
            raise RuntimeError(f"{archive} holds {sorted(tops)}, not one folder")
        contents.extractall(folder)
    return os.path.join(folder, tops.pop())


def files_under(folder):
    return sorted(os.path.relpath(os.path.join(d, n), folder) for d, _, names in os.walk(folder) for n in names)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def shipped_files(context):
    """(architecture, file) of every file the package ships."""
    return [(arch, name) for arch in context.architectures for name in arch.shipped]


def package_checks(results, context):
    """The package as a whole: its files, their checksums, the debug files
    their links point at, the notices and the relink kit."""
    results.section(f"the package {os.path.basename(context.package_zip)}")
    files = files_under(context.package)
    top = sorted(f for f in files if os.sep not in f)
    expected = sorted([name for _, name in shipped_files(context)] + ["SHA256SUMS", "THIRD-PARTY-NOTICES.txt"])
    results.check("holds the shipped files, THIRD-PARTY-NOTICES.txt, SHA256SUMS and quillonsvc-relink/",
                  top == expected and all(f.startswith("quillonsvc-relink" + os.sep) for f in files if f not in top),
                  ", ".join(files))
    listed = {}
    with open(os.path.join(context.package, "SHA256SUMS"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            digest, _, name = line.partition("  ")
            listed[name] = digest
    wrong = [n for n, d in listed.items() if not os.path.isfile(os.path.join(context.package, n))
             or sha256(os.path.join(context.package, n)) != d]
    unlisted = [f for f in files if f != "SHA256SUMS" and f not in listed]
    results.check(f"SHA256SUMS: all {len(listed)} checksums verify, and every other file is listed",
                  not wrong and not unlisted and listed, f"wrong {wrong}, unlisted {unlisted}")

    for arch, name in shipped_files(context):
        link = pe_info.PeFile(arch.bin(name)).debug_link()
        debug = os.path.join(context.debug, name + ".debug")
        with open(debug, "rb") if os.path.exists(debug) else open(os.devnull, "rb") as f:
            data = f.read()
        sections = pe_info.PeFile(debug).section_names() if data else []
        results.check(f"{name} points at {name}.debug of the debug package, which holds its debug information",
                      link == (name + ".debug", pe_info.gnu_debuglink_crc(data)) and ".debug_info" in sections,
                      f"link {link}, debug file {len(data)} bytes, CRC {pe_info.gnu_debuglink_crc(data):#x}")
    notices_checks(results, context)
    relink_checks(results, context)


def notices_checks(results, context):
    """Every component linked into a shipped file, as its link map shows it,
    is in the notices with its version, the file, its licence and the text."""
    with open(os.path.join(context.package, "THIRD-PARTY-NOTICES.txt"), encoding="utf-8") as f:
        text = f.read()
    entries = {m.group(1): m.groupdict() for m in re.finditer(
        r"^\d+\. (?P<title>.+)\n   In: (?P<files>.+)\n   Licence: (?P<licence>.+) \(text (?P<texts>[A-Z and]+) below\)$",
        text, re.M)}
    texts = set(re.findall(r"^([A-Z])\. .+\n-+\n\n\s*\S", text, re.M))
    for arch, name in shipped_files(context):
        build = arch.build
        target = os.path.splitext(name)[0]
        with open(os.path.join(build, "linkmaps", f"{target}.map"), encoding="utf-8", errors="replace") as f:
            linked = third_party.components_in(f.read(), pe_info.PeFile(arch.bin(name)).imported_dlls(), build)
        missing = []
        for key in sorted(linked):
            if key == "unknown":
                missing.append(f"no component claims {linked[key]}")
                continue
            entry = next((e for t, e in entries.items()
                          if re.match(re.escape(third_party.NAMES[key]) + r" \d", t)), None)
            if entry is None or name not in entry["files"].split(", "):
                missing.append(f"{third_party.NAMES[key]} (from {', '.join(os.path.basename(p) for p in linked[key])})")
            elif not set(entry["texts"].split(" and ")) <= texts:
                missing.append(f"the licence text of {entry['title']}")
        results.check(f"THIRD-PARTY-NOTICES.txt names what {name} links in, with version, licence and text",
                      not missing, "missing " + "; ".join(missing) if missing
                      else "; ".join(third_party.NAMES[k] for k in sorted(linked)))
    bundled = [e["Name"] for e in third_party.qt_attributions(os.path.join(context.qt_source, "tree"))]
    absent = [n for n in bundled if f" {n}, version " not in text or n not in text.split("Licence texts", 1)[1]]
    results.check(f"THIRD-PARTY-NOTICES.txt names the {len(bundled)} pieces of others' code in Qt Core, "
                  f"with their licence texts", not absent, f"missing {absent}" if absent else "")


def relink_checks(results, context):
    """The relink kit links quillonsvc.exe again, against the Qt the build
    used: the same program."""
    kit = os.path.join(context.package, "quillonsvc-relink")
    i686 = next(a for a in context.architectures if a.name == "i686")
    qt = os.path.normpath(os.path.join(cache_value(i686.build, "Qt5_DIR"), "..", "..", ".."))
    with tempfile.TemporaryDirectory() as work:
        output = os.path.join(work, "quillonsvc.exe")
        run = subprocess.run(["sh", os.path.join(kit, "link.sh"), output], env=dict(os.environ, QT=qt),
                             capture_output=True, text=True, timeout=600)
        if not results.check("quillonsvc-relink/link.sh links quillonsvc.exe against a Qt given by QT",
                             run.returncode == 0 and os.path.exists(output),
                             f"exit {run.returncode}: {run.stderr[-400:]}"):
            return
        # The same program: the same sections, data, resources and imports;
        # the code differs only where it calls through the import table,
        # which the kit's system libraries (-l, the toolchain's) may order
        # otherwise. (The kit's objects carry no debug information.)
        relinked = pe_info.PeFile(output)
        built = pe_info.PeFile(os.path.join(i686.build, "bin", "quillonsvc.exe"))

        def layout(pe):
            return [(name, size) for name, _, size, _ in pe.sections if not name.startswith(".debug")]
        results.check("the relinked quillonsvc.exe is the shipped program",
                      layout(relinked) == layout(built)
                      and all(relinked.section_data(s) == built.section_data(s) for s in (".data", ".rdata", ".rsrc"))
                      and {d.lower(): sorted(n) for d, n in relinked.imports().items()}
                      == {d.lower(): sorted(n) for d, n in built.imports().items()},
                      f"{os.path.getsize(output):,} bytes, sections {', '.join(n for n, _ in layout(relinked))}")


def shipped_file_checks(results, arch, context):
    """Each file the package ships for this architecture, as unpacked: no
    debug information, the project's version, and the hardening flags."""
    version = context.version
    numbers = tuple(int(n) for n in (version.split(".") + ["0"] * 4)[:4])
    for name in arch.shipped:
        results.section(f"{name} as shipped")
        path = arch.bin(name)
        if not results.check(f"{name} unpacked from the package", os.path.exists(path), path):
            continue
        pe = pe_info.PeFile(path)
        debug_sections = [s for s in pe.section_names() if s.startswith((".debug", ".zdebug"))]
        results.check(f"{name}: no debug sections, no symbol table", not debug_sections and not pe.symbol_count,
                      f"sections {', '.join(pe.section_names())}")
        info = pe.version_info() or {"file": None, "product": None, "strings": {}}
        strings = info["strings"]
        results.check(f"{name}: version resource of version {version}",
                      info["file"] == numbers and info["product"] == numbers
                      and strings.get("FileVersion") == version == strings.get("ProductVersion")
                      and strings.get("ProductName") == "Quillon" and strings.get("OriginalFilename") == name
                      and bool(strings.get("FileDescription")),
                      f"{info['file']} / {info['product']}, {strings}")
        flags = pe.dll_characteristics
        results.check(f"{name}: ASLR (dynamic base, with its relocations)",
                      bool(flags & pe_info.DLL_DYNAMIC_BASE) and pe.has_relocations(), f"{flags:#06x}")
        results.check(f"{name}: DEP (NX compatible)", bool(flags & pe_info.DLL_NX_COMPAT), f"{flags:#06x}")
        if pe.pe32_plus:
            results.check(f"{name}: high-entropy (64-bit) ASLR", bool(flags & pe_info.DLL_HIGH_ENTROPY_VA),
                          f"{flags:#06x}")
        # The stack protector's check routine (libssp) is linked in only for
        # code compiled with it: its symbol is in the debug file, its
        # message in the program.
        debug = os.path.join(context.debug, name + ".debug")
        symbols = pe_info.PeFile(debug).symbols() if os.path.exists(debug) else set()
        results.check(f"{name}: stack protector",
                      any(s.lstrip("_") == "stack_chk_fail" for s in symbols)
                      and b"stack smashing detected" in pe.data,
                      "__stack_chk_fail linked in" if symbols else "no debug file")

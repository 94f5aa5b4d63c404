"""The third-party code linked into the Windows files: which component each
archive of a link belongs to, and what the machine records of each (version,
licence, licence text). scripts/windows/package.py writes the notices from it;
the Windows checks read the same link maps and find every component linked
in named in the notices."""

import json
import os
import re
import subprocess

# The components by key, as the notices name them (each followed by its version).
NAMES = {"qt": "Qt Core", "cryptopp": "Crypto++", "mingw-w64": "MinGW-w64 runtime",
         "winpthreads": "winpthreads", "gcc": "GCC runtime libraries"}

# Archives and objects of a link, by file name, and the component they carry.
# System DLLs' import libraries are no component: they are recognised by the
# DLLs the file imports.
LINKED = [
    (r"libQt5Core\.a|libqtpcre2\.a", "qt"),
    (r"libcryptopp\.a", "cryptopp"),
    (r"libwinpthread\.a|libpthread\.a", "winpthreads"),
    (r"libmingw32\.a|libmingwex\.a|libmoldname\.a|libmsvcrt\.a|crt2\.o|dllcrt2\.o|crtdll\.o"
     r"|libuuid\.a|libwbemuuid\.a", "mingw-w64"),   # with the GUIDs of its libsrc/ (uuid, wbemuuid)
    (r"libstdc\+\+\.a|libsupc\+\+\.a|libgcc\.a|libgcc_eh\.a|libssp\.a|libssp_nonshared\.a|crtbegin\.o|crtend\.o",
     "gcc"),
]

# The code of others inside Qt Core, as Qt's attribution files record it:
# those of Qt Core's own folders and of the third-party folders it compiles.
QT_ATTRIBUTIONS = ["src/corelib/codecs", "src/corelib/io", "src/corelib/kernel", "src/corelib/text",
                   "src/3rdparty/double-conversion", "src/3rdparty/easing", "src/3rdparty/freebsd",
                   "src/3rdparty/md4", "src/3rdparty/md5", "src/3rdparty/pcre2", "src/3rdparty/rfc6234",
                   "src/3rdparty/sha1", "src/3rdparty/sha3", "src/3rdparty/tinycbor", "src/3rdparty/zlib"]
# Code of those folders that a Windows build of Qt Core does not compile.
QT_NOT_ON_WINDOWS = {"qeventdispatcher_cf"}   # the macOS event dispatcher


def component_of(path, imported_dlls):
    """The component an input of a link belongs to: a key of LINKED, "system"
    for a system DLL's import library, "ours" for the project's own files,
    None when nothing claims it."""
    name = os.path.basename(path)
    for pattern, key in LINKED:
        if re.fullmatch(pattern, name):
            return key
    match = re.fullmatch(r"lib(.+)\.a", name)
    if match and match.group(1).lower() + ".dll" in imported_dlls:
        return "system"
    return None


def linked_inputs(map_text):
    """The archives whose members a GNU ld link map shows pulled in, and the
    object files it loaded directly."""
    inputs = set()
    for match in re.finditer(r"^(\S+?\.a)\([^)\s]+\)", map_text, re.M):
        inputs.add(match.group(1))
    for match in re.finditer(r"^LOAD (\S+\.(?:o|obj|a))$", map_text, re.M):
        if match.group(1).endswith((".o", ".obj")):
            inputs.add(match.group(1))
    return inputs


def components_in(map_text, imported_dlls, build):
    """{component: [inputs]} of one link; the build's own inputs (which CMake
    names relative to the target's folder, or under the build folder) are
    left out; inputs nothing claims are listed under "unknown"."""
    found = {}
    dlls = {dll.lower() for dll in imported_dlls}
    build = os.path.abspath(build) + os.sep
    for path in sorted(linked_inputs(map_text)):
        if not os.path.isabs(path) or path.startswith(build):
            continue
        key = component_of(path, dlls) or "unknown"
        if key != "system":
            found.setdefault(key, []).append(path)
    return found


def dpkg_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True,
                          check=True).stdout.strip()


def upstream(debian_version):
    """The upstream part of a Debian version: no epoch, no revision, no +dfsg."""
    version = debian_version.split(":", 1)[-1].rsplit("-", 1)[0]
    return re.split(r"[+~]", version)[0]


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().rstrip() + "\n"


def qt_attributions(qt_tree):
    """Qt's records of the code of others in Qt Core: dicts with Id, Name,
    Version, License, Copyright and the licence text (LicenseText)."""
    found = []
    for folder in QT_ATTRIBUTIONS:
        path = os.path.join(qt_tree, folder, "qt_attribution.json")
        with open(path, encoding="utf-8") as f:
            entries = json.loads(f.read(), strict=False)
        for entry in entries if isinstance(entries, list) else [entries]:
            if entry["Id"] in QT_NOT_ON_WINDOWS:
                continue
            licence_file = entry.get("LicenseFile")
            entry["LicenseText"] = read(os.path.join(qt_tree, folder, licence_file)) if licence_file else ""
            found.append(entry)
    return found


def gcc_runtime_exception(copyright_path):
    """The GCC Runtime Library Exception as Debian's copyright file of the
    compiler quotes it."""
    text = read(copyright_path)
    match = re.search(r"^GCC RUNTIME LIBRARY EXCEPTION\n.*?requirements of the license of GCC\.\n", text,
                      re.M | re.S)
    if not match:
        raise RuntimeError(f"{copyright_path} quotes no GCC Runtime Library Exception")
    return match.group(0)

#!/usr/bin/env python3
"""Makes the Windows package from the two cross builds (scripts/windows/
package.sh builds them first):

  <dist>/quillon-native-<version>-windows.zip
      quillon-native-<version>-windows/
          quillonsvc.exe  Vaultor.dll        32-bit, stripped
          Vaultor64.dll                      64-bit, stripped
          THIRD-PARTY-NOTICES.txt            what is linked in, versions, licences
          quillonsvc-relink/                 quillonsvc's objects and link line (LGPLv3, Qt)
          SHA256SUMS                         of every other file
  <dist>/quillon-native-<version>-windows-debug.zip
      quillon-native-<version>-windows/<file>.debug   the debug information
  <dist>/quillon-native-<version>-windows-qt-source.zip
      quillon-native-<version>-windows/qt-source/     Qt Core's source as built

All three unpack into the same folder: the debug files land beside the files
whose .gnu_debuglink names them. Prints the files with their sizes before and
after stripping."""

import argparse
import hashlib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "..", "tests", "windows")]
import pe_info  # noqa: E402 - the Windows checks' reader of PE files
import third_party  # noqa: E402

TRIPLETS = {"i686": "i686-w64-mingw32", "x86_64": "x86_64-w64-mingw32"}
# What ships, by architecture: (CMake target, file).
SHIPPED = {"i686": [("quillonsvc", "quillonsvc.exe"), ("Vaultor", "Vaultor.dll")],
           "x86_64": [("Vaultor64", "Vaultor64.dll")]}
NOTICES = "THIRD-PARTY-NOTICES.txt"
RELINK = "quillonsvc-relink"
SUMS = "SHA256SUMS"
GPL3 = "/usr/share/common-licenses/GPL-3"


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            match = re.match(rf"^{re.escape(name)}:[A-Z]+=(.*)$", line)
            if match:
                return match.group(1)
    raise RuntimeError(f"{build}: {name} is not in CMakeCache.txt")


def run(*command):
    subprocess.run(command, check=True)


def write(path, text, mode=0o644):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.chmod(path, mode)


# ------------------------------------------------------------- stripping ---

def strip(arch, source, folder, debug_folder):
    """The file without its debug information, pointing at <name>.debug in
    debug_folder, which holds it."""
    triplet = TRIPLETS[arch]
    name = os.path.basename(source)
    debug = os.path.join(debug_folder, name + ".debug")
    target = os.path.join(folder, name)
    run(f"{triplet}-objcopy", "--only-keep-debug", source, debug)
    run(f"{triplet}-strip", "--strip-all", "-o", target, source)
    # The link records the debug file's name and CRC, read from this path.
    run(f"{triplet}-objcopy", f"--add-gnu-debuglink={debug}", target)
    return target, debug


# --------------------------------------------------------------- notices ---

class Component:
    def __init__(self, key, title, licence, texts, origin, notes=""):
        self.key = key
        self.title = title
        self.licence = licence
        self.texts = texts          # letters of the licence texts below
        self.origin = origin
        self.notes = notes
        self.files = []


def components(context):
    """The components of third_party.LINKED, described from the machine."""
    qt_version = third_party.upstream(context.qt_version)
    cryptopp_header = os.path.join(context.cryptopp_root, "include", "cryptopp", "config_ver.h")
    with open(cryptopp_header, encoding="utf-8") as f:
        numbers = dict(re.findall(r"#define CRYPTOPP_(MAJOR|MINOR|REVISION) (\d+)", f.read()))
    cryptopp_version = f"{numbers['MAJOR']}.{numbers['MINOR']}.{numbers['REVISION']}"
    mingw = third_party.dpkg_version("mingw-w64-i686-dev")
    gcc = third_party.dpkg_version("g++-mingw-w64-i686-posix")
    relink = (f"Qt Core is linked statically into quillonsvc.exe. As the LGPLv3 (section 4 d 0) allows, "
              f"{RELINK}/ beside this file holds quillonsvc's own object files and its link line, so that "
              f"you can relink quillonsvc.exe against a Qt Core of your choice, a modified one included "
              f"(see {RELINK}/README.txt). The Corresponding Source of this Qt Core, Debian's source "
              f"package as built with its configure options, is {context.stem}-qt-source.zip, made with "
              f"this package: whoever conveys this package conveys that file with it, or offers it as "
              f"section 6 of the GPLv3 allows.")
    return [
        Component("qt", f"{third_party.NAMES['qt']} {qt_version}",
                  "GNU Lesser General Public License version 3 (LGPL-3.0-only)", ["A", "B"],
                  f"Debian source package qtbase-opensource-src {context.qt_version}; "
                  f"Copyright (C) The Qt Company Ltd. and other contributors", relink),
        Component("cryptopp", f"{third_party.NAMES['cryptopp']} {cryptopp_version}",
                  "Boost Software License 1.0 (the compilation); its files are in the public domain", ["C"],
                  f"Debian source package libcrypto++ {context.cryptopp_version}; "
                  f"Compilation Copyright (c) 1995-2019 by Wei Dai"),
        Component("mingw-w64", f"{third_party.NAMES['mingw-w64']} {third_party.upstream(mingw)}",
                  "Zope Public License 2.1, with parts under other permissive licences and in the public "
                  "domain, as text D records per file", ["D"],
                  f"Debian packages mingw-w64-i686-dev and mingw-w64-x86-64-dev {mingw}; "
                  f"Copyright 2009-2016 the mingw-w64 project"),
        Component("winpthreads", f"{third_party.NAMES['winpthreads']} {third_party.upstream(mingw)} (of MinGW-w64)",
                  "MIT (expat), with parts under the BSD 3-clause licence, as text D records per file", ["D"],
                  f"built from the MinGW-w64 sources into Debian's mingw-w64-i686-dev and "
                  f"mingw-w64-x86-64-dev {mingw}"),
        Component("gcc", f"{third_party.NAMES['gcc']} {third_party.upstream(gcc)} (libstdc++, libgcc, libssp)",
                  "GNU General Public License version 3 or later with the GCC Runtime Library Exception 3.1",
                  ["B", "E"],
                  f"Debian packages gcc-mingw-w64 {gcc}; Copyright (C) Free Software Foundation, Inc."),
    ]


def licence_texts(context):
    mingw_copyrights = {third_party.read(f"/usr/share/doc/mingw-w64-{arch}-dev/copyright")
                        for arch in ("i686", "x86-64")}
    if len(mingw_copyrights) != 1:
        raise RuntimeError("the mingw-w64 packages of the two architectures record different licences")
    return [
        ("A", "GNU Lesser General Public License version 3, as Qt states it (Qt's LICENSE.LGPLv3)",
         third_party.read(os.path.join(context.qt_tree, "LICENSE.LGPLv3"))),
        ("B", f"GNU General Public License version 3 ({GPL3})", third_party.read(GPL3)),
        ("C", "Crypto++: its License.txt", third_party.read(os.path.join(context.cryptopp_tree, "License.txt"))),
        ("D", "MinGW-w64 and winpthreads: Debian's record of their licences "
              "(/usr/share/doc/mingw-w64-i686-dev/copyright)", mingw_copyrights.pop()),
        ("E", "GCC Runtime Library Exception 3.1 (as /usr/share/doc/gcc-mingw-w64-base/copyright quotes it)",
         third_party.gcc_runtime_exception("/usr/share/doc/gcc-mingw-w64-base/copyright")),
    ]


def notices(context, found):
    """The notices' text. found: {component key: [shipped files]}."""
    parts = [f"Third-party software in Quillon native {context.version} for Windows",
             "",
             "quillonsvc.exe, Vaultor.dll and Vaultor64.dll are each one self-contained file: the software",
             "below is linked into them statically. Each entry names it, its version, the files that",
             "contain it and its licence; the licence texts follow the list.",
             ""]
    listed = components(context)
    for number, component in enumerate(listed, 1):
        component.files = found.get(component.key, [])
        if not component.files:
            continue
        parts += [f"{number}. {component.title}",
                  f"   In: {', '.join(component.files)}",
                  f"   Licence: {component.licence} (text {' and '.join(component.texts)} below)",
                  f"   From: {component.origin}"]
        if component.notes:
            parts += ["   " + line for line in wrap(component.notes, 93)]
        if component.key == "qt":
            parts += ["   The code of others in Qt Core, as Qt records it (licence texts F below):"]
            for index, entry in enumerate(context.qt_attributions, 1):
                version = entry.get("Version") or f"as in Qt {third_party.upstream(context.qt_version)}"
                parts += [f"   {number}.{index} {entry['Name']}, version {version}: {entry['License']}"]
        parts.append("")
    parts += ["", "Licence texts", "============="]
    for letter, title, text in licence_texts(context):
        parts += ["", f"{letter}. {title}", "-" * (len(title) + 3), "", text.rstrip()]
    parts += ["", "F. The code of others in Qt Core", "--------------------------------"]
    for index, entry in enumerate(context.qt_attributions, 1):
        parts += ["", f"F.{index} {entry['Name']} ({entry['License']})", "",
                  entry.get("Copyright", "").strip(), "",
                  entry["LicenseText"].rstrip() or "Placed in the public domain; no licence text."]
    return "\n".join(parts) + "\n"


def wrap(text, width):
    lines, line = [], ""
    for word in text.split():
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    return lines + ([line] if line else [])


def linked_components(context):
    """{component key: [shipped files]} from the link maps; fails on an input
    that no component claims."""
    found = {}
    for arch, shipped in SHIPPED.items():
        build = context.builds[arch]
        for target, name in shipped:
            with open(os.path.join(build, "linkmaps", f"{target}.map"), encoding="utf-8", errors="replace") as f:
                text = f.read()
            dlls = pe_imports(os.path.join(build, "bin", name))
            parts = third_party.components_in(text, dlls, build)
            if "unknown" in parts:
                raise RuntimeError(f"{name} links {parts['unknown']}, which no component of the notices "
                                   f"covers (scripts/windows/third_party.py)")
            for key in parts:
                found.setdefault(key, []).append(name)
    return found


def pe_imports(path):
    return pe_info.PeFile(path).imported_dlls()


# ----------------------------------------------------------- relink kit ---

def relink_kit(context, folder):
    """quillonsvc's objects and its link line, with Qt's folder and the
    compiler left to choose."""
    build = context.builds["i686"]
    target_dir = os.path.join(build, "supervisor")
    rules = os.path.join(target_dir, "CMakeFiles", "quillonsvc.dir")
    with open(os.path.join(rules, "link.txt"), encoding="utf-8") as f:
        link = [line for line in f.read().splitlines() if "-o ../bin/quillonsvc.exe" in line]
    if len(link) != 1:
        raise RuntimeError(f"{rules}/link.txt: no link line of quillonsvc.exe")
    objects_dir = os.path.join(folder, "objects")
    os.makedirs(objects_dir)
    qt_root = context.qt_root.rstrip("/")
    words = []

    def own(path):
        # Without their debug information, which the debug package has.
        source = os.path.normpath(os.path.join(target_dir, path))
        target = os.path.join(objects_dir, os.path.basename(source))
        run(f"{TRIPLETS['i686']}-objcopy", "--strip-debug", source, target)
        return '"$kit/objects/' + os.path.basename(source) + '"'

    def expand(word):
        if word.startswith(("-Wl,-Map=", "-Wl,--out-implib,", "-Wl,--whole-archive", "-Wl,--no-whole-archive")):
            return []
        if word.startswith("@"):
            with open(os.path.join(target_dir, word[1:]), encoding="utf-8") as f:
                return [w for part in shlex.split(f.read()) for w in expand(part)]
        if word.endswith("objects.a") and "quillonsvc.dir" in word:
            # The program's own objects, which CMake gathers into an archive.
            with open(os.path.join(rules, "objects1"), encoding="utf-8") as f:
                return [own(o) for o in shlex.split(f.read())]
        if word.startswith(qt_root + "/"):
            return ['"$QT' + word[len(qt_root):] + '"']
        system = re.fullmatch(r"/usr/[^/]+-w64-mingw32/lib/lib(\w+)\.a", word)
        if system:
            return ["-l" + system.group(1)]
        if word.endswith((".a", ".obj", ".res")):
            return [own(word)]
        return [shlex.quote(word)]

    command = shlex.split(link[0])
    rest = command[1:]
    output = rest.index("-o")
    del rest[output:output + 2]
    for word in rest:
        words += expand(word)
    # Each archive once where it first appears is not enough for a static
    # link (libraries refer back); the line keeps CMake's order and repeats.
    lines = " \\\n  ".join(words)
    write(os.path.join(folder, "link.sh"), f"""#!/bin/sh
# Links quillonsvc.exe (32-bit) from the objects beside this script against
# the Qt Core of your choice: QT is the Qt 5 folder (with lib/libQt5Core.a)
# built for i686 MinGW-w64 with the posix thread model; CXX the compiler (as
# the shipped file: {os.path.basename(command[0])}, GCC {third_party.upstream(
        third_party.dpkg_version("g++-mingw-w64-i686-posix"))}).
#   QT=/path/to/qt sh link.sh [output]        (default output: ./quillonsvc.exe)
set -eu
kit=$(cd "$(dirname "$0")" && pwd)
: "${{QT:?set QT to the Qt 5 folder to link with}}"
CXX=${{CXX:-{os.path.basename(command[0])}}}
"$CXX" -o "${{1:-quillonsvc.exe}}" \\
  {lines}
""", 0o755)
    with open(os.path.join(qt_root, "config.opt"), encoding="utf-8") as f:
        configure = " ".join(shlex.quote(w) for w in f.read().split("\n") if w)
    write(os.path.join(folder, "README.txt"), f"""Relinking quillonsvc.exe with another Qt Core

quillonsvc.exe contains Qt Core {third_party.upstream(context.qt_version)}, linked statically, under the
GNU Lesser General Public License version 3 (THIRD-PARTY-NOTICES.txt). This
folder lets you replace it: objects/ holds quillonsvc's own object files and
libraries (everything of quillonsvc.exe but Qt and the compiler's runtime,
without debug information), and
link.sh the link line that made quillonsvc.exe, with the Qt folder and the
compiler yours to choose:

    QT=/path/to/your/qt sh link.sh quillonsvc.exe

The Qt it was linked with: Debian's source package qtbase-opensource-src
{context.qt_version} ({context.stem}-qt-source.zip), configured with

    {configure}

and built with `make sub-corelib sub-rcc` in its src folder. A Qt configured
otherwise may need other system libraries on the line (its lib/Qt5Core.prl
lists them); a Qt Core built as a DLL is linked through its import library and
must then be shipped beside quillonsvc.exe with the runtime DLLs it needs.
""")
    return sorted(os.listdir(objects_dir))


# ------------------------------------------------------------------ zips ---

def zip_folder(path, root, top):
    """A zip of everything under root, as top/<relative path>, in name order."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for folder, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                full = os.path.join(folder, name)
                # Compressed tarballs are stored as they are.
                method = zipfile.ZIP_STORED if name.endswith((".xz", ".gz", ".bz2")) else zipfile.ZIP_DEFLATED
                archive.write(full, os.path.join(top, os.path.relpath(full, root)), method)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-i686", required=True)
    parser.add_argument("--build-x86_64", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--qt-version", required=True, help="Debian version of qtbase-opensource-src")
    parser.add_argument("--qt-source", required=True, help="folder of the source package (dsc, tarballs, tree/)")
    parser.add_argument("--cryptopp-version", required=True)
    parser.add_argument("--cryptopp-source", required=True)
    args = parser.parse_args()

    builds = {"i686": args.build_i686, "x86_64": args.build_x86_64}
    versions = {cache_value(b, "CMAKE_PROJECT_VERSION") for b in builds.values()}
    if len(versions) != 1:
        raise RuntimeError(f"the two builds carry different versions: {sorted(versions)}")
    version = versions.pop()
    stem = f"quillon-native-{version}-windows"
    qt_root = os.path.normpath(os.path.join(cache_value(builds["i686"], "Qt5_DIR"), "..", "..", ".."))
    context = argparse.Namespace(
        version=version, stem=stem, builds=builds, qt_version=args.qt_version, qt_root=qt_root,
        qt_tree=os.path.join(args.qt_source, "tree"), cryptopp_version=args.cryptopp_version,
        cryptopp_tree=os.path.join(args.cryptopp_source, "tree"),
        cryptopp_root=cache_value(builds["i686"], "QUILLON_CRYPTOPP_ROOT"))
    context.qt_attributions = third_party.qt_attributions(context.qt_tree)

    os.makedirs(args.dist, exist_ok=True)
    work = tempfile.mkdtemp(prefix="package.", dir=args.dist)
    try:
        package, debug, source = (os.path.join(work, part) for part in ("package", "debug", "source"))
        for folder in (package, debug, os.path.join(source, "qt-source")):
            os.makedirs(folder)
        print(f"{'file':16} {'built':>12} {'stripped':>12} {'debug file':>12}")
        for arch, shipped in SHIPPED.items():
            for _, name in shipped:
                built = os.path.join(builds[arch], "bin", name)
                stripped, debug_file = strip(arch, built, package, debug)
                print(f"{name:16} {os.path.getsize(built):>12,} {os.path.getsize(stripped):>12,} "
                      f"{os.path.getsize(debug_file):>12,}")
        write(os.path.join(package, NOTICES), notices(context, linked_components(context)))
        objects = relink_kit(context, os.path.join(package, RELINK))
        print(f"{RELINK}/: link.sh, README.txt, objects/ ({', '.join(objects)})")
        for name in sorted(os.listdir(args.qt_source)):
            if os.path.isfile(os.path.join(args.qt_source, name)) and not name.startswith("."):
                shutil.copy(os.path.join(args.qt_source, name), os.path.join(source, "qt-source"))
        shutil.copy(os.path.join(qt_root, "config.opt"), os.path.join(source, "qt-source", "configure-options.txt"))

        sums = []
        for folder, dirs, files in os.walk(package):
            dirs.sort()
            for name in sorted(files):
                full = os.path.join(folder, name)
                sums.append(f"{sha256(full)}  {os.path.relpath(full, package)}")
        write(os.path.join(package, SUMS), "\n".join(sums) + "\n")

        outputs = [(f"{stem}.zip", package), (f"{stem}-debug.zip", debug), (f"{stem}-qt-source.zip", source)]
        for name, root in outputs:
            path = os.path.join(args.dist, name)
            zip_folder(path + ".part", root, stem)
            os.replace(path + ".part", path)
            print(f"{path}: {os.path.getsize(path):,} bytes")
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())

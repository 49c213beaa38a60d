#!/usr/bin/env python3
"""Writes the installed application the benchmark removes, from the Linux side.

    mkworld.py OUT FILES FOLDERS LOG_LINES ENTRIES [INSTALLED]

OUT/tree/     what goes into the prefix's drive_c: the install folder
              "Program Files/BenchApp" (FILES files in FOLDERS folders, the
              install folder included, nested up to 6 levels, and the install
              log) and the start-menu group "windows/Start Menu/Programs/BenchApp"
OUT/world.reg ENTRIES other applications' Uninstall entries of 10 values and
              ENTRIES other App Paths entries, plus everything in reset.reg
OUT/reset.reg what one uninstall run consumes: the application's own App Paths
              and Uninstall entries, and the SharedDLLs counts of the shared
              files its log names (two lines in five)
OUT/others/   with INSTALLED (default 1), what goes into drive_c for the
              inventory: "Bench Others/OtherNNNNN" for the first INSTALLED - 1
              other applications, three files and an install log each; their
              App Paths entries name these folders, the rest name folders
              that are not there
OUT/facts     shell assignments the benchmark script reads
"""

import os
import sys

APP = "BenchApp"
EXE = "benchapp.exe"
INSTALL = "C:\\Program Files\\" + APP
GROUP = "C:\\WINDOWS\\Start Menu\\Programs\\" + APP
CURRENT = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
MAX_DEPTH = 6
EXTENSIONS = [".dll", ".dat", ".txt", ".exe", ".hlp", ".ini", ".bmp", ".ocx"]


def folder_tree(folders):
    """Relative folder paths, parents before children; "" is the install folder."""
    levels = [[""]]
    remaining = folders - 1
    width = 4
    while remaining > 0 and len(levels) <= MAX_DEPTH:
        parents = levels[-1]
        # The deepest level takes whatever is left, so the tree stays at
        # MAX_DEPTH however many folders are asked for.
        count = remaining if len(levels) == MAX_DEPTH else min(width, remaining)
        level = []
        for i in range(count):
            parent = parents[i % len(parents)]
            name = "Module %02d" % (i // len(parents) + 1) if len(levels) % 2 else "sub%d" % (i + 1)
            level.append(os.path.join(parent, name) if parent else name)
        levels.append(level)
        remaining -= count
        width = count * 3
    return [path for level in levels for path in level]


def windows_path(relative):
    return INSTALL + ("\\" + relative.replace("/", "\\") if relative else "")


def reg_text(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def shared_name(i):
    return "C:\\WINDOWS\\SYSTEM\\bnch%05d.dll" % i


def main():
    out, files, folders, log_lines, entries = sys.argv[1], *map(int, sys.argv[2:6])
    installed = int(sys.argv[6]) if len(sys.argv) > 6 else 1
    others_dir = os.path.join(out, "others", "Bench Others")
    os.makedirs(others_dir, exist_ok=True)
    tree = os.path.join(out, "tree")
    install = os.path.join(tree, "Program Files", APP)
    group = os.path.join(tree, "windows", "Start Menu", "Programs", APP)

    paths = folder_tree(folders)
    for relative in paths:
        os.makedirs(os.path.join(install, relative), exist_ok=True)
    os.makedirs(group, exist_ok=True)
    for name in ("BenchApp.lnk", "Read Me.lnk", "Uninstall BenchApp.lnk"):
        with open(os.path.join(group, name), "w") as f:
            f.write("[InternetShortcut]\r\n")

    written = 0
    for index, relative in enumerate(paths):
        share = files // len(paths) + (1 if index < files % len(paths) else 0)
        for n in range(share):
            if index == 0 and n == 0:
                name = EXE
            else:
                name = "Part%05d %s%s" % (written, "Data" if n % 3 else "lib", EXTENSIONS[n % 8])
            with open(os.path.join(install, relative, name), "w") as f:
                f.write("%s %d\r\n" % (name, written))
            written += 1

    shared = log_lines * 2 // 5
    others = log_lines - shared
    kinds = [
        lambda i: 'ACTION: CreateDir: "%s"' % windows_path(paths[i % len(paths)]),
        lambda i: 'ACTION: PrivateFile: "%s\\Part%05d.dat"' % (INSTALL, i),
        lambda i: 'ACTION: ShellLink: "%s","Tool %d","%s\\%s",""' % (APP, i, INSTALL, EXE),
        lambda i: 'ACTION: RegKey: "HKEY_LOCAL_MACHINE\\Software\\%s\\Settings%d"' % (APP, i),
        lambda i: "NOTE: Now spawning the main Setup program 'Setup1.exe'....",
        lambda i: "*** $(BeginSystemFiles) %d" % i,
        lambda i: "ACTION: SharedFile: \"%s\\common%d.dll\"" % (INSTALL, i),
        lambda i: "",
    ]
    # The start-menu group first, with a line for each of its shortcuts (only
    # shortcuts the log names, or that lead into the install folder, go),
    # then shared-file lines spread evenly through the other kinds.
    lines = ['ACTION: CreateDir: "%s"' % GROUP]
    lines += ['ACTION: ShellLink: "%s","%s","%s\\%s",""' % (APP, caption, INSTALL, EXE)
              for caption in ("BenchApp", "Read Me", "Uninstall BenchApp")]
    s = 0
    for i in range(1, log_lines):
        if s < shared and (i * shared) // (log_lines - 1) != ((i - 1) * shared) // (log_lines - 1):
            kind = "DllSelfRegister: " if s % 5 == 0 else "SystemFile: "
            lines.append('ACTION: %s"%s"' % (kind, shared_name(s)))
            s += 1
        else:
            lines.append(kinds[i % len(kinds)](i))
    with open(os.path.join(install, "ST6UNST.LOG"), "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))

    reset = ["REGEDIT4", ""]
    reset += ["[%s\\App Paths\\%s]" % (CURRENT, EXE), "@=" + reg_text(INSTALL + "\\" + EXE),
              '"Path"=' + reg_text(INSTALL), ""]
    reset += ["[%s\\Uninstall\\%s]" % (CURRENT, APP), '"DisplayName"="Bench Application"',
              '"UninstallString"=' + reg_text("C:\\WINDOWS\\uninstall.exe " + EXE),
              '"AppToUninstall"="%s"' % EXE, ""]
    reset += ["[%s\\SharedDLLs]" % CURRENT]
    # Mostly ordinary counts; some 1 (left at 0) and some 0 (a key-deletion
    # request), as a machine that has seen many setups holds.
    reset += ["%s=dword:%08x" % (reg_text(shared_name(i)), i % 7) for i in range(shared)]
    reset.append("")

    world = list(reset)
    for i in range(entries):
        key = ("{B3E1%04X-5A1C-4E2B-9D3F-%012X}" % (i, i * 7919)) if i % 2 else "OtherApp%05d" % i
        world += ["[%s\\Uninstall\\%s]" % (CURRENT, key),
                  '"DisplayName"="Other Application %d"' % i,
                  '"DisplayVersion"="%d.%d.%d"' % (i % 9, i % 13, i),
                  '"Publisher"="Publisher %d"' % (i % 97),
                  '"InstallLocation"=' + reg_text("C:\\Program Files\\Other%05d" % i),
                  '"UninstallString"=' + reg_text("C:\\WINDOWS\\uninstall.exe app%05d.exe" % i),
                  '"DisplayIcon"=' + reg_text("C:\\Program Files\\Other%05d\\app%05d.exe,0" % (i, i)),
                  '"URLInfoAbout"="http://example.invalid/%d"' % i,
                  '"EstimatedSize"=dword:%08x' % (i * 37 % 100000),
                  '"NoModify"=dword:00000001',
                  '"AppToUninstall"="app%05d.exe"' % i,
                  ""]
        folder = "C:\\Program Files\\Other%05d" % i
        if i < installed - 1:
            folder = "C:\\Bench Others\\Other%05d" % i
            here = os.path.join(others_dir, "Other%05d" % i)
            os.makedirs(here, exist_ok=True)
            for name in ("app%05d.exe" % i, "readme.txt", "data.dat"):
                with open(os.path.join(here, name), "w") as f:
                    f.write("%s %d\r\n" % (name, i))
            with open(os.path.join(here, "ST6UNST.LOG"), "w", newline="") as f:
                f.write('ACTION: CreateDir: "%s"\r\n' % folder)
        world += ["[%s\\App Paths\\app%05d.exe]" % (CURRENT, i),
                  "@=" + reg_text("%s\\app%05d.exe" % (folder, i)),
                  '"Path"=' + reg_text(folder), ""]

    for name, content in (("reset.reg", reset), ("world.reg", world)):
        with open(os.path.join(out, name), "w", newline="") as f:
            f.write("\r\n".join(content) + "\r\n")

    with open(os.path.join(out, "facts"), "w") as f:
        f.write("rows=%d\nfolders=%d\nlog_lines=%d\nshared_lines=%d\nentries=%d\n"
                "depth=%d\nexe=%s\nlast_shared='%s'\nlast_entry=app%05d.exe\ninstalled=%d\n"
                % (written, len(paths), len(lines), shared, entries,
                   max(p.count("/") + 1 for p in paths if p) if len(paths) > 1 else 0,
                   EXE, shared_name(shared - 1), entries - 1, min(installed, entries + 1)))


if __name__ == "__main__":
    main()

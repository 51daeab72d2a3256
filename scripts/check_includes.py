#!/usr/bin/env python3
"""Include rules, checked before the build.

1. Only shared/loam/platform calls the system: no file elsewhere in the
   libraries or the agent includes a POSIX (or other C) header, and the
   platform's public headers include none either.
2. Nothing includes from a folder above its own ("../"), a library includes
   only its own headers and those of the libraries it is built on, and an
   internal/ folder is reached only from the folder that owns it.
3. Every public header compiles on its own, and a library's public headers
   compile together (no name defined twice).

Exits non-zero with one line per violation.
"""
import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

# Each library and what it is built on, as the CMake files link them.
DEPS = {
    "loam/platform": [],
    "loam/base": ["loam/platform"],
    "loam/threads": ["loam/base"],
    "loam/net": ["loam/threads"],
    "loam/netobjects": ["loam/net"],
    "loam/service": ["loam/netobjects"],
    "loam/dns": ["loam/netobjects"],
    "sshlib": ["loam/net"],
    "loam/terminal": ["sshlib", "loam/net"],
    "update_agent": ["loam/service"],
}
# C headers of the libraries we build on (Crypto++, zlib), not the system's.
THIRD_PARTY = ("cryptopp/", "zlib.h")


def closure(lib):
    seen, todo = set(), [lib]
    while todo:
        for dep in DEPS[todo.pop()]:
            if dep not in seen:
                seen.add(dep)
                todo.append(dep)
    return seen | {lib}


def library_of(rel):
    """The library folder (a DEPS key) a source path belongs to, or None."""
    if rel.startswith("update_agent/"):
        return "update_agent"
    if rel.startswith("shared/"):
        parts = rel.split("/")
        key = "/".join(parts[1:3]) if parts[1] == "loam" else parts[1]
        return key if key in DEPS else None
    return None


def target_library(path):
    if path.startswith("loam/") or path.startswith("sshlib/"):
        parts = path.split("/")
        key = "/".join(parts[:2]) if parts[0] == "loam" else parts[0]
        return key if key in DEPS else None
    if path.startswith("update_agent/"):
        return "update_agent"
    return None


def sources(*tops):
    for top in tops:
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in sorted(files):
                if name.endswith((".h", ".cpp", ".inc")):
                    yield os.path.relpath(os.path.join(folder, name), ROOT)


def check_file(rel, problems):
    with open(os.path.join(ROOT, rel), encoding="utf-8", errors="replace") as f:
        text = f.read()
    lib = library_of(rel)
    in_platform = rel.startswith("shared/loam/platform/")
    public_platform_header = in_platform and rel.endswith(".h") and "/internal/" not in rel
    production = lib is not None
    for kind, path in INCLUDE.findall(text):
        where = f"{rel}: #include {kind}{path}{'>' if kind == '<' else kind}"
        if kind == "<":
            c_header = path.endswith(".h") and not path.startswith(THIRD_PARTY)
            if c_header and production and (not in_platform or public_platform_header):
                problems.append(f"{where}: system header outside the platform's sources")
            continue
        if path.startswith("../") or "/../" in path:
            problems.append(f"{where}: includes from a folder above its own")
            continue
        if "internal/" in path:
            owner = os.path.dirname(rel)
            if owner.endswith("/internal"):
                owner = os.path.dirname(owner)
            resolved = os.path.normpath(os.path.join(os.path.dirname(rel), path))
            if not os.path.exists(os.path.join(ROOT, resolved)):
                resolved = os.path.join("shared", path)
            if not resolved.startswith(owner + "/internal/"):
                problems.append(f"{where}: another folder's internal header")
            continue
        target = target_library(path)
        if lib and target and target not in closure(lib):
            problems.append(f"{where}: {lib} is not built on {target}")


def compile_header(group, compiler, launcher, out_dir):
    """group: (label, [header paths]); the headers are included in one file."""
    rel, members = group
    includes = [os.path.relpath(h, "shared") if h.startswith("shared/") else h for h in members]
    name = hashlib.sha1(rel.encode()).hexdigest()[:16]
    source = os.path.join(out_dir, name + ".cpp")
    with open(source, "w") as f:
        # Twice: a header must also survive being included again.
        for include in includes + includes:
            f.write(f'#include "{include}"\n')
    cmd = launcher + [compiler, "-std=c++20", "-Wall", "-Wextra", "-Werror", "-Wshadow",
                      "-Wconversion", "-Wsign-conversion", "-I" + os.path.join(ROOT, "shared"),
                      "-I" + ROOT, "-I/usr/include/crypto++", "-c", source, "-o",
                      os.path.join(out_dir, name + ".o")]
    run = subprocess.run(cmd, capture_output=True, text=True)
    if run.returncode != 0:
        first = next((l for l in run.stderr.splitlines() if "error" in l), run.stderr.strip())
        what = "on its own" if len(members) == 1 else "with the library's other headers"
        return f"{rel}: does not compile {what}: {first}"
    return None


def main():
    problems = []
    for rel in sources("shared", "update_agent", "tests", "fuzz", "bench"):
        check_file(rel, problems)

    headers = [rel for rel in sources("shared", "update_agent")
               if rel.endswith(".h") and "/internal/" not in rel]
    compiler = os.environ.get("CXX", "c++")
    launcher = ["ccache"] if shutil.which("ccache") else []
    out_dir = os.path.join(ROOT, "build", "include-check")
    os.makedirs(out_dir, exist_ok=True)
    groups = [(h, [h]) for h in headers]
    by_library = {}
    for h in headers:
        by_library.setdefault(library_of(h) or os.path.dirname(h), []).append(h)
    groups += [(f"{lib} (all headers)", members) for lib, members in sorted(by_library.items())]
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 4) as pool:
        for result in pool.map(lambda g: compile_header(g, compiler, launcher, out_dir), groups):
            if result:
                problems.append(result)

    for p in problems:
        print(p)
    if problems:
        print(f"include check: {len(problems)} problem(s)")
        return 1
    print(f"include check: {len(headers)} headers compile alone, include rules hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The documentation names only what exists.

Reads README.md and docs/*.md under the repository root and fails, with one
line per finding, when

1. a repository path or a script named in code does not exist;
2. a relative link (outside code) names a missing file, or a heading that
   its Markdown file does not have;
3. an option that `update_agent -h` prints is missing from the options table
   of docs/agent.md, or that table lists an option `-h` does not print.

What counts as code: inline code spans (`...`) and the lines of fenced blocks
(```). Each is split into words at blanks; quotes, brackets, parentheses,
commas and semicolons are stripped from both ends and one '.' or ':' from
the end; a word starting with '--' (a tool's long option: filters, patterns) is
skipped, and NAME=VALUE or -DNAME=VALUE stands for VALUE.

What counts as a path: a word that holds a '/' and does not start with '/'
(a machine path), '~', '-' or 'build/' (build output), and holds none of
< > * ? $ % { } | \\ : ( ) [ ] quotes , ; or '...' (placeholders, patterns,
URLs, markup). It is taken relative to the repository root; a trailing '/'
asks for a folder. A word without '/' that ends in .sh, .py, .cpp, .h, .md
or .cmake is a file name that some folder of the repository must hold.

What counts as an option: in docs/agent.md, the section whose heading holds
"-h prints" (down to the next heading of its level or above); the first code
span of each table row there that starts with '-'. The agent's side is the
bracketed options of the "usage:" line that `update_agent -h` prints.

Usage: check_docs.py [--root DIR] [--agent PROGRAM]
Without --agent only the paths and links are checked.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

DEFAULT_ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
FILE_EXTENSIONS = (".sh", ".py", ".cpp", ".h", ".md", ".cmake")
PLACEHOLDER = re.compile(r"[<>*?$%{}|\\:()\[\]\"',;]|\.\.\.")
INLINE_CODE = re.compile(r"(`+)(.+?)\1")
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^(#+)\s")
OPTIONS_HEADING = "-h prints"
STRIP = "\"'()[],;"


def code_pieces(text):
    """(line number, code text) for every inline span and fenced line."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if fenced:
            yield number, line
            continue
        for match in INLINE_CODE.finditer(line):
            yield number, match.group(2)


def fenceless_lines(text):
    """(line number, line) outside fenced blocks."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
        elif not fenced:
            yield number, line


def prose_lines(text):
    """(line number, line) outside fenced blocks, with code spans removed."""
    for number, line in fenceless_lines(text):
        yield number, INLINE_CODE.sub("", line)


def words(code):
    for word in code.split():
        if word.startswith("--"):
            continue
        if "=" in word:
            word = word.rsplit("=", 1)[1]
        word = word.strip(STRIP)
        if word.endswith((".", ":")) and not word.endswith("..."):
            word = word[:-1]
        if word:
            yield word


def is_path(word):
    if "/" not in word or word.startswith(("/", "~", "-", "build/")):
        return False
    return not PLACEHOLDER.search(word)


def is_file_name(word):
    return "/" not in word and word.endswith(FILE_EXTENSIONS) and not PLACEHOLDER.search(word)


def repository_names(root):
    names = set()
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = [d for d in subfolders if d != ".git" and not d.startswith("build")]
        names.update(files)
    return names


def path_exists(root, word):
    path = os.path.join(root, word)
    return os.path.isdir(path) if word.endswith("/") else os.path.exists(path)


def check_file(root, relative, names, problems):
    with open(os.path.join(root, relative), encoding="utf-8") as f:
        text = f.read()
    for number, code in code_pieces(text):
        for word in words(code):
            if is_path(word) and not path_exists(root, word):
                problems.append(f"{relative}:{number}: no such path: {word}")
            elif is_file_name(word) and word not in names:
                problems.append(f"{relative}:{number}: no file of this name: {word}")
    folder = os.path.dirname(os.path.join(root, relative))
    for number, line in prose_lines(text):
        for match in LINK.finditer(line):
            target, _, anchor = match.group(1).partition("#")
            if "://" in target or target.startswith("mailto:"):
                continue
            path = os.path.join(folder, target) if target else os.path.join(root, relative)
            if not os.path.exists(path):
                problems.append(f"{relative}:{number}: link to a missing file: {target}")
            elif anchor and path.endswith(".md") and anchor not in anchors(path):
                problems.append(f"{relative}:{number}: no heading for the link: "
                                f"{match.group(1)}")
    return text


def anchors(path):
    """The anchors a Markdown viewer gives the file's headings."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = set()
    for _, line in fenceless_lines(text):
        if HEADING.match(line):
            title = line.lstrip("#").strip().lower()
            found.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return found


def documented_options(text):
    """The options of the '-h prints' section, or None without one."""
    options = None
    level = 0
    for line in text.splitlines():
        heading = HEADING.match(line)
        if heading:
            if options is not None and len(heading.group(1)) <= level:
                break
            if OPTIONS_HEADING in line.replace("`", ""):
                options = set()
                level = len(heading.group(1))
            continue
        if options is None or not line.lstrip().startswith("|"):
            continue
        first = INLINE_CODE.search(line)
        if first and first.group(2).startswith("-"):
            options.add(first.group(2).split()[0])
    return options


def printed_options(agent):
    """The bracketed options of the usage line of `agent -h`."""
    with tempfile.TemporaryDirectory(prefix="check-docs-") as platform_root:
        env = dict(os.environ, ZU_PLATFORM_ROOT=platform_root)
        result = subprocess.run([agent, "-h"], capture_output=True, text=True, timeout=60,
                                env=env, check=False)
    for line in result.stdout.splitlines():
        if line.startswith("usage:"):
            return set(re.findall(r"\[(-[^\]\s]+)\]", line))
    raise RuntimeError(f"{agent} -h printed no usage line (exit {result.returncode})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=DEFAULT_ROOT)
    parser.add_argument("--agent", help="the update_agent program whose -h is compared")
    args = parser.parse_args()
    root = os.path.abspath(args.root)

    files = ["README.md"]
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        files += sorted("docs/" + n for n in os.listdir(docs) if n.endswith(".md"))
    names = repository_names(root)
    problems = []
    texts = {}
    for relative in files:
        if not os.path.isfile(os.path.join(root, relative)):
            problems.append(f"{relative}: missing")
            continue
        texts[relative] = check_file(root, relative, names, problems)

    if args.agent:
        agent_doc = "docs/agent.md"
        documented = documented_options(texts.get(agent_doc, ""))
        if documented is None:
            problems.append(f"{agent_doc}: no section headed \"{OPTIONS_HEADING}\"")
        else:
            printed = printed_options(args.agent)
            for option in sorted(printed - documented):
                problems.append(f"{agent_doc}: option {option} printed by -h is not documented")
            for option in sorted(documented - printed):
                problems.append(f"{agent_doc}: option {option} is not printed by -h")

    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

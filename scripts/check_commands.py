#!/usr/bin/env python3
"""Fails when a shell script calls a command that a bare Debian lacks: one
that is neither in Debian's essential set (read from this machine's dpkg)
nor in a table of the scripts' install steps (FENWAREL_..._COMMANDS, a
command and its package a line, and FENWAREL_CHECKED_COMMANDS).

    check_commands.py SCRIPT...
"""
import argparse
import re
import subprocess
import sys

# Words after which the next word is a command again.
PREFIXES = {"if", "then", "else", "elif", "while", "until", "do", "!", "time", "exec", "as_root"}
# Commands that run a command after their options and this many arguments.
WRAPPERS = {"env": 0, "nice": 0, "xargs": 0, "sudo": 0, "command": 0, "chroot": 1, "timeout": 1}
VALUED = {"-u", "-n", "-P", "-I", "-s", "-k"}  # options of theirs that take a value
BOUNDARY = re.compile(r"\$\(|`|\|\||&&|[|;&(){}]")
ASSIGNMENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=")
WORD = re.compile(r"^[A-Za-z_][A-Za-z0-9_.+-]*$")


def essential_commands():
    listing = subprocess.run(["dpkg-query", "-W", "-f", "${Essential} ${Package}\n"],
                             capture_output=True, text=True, check=True).stdout
    packages = [line.split()[1] for line in listing.splitlines() if line.startswith("yes ")]
    files = subprocess.run(["dpkg-query", "-L", *packages], capture_output=True, text=True,
                           check=True).stdout
    return {path.rsplit("/", 1)[1] for path in files.splitlines() if re.search(r"/s?bin/[^/]+$", path)}


def bash_words():
    words = subprocess.run(["bash", "-c", "compgen -b; compgen -k"], capture_output=True, text=True,
                           check=True).stdout
    return set(words.split())


def code_only(text):
    """TEXT with everything blanked that does not run: comments, quoted text
    (except command substitutions in double quotes), expansions ${...},
    arithmetic ((...)), here-documents and case patterns. Lines stay."""
    out = []
    modes = ["code"]  # a stack: code, or text in double quotes
    i = 0
    heredoc = None
    while i < len(text):
        c = text[i]
        rest = text[i:]
        if c == "\n":
            out.append(c)
            i += 1
            if heredoc:
                # Up to the end of the closing word's line, which is no command either.
                end = text.find("\n" + heredoc + "\n", i - 1)
                end = len(text) if end < 0 else end + 1 + len(heredoc)
                out.append("\n" * text.count("\n", i, end))
                i, heredoc = end, None
            continue
        if c == "\\":
            out.append("  " if rest[1:2] != "\n" else " \n")
            i += 2
            continue
        if modes[-1] == "text":
            if c == '"':
                modes.pop()
                out.append(" ")
                i += 1
            elif rest.startswith("$(("):
                out.append("   ")
                i += 3
            elif rest.startswith("$("):
                modes.append("code")
                out.append(" (")
                i += 2
            else:
                out.append(" ")
                i += 1
            continue
        if c == "'":
            end = text.index("'", i + 1)
            out.append(re.sub(r"[^\n]", " ", text[i:end + 1]))
            i = end + 1
        elif c == '"':
            modes.append("text")
            out.append("$")  # a word, but no command's name
            i += 1
        elif rest.startswith("=("):  # an array's elements
            end, quote = i + 2, None
            while quote or text[end] != ")":
                if text[end] in "'\"" and quote in (None, text[end]):
                    quote = None if quote else text[end]
                end += 1
            out.append("=" + re.sub(r"[^\n]", " ", text[i + 1:end + 1]))
            i = end + 1
        elif c == "#" and (i == 0 or text[i - 1] in " \t\n;"):
            end = text.find("\n", i)
            end = len(text) if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif rest.startswith("${") or rest.startswith("$((") or rest.startswith("(("):
            depth, j = 0, i
            while j < len(text):
                depth += text[j] in "({"
                depth -= text[j] in ")}"
                j += 1
                if depth == 0 and j > i + 1:
                    break
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif rest.startswith("<<<"):
            out.append("<<<")
            i += 3
        elif rest.startswith("<<"):
            match = re.match(r"<<-?\s*['\"]?(\w+)['\"]?", rest)
            heredoc = match.group(1)
            out.append(" " * match.end())
            i += match.end()
        elif c == ")" and len(modes) > 1:
            modes.pop()
            out.append(")")
            i += 1
        elif rest.startswith("$("):
            modes.append("code")
            out.append(" (")
            i += 2
        elif c == "(":
            modes.append("code")
            out.append(c)
            i += 1
        else:
            out.append(c)
            i += 1
    lines = "".join(out).splitlines()
    # A case pattern: words before a ")" that opened nothing.
    return [re.sub(r"^\s*[\w*.|\s-]+\)", " ", line) for line in lines]


def commands(line):
    """The words of LINE that stand where a command stands."""
    found = []
    for part in BOUNDARY.split(line):
        words = part.split()
        index = 0
        while index < len(words):
            word = words[index]
            if ASSIGNMENT.match(word) or word in PREFIXES:
                index += 1
                continue
            if word == "for" or word == "case" or word == "in" or word == "function":
                break
            if not WORD.match(word):
                break
            found.append(word)
            if word not in WRAPPERS:
                break
            index += 1  # the wrapper's options and arguments, then its command
            while index < len(words) and (words[index - 1] in VALUED or words[index].startswith("-") or
                                          ASSIGNMENT.match(words[index])):
                index += 1
            index += WRAPPERS[word]
    return found


def main(scripts):
    texts = {path: open(path, encoding="utf-8").read() for path in scripts}
    # apt-get installs everything else: it comes with every Debian, if not
    # as an essential package.
    known = essential_commands() | bash_words() | {"apt-get"}
    for text in texts.values():
        known |= set(re.findall(r"^\s*(?:function\s+)?([\w-]+)\s*\(\)", text, re.M))
        # A table of a command and its package a line, or a line of commands.
        for table in re.findall(r'^FENWAREL_[A-Z_]*COMMANDS="([^"]*)"', text, re.M):
            lines = [line.split() for line in table.strip().splitlines()]
            known |= set(lines[0]) if len(lines) == 1 else {line[0] for line in lines if line}
    missing = 0
    for path, text in texts.items():
        for number, line in enumerate(code_only(text), 1):
            for command in commands(line):
                if command not in known:
                    print(f"{path}:{number}: {command} is neither installed by the scripts nor in "
                          "Debian's essential set: add it to FENWAREL_COMMANDS in scripts/common.sh")
                    missing += 1
    return 1 if missing else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scripts", nargs="+", metavar="SCRIPT")
    sys.exit(main(parser.parse_args().scripts))

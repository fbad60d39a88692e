#!/usr/bin/env python3
"""The mechanical half of scripts/apply-style.sh.

  style_apply.py names BUILD_DIR [BUILD_DIR...] [--dry-run] [--fixes DIR]
      Runs clang-tidy's identifier-naming check over the project's sources in each build's
      compile database, takes the exact places it reports for every misnamed identifier (its
      declaration and every use the compiler sees), and renames them:
        constants            kRetryPauseMs -> RETRY_PAUSE_MS, epoch -> EPOCH
        private/protected    peer -> m_Peer
        classes              UniqueFd -> CUniqueFd, and a file named after the class with it
      Then the old names of k-constants left in comments, documents and sources no build
      compiled are replaced as words. Anything else the check reports (a method, a function,
      a name it cannot fix) is listed and the run fails: those need a person. --fixes DIR
      keeps clang-tidy's findings in DIR, and reads them from there when DIR is not empty
      (a --dry-run first, then the real run, without a second clang-tidy pass).
  style_apply.py test-files [--dry-run]
      Renames tests/**/test_NAME.cpp to NameTest.cpp and every reference to it.

Every rename is printed. A new name that already exists in the tree, or two old names that
would become one, stops the run before anything is written.
"""

import concurrent.futures
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# New names chosen by hand where the rule's result would read badly, clash with a system name
# (DIR is a type of <dirent.h>) or hide a product constant a test deliberately does not use
# (the test's own 92 beside the image header's FILE_HEADER_SIZE).
OVERRIDES = {
    "dir": "SAMPLE_DIR",
    "path": "IMAGE_PATH",
    "s_Set": "SHARED_SET",
    "kFileHeaderSize": "FILE_HEADER_BYTES",
    "kCheck": "CHECK_WAIT",
}

# New names that exist already elsewhere in the tree, each checked by hand: the other one
# lives in another class or namespace and no code sees both unqualified (a clash in one scope
# would not compile). Any other existing name stops the run for a person to look at.
REVIEWED = {
    ("kColourFailure", "COLOUR_FAILURE"),       # kivtest:: in tests; CUpgradeEngine:: in the product
    ("kColourSuccess", "COLOUR_SUCCESS"),
    ("kControlPacketSize", "CONTROL_PACKET_SIZE"),  # CTcpSession:: / CUpgradeEngine::
    ("kFixedSignature", "FIXED_SIGNATURE"),     # VersionInfoWriter.cpp's own / CModuleVersion::
    ("kReceiveChunk", "RECEIVE_CHUNK"),         # CRouterSim:: / CTelnetClient::
    ("kRecordSize", "RECORD_SIZE"),             # UdpHdlcTest.cpp's own / WindowPlacement::
    ("kSize", "SIZE"),                          # UdpRecord:: / ControlPacket::
    ("kTextOffset", "TEXT_OFFSET"),             # UdpRecord:: and UdpHdlcTest.cpp / ControlPacket::
    ("adapter", "m_Adapter"),                   # test fixtures' members; other classes' members
    ("diag", "m_Diag"),
    ("log", "m_Log"),
    ("peer", "m_Peer"),
    ("queue", "m_Queue"),
    ("texts", "TEXTS"),                         # function-local statics of SoakCheck.cpp and CDiagCaller.cpp
}

CONSTANT_KINDS = {
    "constexpr variable", "class constant", "global constant", "global constant pointer",
    "static constant", "constant", "constant member",
}
MEMBER_KINDS = {"private member", "protected member"}
NEEDS_A_PERSON = 3  # exit status when everything else was renamed but some names were not
TEXT_SUFFIXES = (".cpp", ".h", ".hpp", ".cc", ".in", ".md", ".txt", ".cmake", ".sh", ".py")


def git(*args):
    return subprocess.run(["git", *args], cwd=ROOT, check=True, capture_output=True, text=True).stdout


def tracked(*patterns):
    return [p for p in git("ls-files", "--", *patterns).splitlines() if os.path.isfile(os.path.join(ROOT, p))]


def first_tool(*names):
    for name in names:
        for d in os.environ.get("PATH", "").split(os.pathsep):
            if os.access(os.path.join(d, name), os.X_OK):
                return os.path.join(d, name)
    sys.exit("style_apply.py: none of %s is installed" % ", ".join(names))


def upper_snake(name):
    if name in OVERRIDES:
        return OVERRIDES[name]
    n = name
    if re.match(r"^k[A-Z0-9]", n):
        n = n[1:]
    elif re.match(r"^[sgm]_", n):
        n = n[2:]
    n = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", n)
    n = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", n)
    return n.upper()


def new_name(kind, name):
    if kind in CONSTANT_KINDS:
        return upper_snake(name)
    if kind in MEMBER_KINDS:
        return "m_" + name[0].upper() + name[1:]
    if kind == "class":
        return "C" + name
    if kind == "abstract class":
        return "I" + name
    return None


# --- clang-tidy runs -----------------------------------------------------------------------

def project_pattern():
    folders = sorted({p.split("/")[0] for p in tracked("*.cpp", "*.h") if "/" in p})
    return "^%s/(%s)/" % (re.escape(ROOT), "|".join(folders)), folders


def sources_of(build_dir, folders):
    import json
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        entries = json.load(f)
    prefixes = tuple(os.path.join(ROOT, d) + "/" for d in folders)
    files = []
    for e in entries:
        path = os.path.normpath(os.path.join(e["directory"], e["file"]))
        if path.startswith(prefixes) and path not in files:
            files.append(path)
    return files


def parse_fixes(path):
    """Reads a clang-tidy --export-fixes file: [(message, [(file, offset, length)])]."""
    diagnostics = []
    current = None
    replacement = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            m = re.match(r"^\s+Message:\s+'(.*)'$", line)
            if m:
                current = (m.group(1).replace("''", "'"), [])
                diagnostics.append(current)
                continue
            m = re.match(r"^\s+- FilePath:\s+'(.*)'$", line)
            if m and current is not None:
                replacement = [m.group(1).replace("''", "'"), None, None]
                continue
            m = re.match(r"^\s+Offset:\s+(\d+)$", line)
            if m and replacement is not None:
                replacement[1] = int(m.group(1))
                continue
            m = re.match(r"^\s+Length:\s+(\d+)$", line)
            if m and replacement is not None:
                replacement[2] = int(m.group(1))
                current[1].append(tuple(replacement))
                replacement = None
    return diagnostics


def run_tidy(build_dirs, workdir):
    pattern, folders = project_pattern()
    tidy = first_tool("clang-tidy-14", "clang-tidy")
    jobs = []
    seen = set()  # a source two builds compile is read once, with the first build's flags
    for build_dir in build_dirs:
        for source in sources_of(build_dir, folders):
            if source in seen:
                continue
            seen.add(source)
            jobs.append((build_dir, source, os.path.join(workdir, "%d.yaml" % len(jobs))))

    def one(job):
        build_dir, source, out = job
        r = subprocess.run([tidy, "-p", build_dir, "--quiet", "--header-filter=" + pattern,
                            "--export-fixes=" + out, source], capture_output=True, text=True)
        errors = [l for l in r.stdout.splitlines() if ": error: " in l and "readability-identifier-naming" not in l]
        return out, errors

    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for out, errors in pool.map(one, jobs):
            if errors:
                sys.exit("style_apply.py: clang-tidy could not compile a source:\n" + "\n".join(errors[:20]))
            if os.path.exists(out):
                results.extend(parse_fixes(out))
    return results


# --- renames -------------------------------------------------------------------------------

def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


def write(path, data):
    with open(os.path.join(ROOT, path), "wb") as f:
        f.write(data)


CODE_NOISE = re.compile(rb'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)


def words_in_tree():
    """Every identifier written in code (comments and literals left out)."""
    words = set()
    for p in tracked("*.cpp", "*.h", "*.hpp", "*.cc"):
        code = CODE_NOISE.sub(b" ", read(p))
        words.update(re.findall(rb"[A-Za-z_][A-Za-z0-9_]*", code))
    return {w.decode() for w in words}


def names(build_dirs, dry_run, fixes_dir=None):
    import tempfile
    if fixes_dir and os.path.isdir(fixes_dir) and os.listdir(fixes_dir):
        # The fixes of an earlier run over the same tree (--fixes DIR): no second clang-tidy run.
        diagnostics = []
        for name in sorted(os.listdir(fixes_dir)):
            diagnostics.extend(parse_fixes(os.path.join(fixes_dir, name)))
    elif fixes_dir:
        os.makedirs(fixes_dir, exist_ok=True)
        diagnostics = run_tidy(build_dirs, fixes_dir)
    else:
        with tempfile.TemporaryDirectory() as workdir:
            diagnostics = run_tidy(build_dirs, workdir)

    rx = re.compile(r"^invalid case style for ([a-z ]+) '([^']+)'")
    renames = {}      # old name -> new name
    places = {}       # (file, offset, length) -> old name
    by_hand = set()
    for message, replacements in diagnostics:
        m = rx.match(message)
        if not m:
            by_hand.add(message)
            continue
        kind, old = m.groups()
        new = new_name(kind, old)
        if new is None or not replacements:
            by_hand.add("%s '%s'%s" % (kind, old, "" if replacements else " (no fix offered)"))
            continue
        if renames.setdefault(old, new) != new:
            sys.exit("style_apply.py: '%s' would get two new names: %s and %s" % (old, renames[old], new))
        for path, offset, length in replacements:
            places[(os.path.relpath(path, ROOT), offset, length)] = old

    existing = words_in_tree()
    problems = []
    targets = {}
    for old, new in sorted(renames.items()):
        if new in existing and (old, new) not in REVIEWED:
            problems.append("%s -> %s: %s is already a name in the tree" % (old, new, new))
        if new in targets:
            problems.append("%s and %s would both become %s" % (targets[new], old, new))
        targets[new] = old
    if problems:
        sys.exit("style_apply.py: nothing renamed:\n  " + "\n  ".join(problems))

    for old, new in sorted(renames.items(), key=lambda kv: kv[0].lower()):
        print("rename %-34s -> %s" % (old, new))
    print("%d identifiers, %d places" % (len(renames), len(places)))
    if by_hand:
        print("needs a person:\n  " + "\n  ".join(sorted(by_hand)))
    if dry_run:
        return NEEDS_A_PERSON if by_hand else 0

    apply_places(places, renames)
    # Old names distinctive enough to replace as words: k-constants and class names of two
    # or more capitals (not a word such as "Use").
    replace_words_left({o: n for o, n in renames.items()
                        if re.match(r"^k[A-Z0-9]", o) or (n in ("C" + o, "I" + o) and len(re.findall("[A-Z]", o)) > 1)})
    rename_class_files({o: n for o, n in renames.items() if n in ("C" + o, "I" + o)})
    return NEEDS_A_PERSON if by_hand else 0


def apply_places(places, renames):
    """Writes every rename, after checking that each place holds the old name. A place that
    holds something else is skipped and named: clang-tidy 14 reports the `this` captured by a
    lambda in a member function as a use of the class."""
    per_file = {}
    for (path, offset, length), old in places.items():
        per_file.setdefault(path, []).append((offset, length, old))
    edited = {}
    for path, edits in sorted(per_file.items()):
        data = bytearray(read(path))
        for offset, length, old in sorted(edits, reverse=True):
            found = bytes(data[offset:offset + length])
            if found != old.encode():
                print("skip   %s:%d holds '%s', not '%s'" % (path, offset, found.decode(errors="replace"), old))
                continue
            data[offset:offset + length] = renames[old].encode()
        edited[path] = bytes(data)
    for path, data in edited.items():
        write(path, data)


def text_files():
    # This script's own tables name old spellings on purpose.
    own = os.path.relpath(os.path.abspath(__file__), ROOT)
    return [p for p in tracked() if p != own and (p.endswith(TEXT_SUFFIXES) or os.path.basename(p) == "CMakeLists.txt")]


def replace_words_left(renames):
    """Old names still written somewhere: comments, documents, code no build compiled."""
    if not renames:
        return
    rx = re.compile(r"(?<![A-Za-z0-9_])(?<!benchmark::)(?<!std::)(%s)(?![A-Za-z0-9_])"
                    % "|".join(sorted(map(re.escape, renames), key=len, reverse=True)))
    for path in text_files():
        text = read(path).decode("utf-8", errors="surrogateescape")
        hits = []

        def swap(m):
            hits.append(m.group(1))
            return renames[m.group(1)]

        changed = rx.sub(swap, text)
        if hits:
            print("words  %s: %s" % (path, ", ".join(sorted(set(hits)))))
            write(path, changed.encode("utf-8", errors="surrogateescape"))


def replace_file_names(mapping):
    """Replaces references to renamed files (OldName.h, test_x.cpp) in every text file."""
    rx = re.compile(r"(?<![A-Za-z0-9_])(%s)(?![A-Za-z0-9_])" % "|".join(map(re.escape, mapping)))
    for path in text_files():
        text = read(path).decode("utf-8", errors="surrogateescape")
        changed = rx.sub(lambda m: mapping[m.group(1)], text)
        if changed != text:
            print("refs   %s" % path)
            write(path, changed.encode("utf-8", errors="surrogateescape"))


def move(moves):
    names_map = {}
    for old, new in moves:
        if os.path.exists(os.path.join(ROOT, new)):
            sys.exit("style_apply.py: %s exists already" % new)
    for old, new in moves:
        print("move   %s -> %s" % (old, new))
        git("mv", old, new)
        names_map[os.path.basename(old)] = os.path.basename(new)
    if names_map:
        replace_file_names(names_map)


def rename_class_files(class_renames):
    moves = []
    for path in tracked("*.h", "*.cpp"):
        stem, ext = os.path.splitext(os.path.basename(path))
        if stem in class_renames:
            moves.append((path, os.path.join(os.path.dirname(path), class_renames[stem] + ext)))
    move(moves)


def test_files(dry_run):
    moves = []
    for path in tracked("tests/*.cpp"):
        base = os.path.basename(path)
        m = re.match(r"^test_([a-z0-9_]+)\.cpp$", base)
        if m:
            camel = "".join(part[:1].upper() + part[1:] for part in m.group(1).split("_"))
            moves.append((path, os.path.join(os.path.dirname(path), camel + "Test.cpp")))
    for old, new in moves:
        print("test file %s -> %s" % (old, new))
    if not dry_run:
        move(moves)
    return 0


def main(argv):
    dry_run = "--dry-run" in argv
    args = [a for a in argv if a != "--dry-run"]
    fixes_dir = None
    if "--fixes" in args:
        i = args.index("--fixes")
        fixes_dir = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    if len(args) >= 2 and args[0] == "names":
        return names([os.path.abspath(d) for d in args[1:]], dry_run, fixes_dir)
    if args == ["test-files"]:
        return test_files(dry_run)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Turns the public suffix list into the table compiled into the player.

    GeneratePublicSuffixTable.py LIST.dat OUTPUT.inc

Both sections of the list are taken: the registries' own (ICANN) and the
hosting providers' (PRIVATE), since a school's pages on a shared hosting
domain are no more one site with their neighbours than two companies under
com.sa are. Names with non-ASCII labels are written twice, in UTF-8 and in
their punycode (xn--) form, so a host matches whichever form it arrives in.

The output holds two arrays. kSuffixText is every name once, sorted by bytes
and run together. kSuffixEntries has one word per name, (offset << 3) | kinds,
where kinds has bit 0 for a plain rule ("com.sa"), bit 1 for a wildcard rule
("*.ck" is stored under "ck") and bit 2 for an exception ("!www.ck" under
"www.ck"); a last word holds only the end offset. Character arrays rather than
string literals: one literal of this size is more than some compilers take.
"""
import sys

PLAIN, WILDCARD, EXCEPTION = 1, 2, 4


def punycode(name):
    labels = []
    for label in name.split("."):
        if label.isascii():
            labels.append(label)
        else:
            labels.append("xn--" + label.encode("punycode").decode("ascii"))
    return ".".join(labels)


def read_rules(path):
    rules = {}
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            # A rule is the first word of its line; the rest may be a comment.
            words = line.split()
            if not words or words[0].startswith("//"):
                continue
            rule = words[0].lower()
            kind = PLAIN
            if rule.startswith("!"):
                kind, rule = EXCEPTION, rule[1:]
            elif rule.startswith("*."):
                kind, rule = WILDCARD, rule[2:]
            if "*" in rule or "!" in rule or not rule:
                raise SystemExit(f"{path}: a rule of a form the player does not know: {words[0]}")
            for name in {rule, punycode(rule)}:
                rules[name] = rules.get(name, 0) | kind
    if len(rules) < 1000:
        raise SystemExit(f"{path}: only {len(rules)} rules; not the public suffix list?")
    return rules


def write_table(rules, path):
    names = sorted(rules, key=lambda name: name.encode("utf-8"))
    text = bytearray()
    entries = []
    for name in names:
        entries.append((len(text) << 3) | rules[name])
        text += name.encode("utf-8")
    entries.append(len(text) << 3)
    if len(text) >= 1 << 29:
        raise SystemExit("the suffix text no longer fits the entry words")

    def rows(values, per_line):
        for start in range(0, len(values), per_line):
            yield "  " + ",".join(str(v) for v in values[start:start + per_line]) + ","

    lines = [
        "// Generated from the public suffix list by cmake/GeneratePublicSuffixTable.py; do not edit.",
        f"// {len(names)} names.",
        f"constexpr std::size_t kSuffixCount = {len(names)};",
        f"constexpr unsigned char kSuffixText[{len(text)}] = {{",
        *rows(list(text), 40),
        "};",
        f"constexpr std::uint32_t kSuffixEntries[{len(entries)}] = {{",
        *rows(entries, 16),
        "};",
    ]
    with open(path, "w", encoding="ascii", newline="\n") as handle:
        handle.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    write_table(read_rules(sys.argv[1]), sys.argv[2])


if __name__ == "__main__":
    main()

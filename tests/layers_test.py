"""The libraries' graph as the README's layout section lists it: each
library's CMake DEPENDS is its list, its files include only from the
libraries on it, and the list has no cycle."""
import os
import re
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
ENTRY = re.compile(r"^- `(\w+)`: (.*)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"(\w+)/', re.MULTILINE)


def listed_graph():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    section = text[text.index("## Layout"):]
    section = section[:section.index("\n## ", 1)]
    graph = {}
    for line in section.splitlines():
        match = ENTRY.match(line)
        if match:
            graph[match.group(1)] = set(re.findall(r"`(\w+)`", match.group(2)))
    return graph


def cmake_depends(library):
    with open(os.path.join(ROOT, library, "CMakeLists.txt"), encoding="utf-8") as cmake:
        text = cmake.read()
    call = re.search(r"miravell_library\(\s*" + library + r"\b(.*?)\)", text, re.DOTALL).group(1)
    depends = re.search(r"\bDEPENDS\b(.*?)(?:\bSYSTEM_LIBS\b|$)", call, re.DOTALL)
    return set(depends.group(1).split()) if depends else set()


class LayersTest(unittest.TestCase):
    def setUp(self):
        self.graph = listed_graph()
        self.assertIn("common", self.graph, "the README lists no libraries")

    def test_the_listed_graph_has_no_cycle(self):
        done, path = set(), []

        def visit(library):
            self.assertNotIn(library, path, f"cycle: {' -> '.join(path + [library])}")
            if library in done:
                return
            path.append(library)
            for used in self.graph[library]:
                self.assertIn(used, self.graph, f"{library} uses {used}, which is not listed")
                visit(used)
            path.pop()
            done.add(library)

        for library in self.graph:
            visit(library)

    def test_each_library_depends_on_and_includes_from_its_list_only(self):
        libraries = set(self.graph)
        for library, uses in self.graph.items():
            with self.subTest(library):
                self.assertEqual(cmake_depends(library) & libraries, uses, "CMake DEPENDS differs from the list")
                for folder, _, files in os.walk(os.path.join(ROOT, library)):
                    for name in files:
                        if not name.endswith((".cpp", ".h", ".inc")):
                            continue
                        path = os.path.join(folder, name)
                        with open(path, encoding="utf-8") as source:
                            included = set(INCLUDE.findall(source.read())) & libraries
                        stray = included - uses - {library}
                        self.assertFalse(stray, f"{os.path.relpath(path, ROOT)} includes from {sorted(stray)}")


if __name__ == "__main__":
    unittest.main()

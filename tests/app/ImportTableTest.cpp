// Miravell.exe's own import table. A DLL imported the ordinary way is loaded
// before the entry point runs, and unless Windows knows it (the KnownDLLs
// list) it is looked for in the executable's folder first: a file of that name
// beside the player would run elevated. Every other DLL must be delay-loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

// Windows 10's KnownDLLs that a program like ours may import (ntdll is mapped
// before any of them). Kept short on purpose: a DLL missing here is only
// delay-loaded without need, a DLL wrongly here would hide a hole.
const std::set<std::string> kKnownDlls = {"advapi32.dll", "combase.dll", "comdlg32.dll", "gdi32.dll",    "imm32.dll",
                                          "kernel32.dll", "msvcrt.dll",  "ole32.dll",    "oleaut32.dll", "rpcrt4.dll",
                                          "sechost.dll",  "shcore.dll",  "shell32.dll",  "shlwapi.dll",  "user32.dll",
                                          "ws2_32.dll",   "ntdll.dll"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The file's bytes and a mapping from virtual addresses to file offsets.
class PeFile {
 public:
  explicit PeFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The whole file as text.
  std::string Text() const { return std::string(bytes_.begin(), bytes_.end()); }

  // The names of the DLLs of the import table.
  std::vector<std::string> Imports() const {
    const auto* nt = Nt();
    if (nt == nullptr) return {};
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (DWORD at = dir.VirtualAddress; at != 0; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const std::size_t offset = Offset(at);
      if (offset == 0 || offset + sizeof(IMAGE_IMPORT_DESCRIPTOR) > bytes_.size()) break;
      IMAGE_IMPORT_DESCRIPTOR entry;
      std::memcpy(&entry, bytes_.data() + offset, sizeof(entry));
      const std::size_t name = entry.Name == 0 ? 0 : Offset(entry.Name);
      if (name == 0) break;
      const char* text = reinterpret_cast<const char*>(bytes_.data() + name);
      names.emplace_back(text, strnlen(text, bytes_.size() - name));
    }
    return names;
  }

 private:
  const IMAGE_NT_HEADERS64* Nt() const {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > bytes_.size()) {
      return nullptr;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes_.data() + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE && nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? nt
                                                                                                            : nullptr;
  }

  std::size_t Offset(DWORD rva) const {
    const auto* nt = Nt();
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
        return rva - section->VirtualAddress + section->PointerToRawData;
      }
    }
    return 0;
  }

  std::vector<std::uint8_t> bytes_;
};

TEST(ImportTable, ImportsOnlyKnownDllsDirectly) {
  const PeFile exe(testing_support::BuildProgram(L"Miravell.exe"));
  const auto direct = exe.Imports();
  ASSERT_FALSE(direct.empty()) << "the import table could not be read";
  for (const std::string& dll : direct) {
    EXPECT_TRUE(kKnownDlls.count(Lower(dll)) != 0) << dll << " is imported directly but is not a KnownDLL";
  }
  // The network and crypto DLLs the player cannot run without are still
  // named in the file (GNU ld leaves the delay-import directory empty, so
  // look for the names the delay-load descriptors point at), only not in the
  // import table: the delay-load really took the place of the import.
  const std::string text = Lower(exe.Text());
  for (const char* dll : {"winhttp.dll", "bcrypt.dll", "crypt32.dll"}) {
    EXPECT_NE(text.find(dll), std::string::npos) << dll << " is not used at all";
  }
}

}  // namespace

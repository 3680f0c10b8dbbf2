// Test program: changes one byte of another process's code, as a tool that
// patches a running program does.
//   code_patcher PID OFFSET
// OFFSET counts from the start of the first executable section of the
// process's main program. Prints what it changed; exits 0 when it wrote.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/Handles.h"

namespace {

// The address of the first executable section of the process's main module.
BYTE* FirstCodeSection(HANDLE process, DWORD pid) {
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
  MODULEENTRY32W module{};
  module.dwSize = sizeof(module);
  if (!snapshot || !::Module32FirstW(snapshot.get(), &module)) return nullptr;
  BYTE headers[4096] = {};
  if (!::ReadProcessMemory(process, module.modBaseAddr, headers, sizeof(headers), nullptr)) return nullptr;
  IMAGE_DOS_HEADER dos{};
  std::memcpy(&dos, headers, sizeof(dos));
  if (dos.e_lfanew <= 0 || dos.e_lfanew > 2048) return nullptr;
  IMAGE_NT_HEADERS64 nt{};
  std::memcpy(&nt, headers + dos.e_lfanew, sizeof(nt));
  const std::size_t table = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                            nt.FileHeader.SizeOfOptionalHeader;
  for (unsigned i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section{};
    if (table + (i + 1) * sizeof(section) > sizeof(headers)) return nullptr;
    std::memcpy(&section, headers + table + i * sizeof(section), sizeof(section));
    if ((section.Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0) return module.modBaseAddr + section.VirtualAddress;
  }
  return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: code_patcher PID OFFSET\n");
    return 2;
  }
  const auto pid = static_cast<DWORD>(_wtoi(argv[1]));
  const auto offset = static_cast<std::size_t>(_wtoi(argv[2]));
  const UniqueHandle process(
      ::OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE, pid));
  BYTE* code = process ? FirstCodeSection(process.get(), pid) : nullptr;
  if (code == nullptr) {
    std::fprintf(stderr, "code_patcher: cannot find the code of process %lu (error %lu)\n", pid, ::GetLastError());
    return 1;
  }
  BYTE* target = code + offset;
  DWORD protection = 0;
  BYTE before = 0;
  if (!::VirtualProtectEx(process.get(), target, 1, PAGE_EXECUTE_READWRITE, &protection) ||
      !::ReadProcessMemory(process.get(), target, &before, 1, nullptr)) {
    std::fprintf(stderr, "code_patcher: cannot open the code for writing (error %lu)\n", ::GetLastError());
    return 1;
  }
  const BYTE after = static_cast<BYTE>(before ^ 0x01);
  const bool written = ::WriteProcessMemory(process.get(), target, &after, 1, nullptr) != FALSE;
  DWORD ignored = 0;
  ::VirtualProtectEx(process.get(), target, 1, protection, &ignored);
  ::FlushInstructionCache(process.get(), target, 1);
  if (!written) {
    std::fprintf(stderr, "code_patcher: cannot write (error %lu)\n", ::GetLastError());
    return 1;
  }
  std::printf("patched %p: %02X -> %02X\n", static_cast<void*>(target), before, after);
  return 0;
}

// The integrity checks' pieces in a process nobody debugs: the debugger
// signals, the code laid out from a file against the code in memory, and the
// verdict on the player's own signature.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <wincrypt.h>

#include <cstring>

#include "app/CodeImage.h"
#include "app/DebuggerCheck.h"
#include "app/IntegrityChecks.h"
#include "common/Handles.h"
#include "tests/support/TestSupport.h"

namespace {

using integrity::CodeBaseline;
using integrity::SignatureVerdict;

TEST(DebuggerCheck, AnUndebuggedProcessShowsNoSignalAndChecksLeakNoHandle) {
  const DebugSignals signals = ReadDebugSignals();
  EXPECT_FALSE(DebuggerAttached(signals));
  EXPECT_EQ(signals.debugPort, 0u);
  DWORD before = 0;
  DWORD after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  for (int i = 0; i < 200; ++i) (void)ReadDebugSignals();
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  EXPECT_LE(after, before + 2) << "the guard reads these every few seconds";
}

UniqueHandle OpenForReading(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The player's bytes and their headers.
struct PlayerFile {
  std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(testing_support::BuildProgram(L"Miravell.exe"));
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS64 nt{};
  PlayerFile() {
    if (bytes.size() < 4096) return;
    std::memcpy(&dos, bytes.data(), sizeof(dos));
    std::memcpy(&nt, bytes.data() + dos.e_lfanew, sizeof(nt));
  }
};

// A copy of the player's exe marked as a DLL, mapped beside this test
// program, which sits at the same preferred base: the loader relocates it
// (Wine relocates an image loaded as a library only when it is a DLL;
// Windows relocates any), so the file's code must be relocated exactly the
// same way to match. The mark is in the headers, outside the code compared.
TEST(CodeImage, AFileLaidOutForTheModulesBaseMatchesItsCodeUntilOneByteChanges) {
  PlayerFile file;
  std::vector<std::uint8_t>& bytes = file.bytes;
  ASSERT_GE(bytes.size(), 4096u);
  const std::size_t characteristics = static_cast<std::size_t>(file.dos.e_lfanew) +
                                      offsetof(IMAGE_NT_HEADERS64, FileHeader) +
                                      offsetof(IMAGE_FILE_HEADER, Characteristics);
  WORD flags = 0;
  std::memcpy(&flags, bytes.data() + characteristics, sizeof(flags));
  flags |= IMAGE_FILE_DLL;
  std::memcpy(bytes.data() + characteristics, &flags, sizeof(flags));
  wchar_t folder[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring player =
      std::wstring(folder) + L"miravell-relocated-" + std::to_wstring(::GetCurrentProcessId()) + L".dll";
  {
    const UniqueHandle out(::CreateFileW(player.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(out && ::WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  const ScopeExit removeCopy([&] { ::DeleteFileW(player.c_str()); });
  const UniqueModule loaded(::LoadLibraryExW(player.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(loaded) << ::GetLastError();
  ASSERT_NE(reinterpret_cast<std::uint64_t>(loaded.get()), file.nt.OptionalHeader.ImageBase)
      << "the player was not relocated: this case would not test the relocations";

  struct Case {
    const char* name;
    std::wstring file;
    HMODULE module;
  };
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const Case cases[] = {
      {"this program, where it was loaded", self, ::GetModuleHandleW(nullptr)},
      {"the player, relocated", player, loaded.get()},
  };
  std::optional<CodeBaseline> baseline;  // the last case's: the player's
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const UniqueHandle opened = OpenForReading(c.file);
    ASSERT_TRUE(opened);
    baseline = integrity::ReadCodeBaseline(opened.get(), c.module);
    ASSERT_TRUE(baseline);
    ASSERT_FALSE(baseline->ranges.empty());
    EXPECT_EQ(integrity::LoadedCodeDigest(c.module, baseline->ranges), baseline->digest);
  }

  // One byte of the relocated player's code changed, then put back.
  auto* byte = reinterpret_cast<std::uint8_t*>(loaded.get()) + baseline->ranges.front().rva + 1;
  DWORD protection = 0;
  ASSERT_TRUE(::VirtualProtect(byte, 1, PAGE_EXECUTE_READWRITE, &protection));
  *byte ^= 0x01;
  EXPECT_NE(integrity::LoadedCodeDigest(loaded.get(), baseline->ranges), baseline->digest);
  *byte ^= 0x01;
  EXPECT_EQ(integrity::LoadedCodeDigest(loaded.get(), baseline->ranges), baseline->digest);
  ::VirtualProtect(byte, 1, protection, &protection);
}

// Files that are not what their headers claim are refused, never read past.
TEST(CodeImage, MalformedFilesAreRefusedWithoutReadingPastThem) {
  const PlayerFile file;
  const std::vector<std::uint8_t>& good = file.bytes;
  const IMAGE_DOS_HEADER& dos = file.dos;
  const IMAGE_NT_HEADERS64& nt = file.nt;
  ASSERT_GE(good.size(), 4096u);
  const std::uint64_t elsewhere = nt.OptionalHeader.ImageBase + 0x10000000;
  ASSERT_TRUE(integrity::LayOutImage(good, elsewhere));

  const auto ntField = [&](std::size_t offset) { return static_cast<std::size_t>(dos.e_lfanew) + offset; };
  // The relocation directory's first block, found through the laid-out headers.
  const IMAGE_DATA_DIRECTORY relocations = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  std::size_t relocationFile = 0;
  const std::size_t table = ntField(offsetof(IMAGE_NT_HEADERS64, OptionalHeader)) + nt.FileHeader.SizeOfOptionalHeader;
  for (unsigned i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section{};
    std::memcpy(&section, good.data() + table + i * sizeof(section), sizeof(section));
    if (relocations.VirtualAddress >= section.VirtualAddress &&
        relocations.VirtualAddress < section.VirtualAddress + section.SizeOfRawData) {
      relocationFile = section.PointerToRawData + (relocations.VirtualAddress - section.VirtualAddress);
    }
  }
  ASSERT_NE(relocationFile, 0u);

  struct Case {
    const char* name;
    std::size_t offset;
    std::uint32_t value;
    std::size_t keep;  // bytes of the file kept; 0 for all
  };
  const Case cases[] = {
      {"cut inside the headers", 0, 0, 200},
      {"cut inside the code", 0, 0, 0x2000},
      {"a new-header offset past the end", offsetof(IMAGE_DOS_HEADER, e_lfanew), 0x7FFFFFF0, 0},
      {"an image size of 4 GB",
       ntField(offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage)),
       0xFFFFF000, 0},
      {"a relocation block of size 0", relocationFile + 4, 0, 0},
      {"a relocation block longer than the directory", relocationFile + 4, 0x7FFFFFF0, 0},
      {"a relocation of an unknown type", relocationFile + 8, 0x0000F000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bad = good;
    if (c.keep != 0) bad.resize(c.keep);
    if (c.keep == 0) std::memcpy(bad.data() + c.offset, &c.value, sizeof(c.value));
    EXPECT_FALSE(integrity::LayOutImage(bad, elsewhere));
  }
}

TEST(OwnSignature, TheKeyDecidesChainTroublesOfAnOfflineMachineDoNot) {
  constexpr char kOurs[] = "T9x2hWiYiKKyBluYsJSN+A2XuDEXEq0q35aMEAZJMlo=";
  constexpr char kTheirs[] = "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
  struct Case {
    const char* name;
    LONG trust;
    DWORD chain;
    const char* signer;
    const char* expected;
    SignatureVerdict verdict;
  };
  const Case cases[] = {
      {"signed by our key", ERROR_SUCCESS, 0, kOurs, kOurs, SignatureVerdict::Intact},
      {"our key, a root this machine has not fetched", CERT_E_UNTRUSTEDROOT, CERT_TRUST_IS_UNTRUSTED_ROOT, kOurs, kOurs,
       SignatureVerdict::Intact},
      {"our key, an expired certificate", CERT_E_EXPIRED, CERT_TRUST_IS_NOT_TIME_VALID, kOurs, kOurs,
       SignatureVerdict::Intact},
      {"our key, revocation unknown offline", CRYPT_E_REVOCATION_OFFLINE, 0, kOurs, kOurs, SignatureVerdict::Intact},
      {"changed after signing", TRUST_E_BAD_DIGEST, 0, kOurs, kOurs, SignatureVerdict::Changed},
      {"no signature", TRUST_E_NOSIGNATURE, 0, "", kOurs, SignatureVerdict::Changed},
      {"no signer certificate", ERROR_SUCCESS, 0, "", kOurs, SignatureVerdict::Changed},
      {"a certificate not for code", CERT_E_WRONG_USAGE, 0, kOurs, kOurs, SignatureVerdict::Changed},
      {"another key, trusted", ERROR_SUCCESS, 0, kTheirs, kOurs, SignatureVerdict::OtherSigner},
      {"nothing expected accepts nobody", ERROR_SUCCESS, 0, kOurs, "", SignatureVerdict::OtherSigner},
      {"our certificate revoked", CERT_E_REVOKED, CERT_TRUST_IS_REVOKED, kOurs, kOurs, SignatureVerdict::Distrusted},
      {"our certificate revoked in the chain only", ERROR_SUCCESS, CERT_TRUST_IS_REVOKED, kOurs, kOurs,
       SignatureVerdict::Distrusted},
      {"our certificate explicitly distrusted", CERT_E_UNTRUSTEDROOT, CERT_TRUST_IS_EXPLICIT_DISTRUST, kOurs, kOurs,
       SignatureVerdict::Distrusted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(integrity::JudgeOwnSignature(c.trust, c.chain, c.signer, c.expected), c.verdict);
  }
}

}  // namespace

// The pin verdict on certificate chains, offline: each chain is built from
// the mock service's test certificates exactly as a server would present it.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "net/Pinning.h"

#ifndef MIRAVELL_CERTS_DIR
#error "MIRAVELL_CERTS_DIR must name the test certificate folder"
#endif

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string CertsDir() {
  // A Unix path; Wine shows it as drive Z:.
  std::string dir = MIRAVELL_CERTS_DIR;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir;
}

std::vector<BYTE> PemToDer(const std::string& pem) {
  DWORD size = 0;
  ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                         nullptr, nullptr);
  std::vector<BYTE> der(size);
  ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
  return der;
}

std::map<std::string, std::string> Pins() {
  std::map<std::string, std::string> pins;
  for (const char* file : {"/pins.txt", "/test-pins.txt"}) {
    std::istringstream lines(ReadText(CertsDir() + file));
    std::string name, pin;
    while (lines >> name >> pin) pins[name] = pin;
  }
  return pins;
}

// A presented chain: the leaf first, then what the server sends with it, all
// in one memory store as a TLS stack hands them over.
class Presented {
 public:
  explicit Presented(std::initializer_list<const char*> names) {
    store_ = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    for (const char* name : names) {
      const auto der = PemToDer(ReadText(CertsDir() + "/" + name + ".pem"));
      PCCERT_CONTEXT added = nullptr;
      ::CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_ALWAYS, leaf_ == nullptr ? &leaf_ : &added);
      if (added != nullptr) ::CertFreeCertificateContext(added);
    }
  }
  ~Presented() {
    if (leaf_ != nullptr) ::CertFreeCertificateContext(leaf_);
    ::CertCloseStore(store_, 0);
  }
  Presented(const Presented&) = delete;
  Presented& operator=(const Presented&) = delete;
  [[nodiscard]] PCCERT_CONTEXT leaf() const { return leaf_; }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT leaf_ = nullptr;
};

class ChainVerdict : public ::testing::Test {
 protected:
  bool Verdict(std::initializer_list<const char*> chain, const wchar_t* host,
               std::initializer_list<const char*> pinNames) {
    Presented presented(chain);
    EXPECT_NE(presented.leaf(), nullptr);
    std::vector<std::string> pins;
    for (const char* name : pinNames) pins.push_back(pins_.at(name));
    return ChainMatchesPins(presented.leaf(), host, pins);
  }
  std::map<std::string, std::string> pins_ = Pins();
};

TEST_F(ChainVerdict, PinsAreTheBase64Sha256OfTheKeys) {
  Presented presented({"service-leaf"});
  EXPECT_EQ(PinOfCertificate(presented.leaf()), pins_.at("service-leaf"));
}

TEST_F(ChainVerdict, GenuineChainsPass) {
  EXPECT_TRUE(Verdict({"service-leaf", "service-ca"}, L"desktop.miravell.localhost", {"service-ca"}));
  EXPECT_TRUE(Verdict({"service-leaf", "service-ca"}, L"miravell.localhost", {"service-ca"}));
  EXPECT_TRUE(Verdict({"selfsigned-leaf"}, L"anything.example",
                      {"selfsigned-leaf"}));  // a pinned leaf key vouches, whatever the host
  EXPECT_TRUE(
      Verdict({"expired-leaf", "service-ca"}, L"desktop.miravell.localhost", {"service-ca"}));  // dates tolerated
}

TEST_F(ChainVerdict, InterceptedChainsFail) {
  EXPECT_FALSE(
      Verdict({"attacker-leaf", "attacker-ca"}, L"desktop.miravell.localhost", {"service-ca", "service-leaf"}));
  // A genuine certificate of the pinned CA, but for another host.
  EXPECT_FALSE(Verdict({"other-host-leaf", "service-ca"}, L"desktop.miravell.localhost", {"service-ca"}));
  // The pinned CA's key vouches only for names the leaf carries.
  EXPECT_FALSE(Verdict({"service-leaf", "service-ca"}, L"victim.example", {"service-ca"}));
  // A CA with the pinned CA's name but another key.
  EXPECT_FALSE(Verdict({"forged-leaf", "forged-ca"}, L"desktop.miravell.localhost", {"service-ca"}));
  // The real pinned CA presented above a leaf it never signed.
  EXPECT_FALSE(Verdict({"forged-leaf2", "service-ca"}, L"desktop.miravell.localhost", {"service-ca"}));
}

}  // namespace

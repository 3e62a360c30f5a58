// The host's crypto and key store as the module relies on them: the RSA
// decoder on the secret key, the HMAC generator of the request signature,
// and the appliance's private key (on the Wycheproof vectors:
// crypto_vectors_contract_test.cpp).

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "host/crypto.h"
#include "host/host_manager.h"
#include "tests/support/program.h"
#include "tests/support/test_key.h"

namespace
{
// The appliance key of the RSA checks, as a PEM public key to encrypt to.
// With QUORVANE_TEST_HOST_PUBKEY naming the public half of a host's own key
// (a host that gets its key some other way), that one; otherwise a
// throwaway key pair whose private key file is named in QUORVANE_HOST_KEY,
// where our hosts' key stores look on first use.
struct Appliance
{
  std::string public_file;
  std::unique_ptr<test_support::Test_Key> key;
  std::unique_ptr<test_support::Test_Key> other;  // a wrong key
  std::unique_ptr<test_support::Temp_Dir> dir;
};

const Appliance& appliance()
{
  static Appliance a = []()
  {
    Appliance made;
    made.dir.reset(new test_support::Temp_Dir);
    if (const char* given = std::getenv("QUORVANE_TEST_HOST_PUBKEY"))
      made.public_file = given;
    else
    {
      made.key.reset(new test_support::Test_Key);
      setenv("QUORVANE_HOST_KEY", made.key->file().c_str(), 1);
      made.public_file = made.dir->file("appliance.pub");
      std::FILE* f = std::fopen(made.public_file.c_str(), "w");
      std::fputs(made.key->public_pem().c_str(), f);
      std::fclose(f);
    }
    made.other.reset(new test_support::Test_Key);
    std::FILE* f = std::fopen(made.dir->file("other.pub").c_str(), "w");
    std::fputs(made.other->public_pem().c_str(), f);
    std::fclose(f);
    return made;
  }();
  return a;
}

// The raw PKCS#1 v1.5 ciphertext of @a plain under the public key in
// @a public_file, made by the openssl command-line tool.
std::string openssl_encrypt(const std::string& public_file, const std::string& plain)
{
  test_support::Program_Result r =
      test_support::run_program({"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", public_file,
                                 "-pkeyopt", "rsa_padding_mode:pkcs1"},
                                plain);
  EXPECT_EQ(0, r.exit_code) << r.err;
  return r.out;
}

std::string base64(const std::string& bytes)
{
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(n));
}

std::string from_hex(const std::string& hex)
{
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Decodes @a base64_text with the appliance's key as the secret check does.
std::string decrypt(const std::string& base64_text, bool& ok)
{
  const secure_ustring& key = Host_Manager::instance()->rsa_prvkey();
  RSA_Decoder decoder(reinterpret_cast<const unsigned char*>(base64_text.data()), base64_text.size(),
                      key.c_str(), key.size(), true, 1);
  ok = static_cast<bool>(decoder);
  return ok ? std::string(reinterpret_cast<const char*>(decoder.get()), decoder.length()) : std::string();
}

// The secret check hands the decoder the request's Base64 text and the key
// store's key, then keeps exactly length() bytes: a secret with a zero byte
// must keep its tail, or the signature is made with another key.
TEST(Crypto, RsaDecoderGivesTheExactPlaintextWithTheKeyStoresKey)
{
  const Appliance& a = appliance();
  ASSERT_FALSE(Host_Manager::instance()->rsa_prvkey().empty()) << "the host has no appliance key";
  const std::string plain("plain\0text with a zero byte\0", 29);
  bool ok = false;
  EXPECT_EQ(plain, decrypt(base64(openssl_encrypt(a.public_file, plain)), ok));
  EXPECT_TRUE(ok);
  const std::string text = "a secret key of forty-two bytes, no zeros";
  EXPECT_EQ(text, decrypt(base64(openssl_encrypt(a.public_file, text)), ok));
  EXPECT_TRUE(ok);
}

// A key that does not decrypt must fail the login with -32602 before any
// request: the decoder must give no result, not a wrong plaintext.  PKCS#1
// v1.5 lets a random block through its padding check about once in 65536
// tries, so each case draws up to three fresh ciphertexts: one must be
// refused, and none may decode to the plaintext.
TEST(Crypto, RsaDecoderGivesNoResultForAWrongKeyOrATamperedText)
{
  const Appliance& a = appliance();
  const std::string plain = "the account's secret";
  auto mine = [&] { return openssl_encrypt(a.public_file, plain); };
  struct Row
  {
    const char* what;
    std::function<std::string()> text;
  } rows[] = {
      {"another key's ciphertext", [&] { return base64(openssl_encrypt(a.dir->file("other.pub"), plain)); }},
      {"one bit flipped",
       [&] {
         std::string raw = mine();
         raw[raw.size() / 2] = static_cast<char>(raw[raw.size() / 2] ^ 0x01);
         return base64(raw);
       }},
      // The last byte, not the first: a ciphertext that starts with a zero
      // byte (one in 256) is the same number without it.
      {"one byte short",
       [&] {
         std::string raw = mine();
         raw.pop_back();
         return base64(raw);
       }},
      {"not Base64", [&] { return "%%%%" + base64(mine()).substr(4); }},
  };
  for (const Row& row : rows)
  {
    bool refused = false;
    for (int i = 0; i < 3 && !refused; ++i)
    {
      bool ok = true;
      EXPECT_NE(plain, decrypt(row.text(), ok)) << row.what;
      refused = !ok;
    }
    EXPECT_TRUE(refused) << row.what;
  }
}

// The request signature is the HMAC-SHA256 of the text to sign under the
// secret key, as Base64 text, read through get() up to its NUL: the service
// checks exactly those characters.  Expected MACs: RFC 4231, section 4,
// test cases 1, 2, 3, 4, 6 and 7 (hex there, Base64 here).
TEST(Crypto, HmacGivesTheBase64OfRfc4231sMacsAsAText)
{
  struct Row
  {
    int test_case;
    std::string key;
    std::string data;
    const char* mac_hex;
  } rows[] = {
      {1, std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {2, "Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {3, std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {4, from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {6, std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {7, std::string(131, '\xaa'),
       "This is a test using a larger than block-size key and a larger than block-size data. The key needs "
       "to be "
       "hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const Row& row : rows)
  {
    HMAC_Generator gen(row.key.data(), row.key.size(), row.data.data(), row.data.size(), "sha256", true);
    ASSERT_TRUE(static_cast<bool>(gen)) << "RFC 4231 test case " << row.test_case;
    EXPECT_EQ(base64(from_hex(row.mac_hex)), std::string(reinterpret_cast<const char*>(gen.get())))
        << "RFC 4231 test case " << row.test_case;
  }
}

}  // namespace

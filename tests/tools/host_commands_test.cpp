// quorvane-host keygen and encrypt: the files and text they produce, as
// the development host's decoder and OpenSSL read them, and their refusals.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "host/crypto.h"
#include "tests/support/mock_service.h"

namespace
{
using test_support::Program_Result;
using test_support::run_program;

std::string read(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Program_Result host(std::vector<std::string> args, const std::string& input = "")
{
  args.insert(args.begin(), QUORVANE_HOST_PATH);
  return run_program(args, input);
}

mode_t mode_of(const std::string& path)
{
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::string decode(const std::string& text, const std::string& key)
{
  RSA_Decoder dec(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                  reinterpret_cast<const unsigned char*>(key.data()), key.size(), true, 1);
  return dec ? std::string(reinterpret_cast<const char*>(dec.get()), dec.length()) : "(no result)";
}

class Host_Commands_Test : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  test_support::Temp_Dir dir_;
};

TEST_F(Host_Commands_Test, KeygenWritesA2048BitKeyPairWithPrivateMode)
{
  Program_Result r = host({"keygen", "--out", dir_.path()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string key_path = dir_.file("appliance.key");
  EXPECT_EQ(mode_of(key_path), 0600u);
  EXPECT_EQ(mode_of(dir_.file("appliance.pub")), 0644u);

  // OpenSSL reads both back, and they are halves of one 2048-bit RSA key.
  std::string pem = read(key_path);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                &BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  ASSERT_TRUE(key);
  EXPECT_TRUE(EVP_PKEY_is_a(key.get(), "RSA"));
  EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 2048);
  std::string pub = read(dir_.file("appliance.pub"));
  EXPECT_EQ(pub.compare(0, 26, "-----BEGIN PUBLIC KEY-----"), 0) << pub;
}

TEST_F(Host_Commands_Test, KeygenKeepsAnExistingKeyUnlessForced)
{
  ASSERT_EQ(host({"keygen", "--out", dir_.path()}).exit_code, 0);
  std::string first = read(dir_.file("appliance.key"));
  Program_Result again = host({"keygen", "--out", dir_.path()});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
  EXPECT_EQ(read(dir_.file("appliance.key")), first) << "the existing key is untouched";

  ::chmod(dir_.file("appliance.key").c_str(), 0644);
  ASSERT_EQ(host({"keygen", "--out", dir_.path(), "--force"}).exit_code, 0);
  EXPECT_NE(read(dir_.file("appliance.key")), first);
  EXPECT_EQ(mode_of(dir_.file("appliance.key")), 0600u) << "a replaced key file is private again";
}

TEST_F(Host_Commands_Test, KeygenUsageAndBadDirectory)
{
  Program_Result none = host({"keygen"});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_NE(none.err.find("usage: quorvane-host keygen --out DIR"), std::string::npos) << none.err;
  EXPECT_EQ(host({"keygen", "--out", dir_.path(), "--bits", "1024"}).exit_code, 2);
  Program_Result missing = host({"keygen", "--out", dir_.file("no/such/dir")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("is not a directory"), std::string::npos) << missing.err;
  // A new directory whose parent exists is made, private to its owner.
  Program_Result made = host({"keygen", "--out", dir_.file("new")});
  EXPECT_EQ(made.exit_code, 0) << made.err;
  struct stat st;
  ASSERT_EQ(::stat(dir_.file("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(::stat(dir_.file("new/appliance.key").c_str(), &st), 0);
}

TEST_F(Host_Commands_Test, EncryptOutputDecodesWithTheKeyPair)
{
  ASSERT_EQ(host({"keygen", "--out", dir_.path()}).exit_code, 0);
  std::string key = read(dir_.file("appliance.key"));
  std::string secret = "the account's secret/key+=";
  Program_Result a = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, secret + "\n");
  Program_Result b = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, secret);
  ASSERT_EQ(a.exit_code, 0) << a.err;
  ASSERT_EQ(b.exit_code, 0) << b.err;
  // 256 bytes of ciphertext are 344 Base64 characters, then the line break.
  EXPECT_EQ(a.out.size(), 345u);
  EXPECT_NE(a.out, b.out) << "PKCS#1 v1.5 padding is random";
  EXPECT_EQ(decode(a.out, key), secret) << "one trailing line break is dropped";
  EXPECT_EQ(decode(b.out, key), secret);
  Program_Result crlf = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, secret + "\r\n");
  EXPECT_EQ(decode(crlf.out, key), secret);
}

TEST_F(Host_Commands_Test, EncryptTakesAtMost245Bytes)
{
  // RFC 8017 7.2.1: k - 11 bytes for a 256-byte modulus.
  ASSERT_EQ(host({"keygen", "--out", dir_.path()}).exit_code, 0);
  std::string key = read(dir_.file("appliance.key"));
  Program_Result at = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, std::string(245, 's'));
  ASSERT_EQ(at.exit_code, 0) << at.err;
  EXPECT_EQ(decode(at.out, key), std::string(245, 's'));
  Program_Result over = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, std::string(246, 's'));
  EXPECT_EQ(over.exit_code, 1);
  EXPECT_NE(over.err.find("at most 245"), std::string::npos) << over.err;
  EXPECT_EQ(over.out, "");
}

TEST_F(Host_Commands_Test, EncryptRefusals)
{
  ASSERT_EQ(host({"keygen", "--out", dir_.path()}).exit_code, 0);
  EXPECT_EQ(host({"encrypt"}, "x").exit_code, 2);
  Program_Result empty = host({"encrypt", "--pubkey", dir_.file("appliance.pub")}, "\n");
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_NE(empty.err.find("empty"), std::string::npos) << empty.err;
  Program_Result missing = host({"encrypt", "--pubkey", dir_.file("absent.pub")}, "x");
  EXPECT_EQ(missing.exit_code, 1);
  std::ofstream(dir_.file("junk.pub")) << "not a key\n";
  Program_Result junk = host({"encrypt", "--pubkey", dir_.file("junk.pub")}, "x");
  EXPECT_EQ(junk.exit_code, 1);
  EXPECT_NE(junk.err.find("is not a PEM RSA public key"), std::string::npos) << junk.err;
}

}  // namespace

// HMAC_Generator, RSA_Decoder and the Base64 decoder under them.
//
// HMAC expectations come from RFC 4231 section 4 (HMAC-SHA-256); the RFC
// gives hex, and the Base64 forms below were converted from it with
// python3 (base64.b64encode(bytes.fromhex(...))).  RSA ciphertexts are made
// by tools outside the development host: the openssl command-line tool and
// quorvane-host encrypt; the keys by openssl genpkey.

#include "host/crypto.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "devhost/full/openssl_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/mock_service.h"

namespace
{
using test_support::Program_Result;
using test_support::run_program;

std::string repeat(unsigned char byte, std::size_t n)
{
  return std::string(n, static_cast<char>(byte));
}

std::string bytes_1_to_25()
{
  std::string s;
  for (int i = 1; i <= 25; ++i)
    s += static_cast<char>(i);
  return s;
}

std::string to_base64(const std::string& bytes)
{
  std::vector<unsigned char> text(4 * ((bytes.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(text.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<char*>(text.data()), static_cast<std::size_t>(n));
}

std::string hmac_text(const std::string& key, const std::string& data, const char* digest = "sha256")
{
  HMAC_Generator gen(key.data(), key.size(), data.data(), data.size(), digest, true);
  if (!gen)
    return "(no result)";
  // The text must be NUL-terminated right after length() bytes.
  EXPECT_EQ(gen.get()[gen.length()], 0);
  return std::string(reinterpret_cast<const char*>(gen.get()), gen.length());
}

#define EXPECT_HMAC(key, data, expected) EXPECT_EQ(hmac_text(key, data), expected) << "data: " << data

TEST(HMAC_Generator, MatchesRfc4231VectorsInBase64)
{
  // RFC 4231 4.2, test case 1.
  EXPECT_HMAC(repeat(0x0b, 20), "Hi There", "sDRMYdjbOFNcqK/OrwvxK4gdwgDJgz2nJuk3bC4yz/c=");
  // 4.3, test case 2: a key shorter than the digest.
  EXPECT_HMAC("Jefe", "what do ya want for nothing?", "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=");
  // 4.4, test case 3: 50 bytes of data that are not text.
  EXPECT_HMAC(repeat(0xaa, 20), repeat(0xdd, 50), "dz6pHjaADkaFTbjr0JGBpylZCYs++MEi2WNVFM7VZf4=");
  // 4.5, test case 4.
  EXPECT_HMAC(bytes_1_to_25(), repeat(0xcd, 50), "glWKOJpEPA6kzIGYmfIIOoXw+qPlePgHei4/9GcpZls=");
  // 4.7, test case 6: a key longer than the block (131 bytes) is hashed first.
  EXPECT_HMAC(repeat(0xaa, 131), "Test Using Larger Than Block-Size Key - Hash Key First",
              "YOQxWR7gtn8Niiaqy/W3f44LxiE3KMUUBUYEDw7jf1Q=");
  // 4.8, test case 7: key and data both longer than the block.
  EXPECT_HMAC(
      repeat(0xaa, 131),
      "This is a test using a larger than block-size key and a larger than block-size data. The key needs "
      "to be hashed before being used by the HMAC algorithm.",
      "mwn/pxuUL8snY1+81bDpRL/cY2RPBxOTin9RU1w6NeI=");
}

TEST(HMAC_Generator, EmptyKeyAndEmptyDataAreValid)
{
  // python3: base64.b64encode(hmac.new(b"", b"", hashlib.sha256).digest()).
  EXPECT_HMAC("", "", "thNnmggU2ex3L5XXeMNfxf8Wl8STcVZTxscSFEKSxa0=");
  // HMAC pads the key with zeros, so the empty key equals one zero byte.
  EXPECT_EQ(hmac_text("", "data"), hmac_text(std::string(1, '\0'), "data"));
}

TEST(HMAC_Generator, RawResultIsTheMacBytes)
{
  HMAC_Generator gen("Jefe", 4, "what do ya want for nothing?", 28, "sha256", false);
  ASSERT_TRUE(gen);
  ASSERT_EQ(gen.length(), 32u);
  // RFC 4231 4.3, test case 2, re-encoded to compare with the text above.
  EXPECT_EQ(to_base64(std::string(reinterpret_cast<const char*>(gen.get()), gen.length())),
            "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=");
}

TEST(HMAC_Generator, OtherDigestsByName)
{
  // python3: base64.b64encode(hmac.new(b"", b"", hashlib.sha512).digest()).
  EXPECT_EQ(hmac_text("", "", "sha512"),
            "uTbO6Gyfh6pdPG8uhMtaQjml/lBICm7Ga3CrWx9KxnMMbFFUIbMn7B1pQC5T37Sa1zgesGezOP17DLIiRyJdRw==");
  EXPECT_EQ(hmac_text("", "", "SHA256"), "thNnmggU2ex3L5XXeMNfxf8Wl8STcVZTxscSFEKSxa0=");
}

std::string openssl_hmac(const char* digest, const std::string& key, const std::string& data)
{
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static const unsigned char ZERO = 0;
  const unsigned char* k = key.empty() ? &ZERO : reinterpret_cast<const unsigned char*>(key.data());
  if (HMAC(EVP_get_digestbyname(digest), k, key.empty() ? 1 : static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac, &length) == nullptr)
    return "(openssl failed)";
  return to_base64(std::string(reinterpret_cast<char*>(mac), length));
}

TEST(HMAC_Generator, MatchesOpensslAroundEveryBlockSize)
{
  // The reference is OpenSSL's own one-shot HMAC().  Key lengths straddle
  // each digest's block (64 for SHA-1 and SHA-256, 128 for SHA-512, 136
  // for SHA3-256), where RFC 2104 switches to hashing the key first.
  for (const char* digest : {"sha1", "sha256", "sha512", "sha3-256"})
    for (std::size_t key_length : {1, 20, 63, 64, 65, 127, 128, 129, 135, 136, 137, 300})
    {
      std::string key(key_length, '\0');
      for (std::size_t i = 0; i < key_length; ++i)
        key[i] = static_cast<char>(i * 7 + 1);
      for (std::size_t data_length : {0, 1, 55, 64, 1000})
      {
        std::string data(data_length, 'd');
        EXPECT_EQ(hmac_text(key, data, digest), openssl_hmac(digest, key, data))
            << digest << ", key " << key_length << " bytes, data " << data_length << " bytes";
      }
    }
}

TEST(HMAC_Generator, UnknownDigestOrNullInputGivesNoResult)
{
  test_support::Log_Capture log;
  HMAC_Generator unknown("k", 1, "d", 1, "sha257", true);
  EXPECT_FALSE(unknown);
  EXPECT_EQ(unknown.get(), nullptr);
  EXPECT_EQ(unknown.length(), 0u);
  EXPECT_NE(log.text().find("unknown digest 'sha257'"), std::string::npos) << log.text();
  EXPECT_FALSE(HMAC_Generator("k", 1, "d", 1, nullptr, true));
  EXPECT_FALSE(HMAC_Generator("k", 1, "d", 1, "shake256", true)) << "HMAC is not defined over an XOF";
  EXPECT_FALSE(HMAC_Generator(nullptr, 1, "d", 1, "sha256", true));
  EXPECT_FALSE(HMAC_Generator("k", 1, nullptr, 1, "sha256", true));
  // A known digest still works after an unknown one was asked for.
  EXPECT_HMAC("Jefe", "what do ya want for nothing?", "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=");
}

TEST(HMAC_Generator, ConcurrentCallsWithDifferentKeysStayApart)
{
  // Each thread alternates two RFC vectors; a context shared by mistake
  // would mix keys between threads.
  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back(
        [&wrong, t]
        {
          for (int i = 0; i < 500; ++i)
          {
            bool first = (i + t) % 2 == 0;
            std::string got = first ? hmac_text("Jefe", "what do ya want for nothing?")
                                    : hmac_text(repeat(0x0b, 20), "Hi There");
            const char* want = first ? "W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM="
                                     : "sDRMYdjbOFNcqK/OrwvxK4gdwgDJgz2nJuk3bC4yz/c=";
            if (got != want)
              ++wrong;
          }
        });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------- Base64

bool decodes(const std::string& text, const std::string& expected)
{
  std::vector<unsigned char> out;
  bool ok = devhost::base64_decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out);
  return ok && std::string(out.begin(), out.end()) == expected;
}

bool refused(const std::string& text)
{
  std::vector<unsigned char> out{1, 2, 3};
  return !devhost::base64_decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out) &&
         out.empty();
}

TEST(Base64_Decode, AcceptsRfc4648Vectors)
{
  // RFC 4648 section 10.
  EXPECT_TRUE(decodes("", ""));
  EXPECT_TRUE(decodes("Zg==", "f"));
  EXPECT_TRUE(decodes("Zm8=", "fo"));
  EXPECT_TRUE(decodes("Zm9v", "foo"));
  EXPECT_TRUE(decodes("Zm9vYg==", "foob"));
  EXPECT_TRUE(decodes("Zm9vYmE=", "fooba"));
  EXPECT_TRUE(decodes("Zm9vYmFy", "foobar"));
  // Line breaks as PEM and `openssl base64` write them.
  EXPECT_TRUE(decodes("Zm9v\nYmFy\r\n", "foobar"));
  EXPECT_TRUE(decodes("+/+/", "\xfb\xff\xbf"));
}

TEST(Base64_Decode, RefusesMalformedText)
{
  EXPECT_TRUE(refused("Zg"));        // incomplete group
  EXPECT_TRUE(refused("Zg="));       // padding short of the group
  EXPECT_TRUE(refused("Z==="));      // three padding characters
  EXPECT_TRUE(refused("Zm9v="));     // padding after a full group
  EXPECT_TRUE(refused("Zg==Zg=="));  // data after padding
  EXPECT_TRUE(refused("Zm-v"));      // OpenSSL's EVP decoder stops at '-'
  EXPECT_TRUE(refused("Zm_v"));      // the URL-safe alphabet is another text
  EXPECT_TRUE(refused("Zm9v*"));
  EXPECT_TRUE(refused(std::string("Zm\0v", 4)));
}

// ---------------------------------------------------------------- RSA

class RSA_Decoder_Test : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    dir_ = new test_support::Temp_Dir;
    ASSERT_FALSE(dir_->path().empty());
    for (const char* name : {"a", "b"})
    {
      std::string key = dir_->file(std::string(name) + ".key");
      Program_Result r = run_program(
          {"openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      r = run_program(
          {"openssl", "pkey", "-in", key, "-pubout", "-out", dir_->file(std::string(name) + ".pub")});
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    key_a_ = new std::string(read(dir_->file("a.key")));
    key_b_ = new std::string(read(dir_->file("b.key")));
  }
  static void TearDownTestSuite()
  {
    delete key_a_;
    delete key_b_;
    delete dir_;
  }

  static std::string read(const std::string& path)
  {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  /// The raw ciphertext of @a plain under key @a name, by openssl pkeyutl.
  static std::string openssl_encrypt(const std::string& plain, const char* name, const char* mode = "pkcs1")
  {
    Program_Result r = run_program(
        {"openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", dir_->file(std::string(name) + ".pub"),
         "-pkeyopt", std::string("rsa_padding_mode:") + mode},
        plain);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }

  static std::string decode(const std::string& cipher, const std::string& key, bool base64 = true,
                            int padding = 1)
  {
    RSA_Decoder dec(reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size(),
                    reinterpret_cast<const unsigned char*>(key.data()), key.size(), base64, padding);
    if (!dec)
      return "(no result)";
    EXPECT_EQ(dec.get()[dec.length()], 0) << "the plaintext is followed by a NUL";
    return std::string(reinterpret_cast<const char*>(dec.get()), dec.length());
  }

  /// Whether ciphertexts that fail their padding check are refused.  No
  /// PKCS#1 v1.5 decoder can refuse every one: a random block passes the
  /// check about once in 65536 tries, an OAEP block (which starts with a zero
  /// byte) once in 256.  So up to four fresh ciphertexts are drawn: one must
  /// give no result, and none may give @a plain.
  template <typename Make>
  static bool refused(Make fresh_cipher, const std::string& key, int padding, const std::string& plain)
  {
    bool refused_once = false;
    for (int i = 0; i < 4 && !refused_once; ++i)
    {
      std::string got = decode(fresh_cipher(), key, true, padding);
      EXPECT_NE(got, plain) << "a wrong ciphertext decoded to the plaintext";
      refused_once = got == "(no result)";
    }
    return refused_once;
  }

  static test_support::Temp_Dir* dir_;
  static std::string* key_a_;
  static std::string* key_b_;
};

test_support::Temp_Dir* RSA_Decoder_Test::dir_ = nullptr;
std::string* RSA_Decoder_Test::key_a_ = nullptr;
std::string* RSA_Decoder_Test::key_b_ = nullptr;

// Longer than the small-string buffer, with the characters that Base64 and
// percent-encoding treat specially.
const std::string SECRET = "s3cr3t/Key+with=odd~chars and spaces";

TEST_F(RSA_Decoder_Test, DecryptsOpensslPkcs1Ciphertext)
{
  std::string cipher = openssl_encrypt(SECRET, "a");
  ASSERT_EQ(cipher.size(), 256u);
  EXPECT_EQ(decode(to_base64(cipher), *key_a_), SECRET);
  EXPECT_EQ(decode(cipher, *key_a_, false), SECRET) << "raw ciphertext without the Base64 flag";
}

TEST_F(RSA_Decoder_Test, DecryptsQuorvaneHostEncryptOutput)
{
  Program_Result r =
      run_program({QUORVANE_HOST_PATH, "encrypt", "--pubkey", dir_->file("a.pub")}, SECRET + "\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(decode(r.out, *key_a_), SECRET) << "the printed line, line break included, decodes";
}

TEST_F(RSA_Decoder_Test, KeepsZeroBytesAndTheLongestPlaintext)
{
  std::string with_zero("ab\0cd", 5);
  EXPECT_EQ(decode(to_base64(openssl_encrypt(with_zero, "a")), *key_a_), with_zero);
  // RFC 8017 7.2.1: a 2048-bit key carries at most 256 - 11 = 245 bytes.
  std::string longest(245, 'x');
  EXPECT_EQ(decode(to_base64(openssl_encrypt(longest, "a")), *key_a_), longest);
}

TEST_F(RSA_Decoder_Test, WrappedBase64Decodes)
{
  std::string text = to_base64(openssl_encrypt(SECRET, "a"));
  for (std::size_t i = 64; i < text.size(); i += 65)
    text.insert(i, "\n");
  EXPECT_EQ(decode(text, *key_a_), SECRET);
}

TEST_F(RSA_Decoder_Test, WrongKeyGivesNoResult)
{
  EXPECT_TRUE(refused([] { return to_base64(openssl_encrypt(SECRET, "a")); }, *key_b_, 1, SECRET));
}

TEST_F(RSA_Decoder_Test, WrongLengthGivesNoResult)
{
  std::string cipher = openssl_encrypt(SECRET, "a");
  EXPECT_EQ(decode(to_base64(cipher.substr(0, 255)), *key_a_), "(no result)") << "one byte short";
  EXPECT_EQ(decode(to_base64(cipher.substr(0, 128)), *key_a_), "(no result)") << "truncated to half";
  EXPECT_EQ(decode(to_base64(cipher + "x"), *key_a_), "(no result)") << "one byte over";
  EXPECT_EQ(decode(to_base64(std::string(1, '\0') + cipher.substr(1)), *key_a_), "(no result)")
      << "a changed ciphertext";
}

TEST_F(RSA_Decoder_Test, BadBase64GivesNoResult)
{
  std::string text = to_base64(openssl_encrypt(SECRET, "a"));
  EXPECT_EQ(decode(text.substr(0, text.size() - 1), *key_a_), "(no result)") << "last character cut";
  std::string bad = text;
  bad[10] = '*';
  EXPECT_EQ(decode(bad, *key_a_), "(no result)");
  bad = text;
  bad[10] = '-';
  EXPECT_EQ(decode(bad, *key_a_), "(no result)");
  EXPECT_EQ(decode("", *key_a_), "(no result)") << "empty input";
}

TEST_F(RSA_Decoder_Test, KeyThatIsNotAPrivateKeyGivesNoResult)
{
  std::string cipher = to_base64(openssl_encrypt(SECRET, "a"));
  test_support::Log_Capture log;
  EXPECT_EQ(decode(cipher, "not a key at all"), "(no result)");
  EXPECT_NE(log.text().find("not a PEM private key"), std::string::npos) << log.text();
  EXPECT_EQ(decode(cipher, read(dir_->file("a.pub"))), "(no result)") << "a public key";
  EXPECT_EQ(decode(cipher, ""), "(no result)") << "no key configured";
  // Truncated PEM of the right key.
  EXPECT_EQ(decode(cipher, key_a_->substr(0, key_a_->size() / 2)), "(no result)");
}

TEST_F(RSA_Decoder_Test, PaddingModeIsHonoured)
{
  std::string oaep = to_base64(openssl_encrypt(SECRET, "a", "oaep"));
  EXPECT_EQ(decode(oaep, *key_a_, true, 4), SECRET) << "4 is OAEP";
  EXPECT_TRUE(refused([] { return to_base64(openssl_encrypt(SECRET, "a", "oaep")); }, *key_a_, 1, SECRET))
      << "OAEP is not PKCS#1 v1.5";
  std::string pkcs1 = to_base64(openssl_encrypt(SECRET, "a"));
  EXPECT_EQ(decode(pkcs1, *key_a_, true, 3), "(no result)") << "raw RSA is refused";
  EXPECT_EQ(decode(pkcs1, *key_a_, true, 0), "(no result)");
}

TEST_F(RSA_Decoder_Test, ChangingKeysReplacesTheCachedKey)
{
  std::string for_a = to_base64(openssl_encrypt("for a", "a"));
  std::string for_b = to_base64(openssl_encrypt("for b", "b"));
  for (int i = 0; i < 3; ++i)
  {
    EXPECT_EQ(decode(for_a, *key_a_), "for a");
    EXPECT_EQ(decode(for_b, *key_b_), "for b");
    EXPECT_NE(decode(for_a, *key_b_), "for a") << "the cache never answers for another key";
  }
}

TEST_F(RSA_Decoder_Test, ConcurrentDecodesWithTwoKeys)
{
  std::string for_a = to_base64(openssl_encrypt("for a", "a"));
  std::string for_b = to_base64(openssl_encrypt("for b", "b"));
  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back(
        [&, t]
        {
          for (int i = 0; i < 25; ++i)
          {
            bool a = (i + t) % 2 == 0;
            if (decode(a ? for_a : for_b, a ? *key_a_ : *key_b_) != (a ? "for a" : "for b"))
              ++wrong;
          }
        });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

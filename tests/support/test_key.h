#ifndef TESTS_SUPPORT_TEST_KEY_H
#define TESTS_SUPPORT_TEST_KEY_H

#include <string>

namespace test_support
{
/**
 * A throwaway appliance key pair made with OpenSSL for one test program:
 * the private key written to a file of mode 0600 (removed on destruction),
 * and encryption with its public half as the appliance's web page does it
 * (PKCS#1 v1.5, Base64), done independently of the development host.
 */
class Test_Key
{
public:
  explicit Test_Key(int bits = 2048);
  ~Test_Key();
  Test_Key(const Test_Key&) = delete;
  Test_Key& operator=(const Test_Key&) = delete;

  const std::string& private_pem() const { return private_pem_; }
  const std::string& public_pem() const { return public_pem_; }
  const std::string& file() const { return file_; }
  /// Base64 of the PKCS#1 v1.5 encryption of @a secret under the public key.
  std::string encrypt(const std::string& secret) const;

private:
  std::string private_pem_;
  std::string public_pem_;
  std::string file_;
  std::string dir_;
};

}  // namespace test_support

#endif /* TESTS_SUPPORT_TEST_KEY_H */

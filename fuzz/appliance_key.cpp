#include "fuzz/appliance_key.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "devhost/harness/key_store.h"

namespace login_fuzz
{
namespace
{
struct Pkey_Free
{
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct Ctx_Free
{
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct Bio_Free
{
  void operator()(BIO* p) const { BIO_free(p); }
};

std::unique_ptr<EVP_PKEY, Pkey_Free> appliance_key;
}  // namespace

[[noreturn]] void setup_failed(const char* what)
{
  std::fprintf(stderr, "login_rpc_fuzz: %s\n", what);
  std::exit(1);
}

// A throwaway appliance key: 1024 bits keeps decryption cheap per input;
// the handler does not depend on the size (MAX_PLAINTEXT follows from it).
// The key store reads the file once, so the file goes away at once.
void make_appliance_key()
{
  appliance_key.reset(EVP_RSA_gen(1024));
  if (!appliance_key)
    setup_failed("cannot generate an RSA key");
  std::unique_ptr<BIO, Bio_Free> pem(BIO_new(BIO_s_mem()));
  if (!pem ||
      PEM_write_bio_PrivateKey(pem.get(), appliance_key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
    setup_failed("cannot write the RSA key");
  char* text = nullptr;
  const long length = BIO_get_mem_data(pem.get(), &text);

  // Under $TMPDIR (/tmp when unset), as the tests keep their files.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorvane-fuzz-key-XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr)
    setup_failed(("cannot make a key directory " + dir).c_str());
  const std::string file = dir + "/appliance.key";
  std::FILE* f = std::fopen(file.c_str(), "w");
  if (f == nullptr)
    setup_failed("cannot write the key file");
  chmod(file.c_str(), 0600);
  std::fwrite(text, 1, static_cast<std::size_t>(length), f);
  std::fclose(f);
  const bool loaded = devhost::load_key_file(file.c_str());
  unlink(file.c_str());
  rmdir(dir.c_str());
  if (!loaded)
    setup_failed("the key store did not take the key");
}

std::string encrypt(const std::string& secret)
{
  std::unique_ptr<EVP_PKEY_CTX, Ctx_Free> ctx(EVP_PKEY_CTX_new(appliance_key.get(), nullptr));
  std::size_t length = 0;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(secret.data());
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, secret.size()) != 1)
    setup_failed("cannot set up RSA encryption");
  std::vector<unsigned char> out(length);
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in, secret.size()) != 1)
    setup_failed("cannot encrypt");
  std::vector<unsigned char> b64(4 * ((length + 2) / 3) + 1);
  const int n = EVP_EncodeBlock(b64.data(), out.data(), static_cast<int>(length));
  return std::string(reinterpret_cast<const char*>(b64.data()), static_cast<std::size_t>(n));
}

}  // namespace login_fuzz

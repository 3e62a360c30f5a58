#include "tests/support/test_key.h"

#include "devhost/full/openssl_util.h"
#include "tests/support/program.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace test_support
{
namespace
{
using devhost::Bio_Ptr;
using devhost::Pkey_Ctx_Ptr;
using devhost::Pkey_Ptr;

std::string bio_text(BIO* bio)
{
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(n));
}
}  // namespace

Test_Key::Test_Key(int bits)
{
  Pkey_Ptr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
  if (!key)
    throw std::runtime_error("cannot generate an RSA key");
  Bio_Ptr priv(BIO_new(BIO_s_mem()));
  Bio_Ptr pub(BIO_new(BIO_s_mem()));
  if (!priv || !pub ||
      PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1)
    throw std::runtime_error("cannot write the RSA key");
  private_pem_ = bio_text(priv.get());
  public_pem_ = bio_text(pub.get());

  std::string dir = temp_root() + "/quorvane-test-key-XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr)
    throw std::runtime_error("cannot make a key directory under " + temp_root());
  dir_ = dir;
  file_ = dir_ + "/appliance.key";
  std::FILE* f = std::fopen(file_.c_str(), "w");
  if (f == nullptr)
    throw std::runtime_error("cannot write " + file_);
  chmod(file_.c_str(), 0600);
  std::fwrite(private_pem_.data(), 1, private_pem_.size(), f);
  std::fclose(f);
}

Test_Key::~Test_Key()
{
  unlink(file_.c_str());
  rmdir(dir_.c_str());
}

std::string Test_Key::encrypt(const std::string& secret) const
{
  Bio_Ptr bio(BIO_new_mem_buf(public_pem_.data(), static_cast<int>(public_pem_.size())));
  Pkey_Ptr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  std::size_t out_len = 0;
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &out_len, reinterpret_cast<const unsigned char*>(secret.data()),
                       secret.size()) != 1)
    throw std::runtime_error("cannot set up RSA encryption");
  std::vector<unsigned char> out(out_len);
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &out_len, reinterpret_cast<const unsigned char*>(secret.data()),
                       secret.size()) != 1)
    throw std::runtime_error("cannot encrypt");
  std::vector<unsigned char> b64(4 * ((out_len + 2) / 3) + 1);
  int n = EVP_EncodeBlock(b64.data(), out.data(), static_cast<int>(out_len));
  return std::string(reinterpret_cast<const char*>(b64.data()), static_cast<std::size_t>(n));
}

}  // namespace test_support

#include "tools/host/secret_input.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "devhost/full/openssl_util.h"
#include "host/host_manager.h"
#include "host/secure_memset.h"

namespace
{
using devhost::Bio_Ptr;
using devhost::Pkey_Ctx_Ptr;
using devhost::Pkey_Ptr;

std::string openssl_reason()
{
  char reason[256];
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  ERR_clear_error();
  return reason;
}

// The key in @a path: a private key (whose public half is used) or a
// public key, PEM.
Pkey_Ptr load_key(const std::string& path, std::string& error)
{
  Bio_Ptr file(BIO_new_file(path.c_str(), "r"));
  if (!file)
  {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  Pkey_Ptr key(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key)
  {
    ERR_clear_error();
    BIO_reset(file.get());
    key.reset(PEM_read_bio_PUBKEY(file.get(), nullptr, nullptr, nullptr));
  }
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
  {
    ERR_clear_error();
    error = path + " is not a PEM RSA public key or private key";
    return nullptr;
  }
  return key;
}
}  // namespace

bool read_secret_from_stdin(secure_string& secret)
{
  // Read into a fixed block that is wiped, never into stdio's buffers.
  char block[512];
  bool ok = true;
  for (;;)
  {
    ssize_t n = ::read(STDIN_FILENO, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
    {
      ok = n == 0;
      break;
    }
    secret.append(block, static_cast<std::size_t>(n));
    if (secret.size() > SECRET_MAX_INPUT)
    {
      ok = false;
      break;
    }
  }
  secure_memset(block, 0, sizeof block);
  if (!secret.empty() && secret.back() == '\n')
    secret.pop_back();
  if (!secret.empty() && secret.back() == '\r')
    secret.pop_back();
  return ok;
}

bool encrypt_for_appliance(const std::string& key_file, const secure_string& secret, std::string& base64,
                           std::string& error)
{
  Pkey_Ptr key = load_key(key_file, error);
  if (!key)
    return false;
  // RFC 8017 7.2.1: PKCS#1 v1.5 carries at most k - 11 bytes.
  const std::size_t limit = static_cast<std::size_t>(EVP_PKEY_get_size(key.get())) - 11;
  if (secret.size() > limit)
  {
    error = "the secret has " + std::to_string(secret.size()) + " bytes; this key takes at most " +
            std::to_string(limit);
    return false;
  }
  Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  const unsigned char* in = reinterpret_cast<const unsigned char*>(secret.data());
  std::size_t out_length = 0;
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &out_length, in, secret.size()) != 1)
  {
    error = "cannot set up the encryption: " + openssl_reason();
    return false;
  }
  std::unique_ptr<unsigned char[]> out(new unsigned char[out_length]);
  if (EVP_PKEY_encrypt(ctx.get(), out.get(), &out_length, in, secret.size()) != 1)
  {
    error = "cannot encrypt: " + openssl_reason();
    return false;
  }
  std::unique_ptr<unsigned char[]> text(new unsigned char[devhost::base64_length(out_length) + 1]);
  int n = EVP_EncodeBlock(text.get(), out.get(), static_cast<int>(out_length));
  base64.assign(reinterpret_cast<const char*>(text.get()), static_cast<std::size_t>(n));
  return true;
}

bool appliance_public_key(std::string& pem, std::string& error)
{
  const secure_ustring& key = Host_Manager::instance()->rsa_prvkey();
  if (key.empty())
  {
    error = "no appliance key (--key FILE, or QUORVANE_HOST_KEY)";
    return false;
  }
  // OpenSSL reads the private key from the key store's own wiped bytes.
  Bio_Ptr in(BIO_new_mem_buf(key.data(), static_cast<int>(key.size())));
  Pkey_Ptr pkey(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr);
  Bio_Ptr out(BIO_new(BIO_s_mem()));
  char* data = nullptr;
  long length = 0;
  if (!pkey || EVP_PKEY_get_base_id(pkey.get()) != EVP_PKEY_RSA || !out ||
      PEM_write_bio_PUBKEY(out.get(), pkey.get()) != 1 || (length = BIO_get_mem_data(out.get(), &data)) <= 0)
  {
    error = "the appliance key is not a PEM RSA private key: " + openssl_reason();
    return false;
  }
  pem.assign(data, static_cast<std::size_t>(length));
  return true;
}

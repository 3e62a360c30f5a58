// quorvane-host encrypt: encrypts a secret for the appliance the way its
// web page does (RSA PKCS#1 v1.5 under the appliance's public key, Base64),
// so a login request can be made by hand.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "host/secure_memset.h"
#include "scrt/secure_string.h"
#include "tools/host/commands.h"
#include "tools/host/options.h"

namespace
{
/// Largest secret read from stdin, bytes; a 2048-bit key takes 245.
const std::size_t ENCRYPT_MAX_INPUT = 4096;

struct Bio_Free
{
  void operator()(BIO* p) const { BIO_free_all(p); }
};
struct Pkey_Free
{
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct Pkey_Ctx_Free
{
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct Decoder_Free
{
  void operator()(OSSL_DECODER_CTX* p) const { OSSL_DECODER_CTX_free(p); }
};

int encrypt_usage()
{
  std::fprintf(stderr,
               "usage: quorvane-host encrypt --pubkey FILE\n"
               "  reads a secret from stdin (one trailing line break is dropped) and prints\n"
               "  its RSA PKCS#1 v1.5 ciphertext under the PEM public key FILE, in Base64\n");
  return 2;
}

int fail(const char* what)
{
  char reason[256];
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  std::fprintf(stderr, "quorvane-host encrypt: %s: %s\n", what, reason);
  return 1;
}

bool read_secret(secure_string& secret)
{
  // Read into a fixed block that is wiped, never into stdio's buffers.
  char block[512];
  for (;;)
  {
    ssize_t n = ::read(STDIN_FILENO, block, sizeof block);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
    {
      secure_memset(block, 0, sizeof block);
      return n == 0;
    }
    secret.append(block, static_cast<std::size_t>(n));
    if (secret.size() > ENCRYPT_MAX_INPUT)
    {
      secure_memset(block, 0, sizeof block);
      return false;
    }
  }
}
}  // namespace

int cmd_encrypt(int argc, char** argv)
{
  Options opts({"--pubkey"}, {"--help"});
  if (!opts.parse(argc, argv))
  {
    std::fprintf(stderr, "quorvane-host encrypt: %s\n", opts.error().c_str());
    return encrypt_usage();
  }
  if (opts.has("--help") || !opts.has("--pubkey"))
    return encrypt_usage();
  std::string path = opts.get("--pubkey");

  std::unique_ptr<BIO, Bio_Free> file(BIO_new_file(path.c_str(), "r"));
  if (!file)
  {
    std::fprintf(stderr, "quorvane-host encrypt: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  EVP_PKEY* raw = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, Decoder_Free> decoder(
      OSSL_DECODER_CTX_new_for_pkey(&raw, "PEM", nullptr, "RSA", EVP_PKEY_PUBLIC_KEY, nullptr, nullptr));
  if (!decoder || OSSL_DECODER_from_bio(decoder.get(), file.get()) != 1 || raw == nullptr)
  {
    std::fprintf(stderr, "quorvane-host encrypt: %s is not a PEM RSA public key\n", path.c_str());
    return 1;
  }
  std::unique_ptr<EVP_PKEY, Pkey_Free> key(raw);

  secure_string secret;
  if (!read_secret(secret))
  {
    std::fprintf(stderr, "quorvane-host encrypt: cannot read the secret from stdin (at most %zu bytes)\n",
                 ENCRYPT_MAX_INPUT);
    return 1;
  }
  if (!secret.empty() && secret.back() == '\n')
    secret.pop_back();
  if (!secret.empty() && secret.back() == '\r')
    secret.pop_back();
  if (secret.empty())
  {
    std::fprintf(stderr, "quorvane-host encrypt: the secret on stdin is empty\n");
    return 1;
  }
  // RFC 8017 7.2.1: PKCS#1 v1.5 carries at most k - 11 bytes.
  std::size_t limit = static_cast<std::size_t>(EVP_PKEY_get_size(key.get())) - 11;
  if (secret.size() > limit)
  {
    std::fprintf(stderr, "quorvane-host encrypt: the secret has %zu bytes; this key takes at most %zu\n",
                 secret.size(), limit);
    return 1;
  }

  std::unique_ptr<EVP_PKEY_CTX, Pkey_Ctx_Free> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return fail("cannot set up the encryption");
  const unsigned char* in = reinterpret_cast<const unsigned char*>(secret.data());
  std::size_t out_length = 0;
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &out_length, in, secret.size()) != 1)
    return fail("cannot encrypt");
  std::unique_ptr<unsigned char[]> out(new unsigned char[out_length]);
  if (EVP_PKEY_encrypt(ctx.get(), out.get(), &out_length, in, secret.size()) != 1)
    return fail("cannot encrypt");
  std::unique_ptr<unsigned char[]> text(new unsigned char[4 * ((out_length + 2) / 3) + 1]);
  EVP_EncodeBlock(text.get(), out.get(), static_cast<int>(out_length));
  std::printf("%s\n", reinterpret_cast<const char*>(text.get()));
  return std::fflush(stdout) == 0 ? 0 : 1;
}

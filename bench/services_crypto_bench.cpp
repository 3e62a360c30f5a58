// HMAC_Generator and RSA_Decoder against direct OpenSSL use.
//
// RSA: the decoder, given the PEM key on every call as the login does,
// against a decryption with a key parsed once beforehand (the anchor), and
// against parsing the PEM for every decryption (what a decoder without its
// key cache would cost).  HMAC: the generator against one MAC context kept
// and re-keyed on each call (the anchor), and against OpenSSL's one-shot
// HMAC(), which looks the algorithm up on every call.

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "bench/bench_support.h"
#include "devhost/full/openssl_util.h"
#include "host/crypto.h"

namespace
{

/// A 2048-bit key, its PEM text, and a secret encrypted under it.
struct Rsa_Fixture
{
  Rsa_Fixture()
  {
    key.reset(EVP_RSA_gen(2048));
    devhost::Bio_Ptr bio(BIO_new(BIO_s_mem()));
    if (!key || !bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
      throw std::runtime_error("cannot make the RSA key");
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    pem.assign(data, static_cast<std::size_t>(n));

    devhost::Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    std::string secret = "4f1c2a9e-the-account-secret-key-0b77";
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(secret.data()),
                         secret.size()) != 1)
      throw std::runtime_error("cannot encrypt");
    cipher.resize(len);
    if (EVP_PKEY_encrypt(ctx.get(), cipher.data(), &len,
                         reinterpret_cast<const unsigned char*>(secret.data()), secret.size()) != 1)
      throw std::runtime_error("cannot encrypt");
    cipher.resize(len);
    std::vector<unsigned char> text(4 * ((len + 2) / 3) + 1);
    int t = EVP_EncodeBlock(text.data(), cipher.data(), static_cast<int>(len));
    base64.assign(reinterpret_cast<char*>(text.data()), static_cast<std::size_t>(t));
  }

  devhost::Pkey_Ptr key;
  std::string pem;
  std::vector<unsigned char> cipher;
  std::string base64;
};

Rsa_Fixture& rsa()
{
  static Rsa_Fixture fixture;
  return fixture;
}

/// Decrypts the fixture's ciphertext with @a key, as the anchors do.
std::size_t decrypt(EVP_PKEY* key, unsigned char* out, std::size_t out_size)
{
  devhost::Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  std::size_t len = out_size;
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), out, &len, rsa().cipher.data(), rsa().cipher.size()) != 1)
    return 0;
  return len;
}

void rsa_decoder(benchmark::State& state)
{
  const Rsa_Fixture& f = rsa();
  for (auto _ : state)
  {
    RSA_Decoder dec(reinterpret_cast<const unsigned char*>(f.base64.data()), f.base64.size(),
                    reinterpret_cast<const unsigned char*>(f.pem.data()), f.pem.size(), true, 1);
    if (!dec)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(dec.get());
  }
}
BENCHMARK(rsa_decoder)->ComputeStatistics("min", min_of);

void rsa_anchor_preloaded_key(benchmark::State& state)
{
  EVP_PKEY* key = rsa().key.get();
  unsigned char out[256];
  for (auto _ : state)
  {
    if (decrypt(key, out, sizeof out) == 0)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(rsa_anchor_preloaded_key)->ComputeStatistics("min", min_of);

void rsa_anchor_parse_each_time(benchmark::State& state)
{
  const Rsa_Fixture& f = rsa();
  unsigned char out[256];
  for (auto _ : state)
  {
    devhost::Bio_Ptr bio(BIO_new_mem_buf(f.pem.data(), static_cast<int>(f.pem.size())));
    devhost::Pkey_Ptr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || decrypt(key.get(), out, sizeof out) == 0)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(rsa_anchor_parse_each_time)->ComputeStatistics("min", min_of);

// A string to sign of the settings request, and a 40-byte secret key.
const std::string HMAC_KEY = "Zq0b3M8u1XkY7tR2vW9sP4nL6hJ5gF3dS1aQ8eC0";
const std::string HMAC_DATA = "1717171717000_AK-7f3a2b_/fcc/v1/settings_";

void hmac_generator(benchmark::State& state)
{
  for (auto _ : state)
  {
    HMAC_Generator gen(HMAC_KEY.data(), HMAC_KEY.size(), HMAC_DATA.data(), HMAC_DATA.size(), "sha256", true);
    if (!gen)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(gen.get());
  }
}
BENCHMARK(hmac_generator)->ComputeStatistics("min", min_of);

void hmac_anchor_reused_context(benchmark::State& state)
{
  devhost::Mac_Ptr mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  devhost::Mac_Ctx_Ptr ctx(EVP_MAC_CTX_new(mac.get()));
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_end()};
  if (!ctx || EVP_MAC_CTX_set_params(ctx.get(), params) != 1)
  {
    state.SkipWithError("cannot prepare the context");
    return;
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  for (auto _ : state)
  {
    std::size_t len = 0;
    if (EVP_MAC_init(ctx.get(), reinterpret_cast<const unsigned char*>(HMAC_KEY.data()), HMAC_KEY.size(),
                     nullptr) != 1 ||
        EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(HMAC_DATA.data()),
                       HMAC_DATA.size()) != 1 ||
        EVP_MAC_final(ctx.get(), out, &len, sizeof out) != 1)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(hmac_anchor_reused_context)->ComputeStatistics("min", min_of);

void hmac_anchor_one_shot(benchmark::State& state)
{
  unsigned char out[EVP_MAX_MD_SIZE];
  for (auto _ : state)
  {
    unsigned int len = 0;
    if (HMAC(EVP_sha256(), HMAC_KEY.data(), static_cast<int>(HMAC_KEY.size()),
             reinterpret_cast<const unsigned char*>(HMAC_DATA.data()), HMAC_DATA.size(), out,
             &len) == nullptr)
      state.SkipWithError("no result");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(hmac_anchor_one_shot)->ComputeStatistics("min", min_of);

}  // namespace

BENCHMARK_MAIN();

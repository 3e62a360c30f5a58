#ifndef BENCH_LOGIN_BENCH_H
#define BENCH_LOGIN_BENCH_H

// What the signing cases (sign_bench.cpp) and the login cases
// (login_bench.cpp) of bench_login share: the account, the signing floor
// and the reports.

#include <cstddef>
#include <ctime>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "devhost/full/openssl_util.h"

// scrt_alloc_counter.cpp: malloc, calloc and realloc calls so far, or -1.
long scrt_allocation_count();

namespace login_bench
{
constexpr char AK[] = "AK-bench-0001";
// Longer than a small string, as account secrets are.
constexpr char SK[] = "the account's secret key / with + and = signs";
constexpr char VERSION[] = "7.1.0";
constexpr char SETTINGS[] = "/fcc/v1/settings";

/// "Client-Now" of a request signed now: whole seconds, in milliseconds.
inline std::string client_now()
{
  return std::to_string(static_cast<long long>(std::time(nullptr)) * 1000);
}

/// The text the service signs for the settings request at @a now.
inline std::string text_to_sign(const std::string& now)
{
  return now + "_" + AK + "_" + SETTINGS + "_";
}

/**
 * The signing floor: HMAC-SHA256 through one MAC context fetched once and
 * given the key on every call, Base64, and percent-encoding of every byte
 * but A-Z a-z 0-9 - _ . ~ as "%" and two upper-case digits.
 */
class Mac_Floor
{
public:
  /// Room for the percent-encoded Base64 of any digest.
  static const std::size_t OUT_SIZE = 3 * 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1;

  Mac_Floor()
      : mac_(EVP_MAC_fetch(nullptr, "HMAC", nullptr)), ctx_(mac_ ? EVP_MAC_CTX_new(mac_.get()) : nullptr)
  {
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_end()};
    if (!ctx_ || EVP_MAC_CTX_set_params(ctx_.get(), params) != 1)
      throw std::runtime_error("cannot prepare the MAC context");
  }

  /// Writes the signature of @a text under @a key to @a out (OUT_SIZE
  /// bytes, terminated); its length, or 0 on failure.
  std::size_t sign(const std::string& key, const std::string& text, char* out)
  {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned char b64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    std::size_t len = 0;
    const unsigned char* k = reinterpret_cast<const unsigned char*>(key.data());
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text.data());
    if (EVP_MAC_init(ctx_.get(), k, key.size(), nullptr) != 1 ||
        EVP_MAC_update(ctx_.get(), t, text.size()) != 1 ||
        EVP_MAC_final(ctx_.get(), mac, &len, sizeof mac) != 1)
      return 0;
    int n = EVP_EncodeBlock(b64, mac, static_cast<int>(len));
    static const char HEX[] = "0123456789ABCDEF";
    char* p = out;
    for (int i = 0; i < n; ++i)
    {
      unsigned char c = b64[i];
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.' || c == '~')
      {
        *p++ = static_cast<char>(c);
      }
      else
      {
        *p++ = '%';
        *p++ = HEX[c >> 4];
        *p++ = HEX[c & 15];
      }
    }
    *p = '\0';
    return static_cast<std::size_t>(p - out);
  }

private:
  devhost::Mac_Ptr mac_;
  devhost::Mac_Ctx_Ptr ctx_;
};

/// Heap allocations per timed iteration, from the process-wide count
/// (malloc, calloc, realloc; operator new, libcurl and OpenSSL end there).
/// Reads -1 under a sanitizer.
inline void report_allocs(benchmark::State& state, long before)
{
  const long after = scrt_allocation_count();
  state.counters["allocs/op"] =
      before < 0 || state.iterations() == 0 ? -1.0 : static_cast<double>(after - before) / state.iterations();
}

/// The allocations, and the number of wrong results, which fails the case.
inline void report(benchmark::State& state, long failures, long allocs_before)
{
  report_allocs(state, allocs_before);
  state.counters["failures"] = static_cast<double>(failures);
  if (failures != 0)
    state.SkipWithError("some results were wrong");
}
}  // namespace login_bench

#endif /* BENCH_LOGIN_BENCH_H */

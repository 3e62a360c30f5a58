// bench_login's signing cases (the login cases: login_bench.cpp).
//
// sign: the module's request signing (clock, text to sign, HMAC-SHA256,
// Base64, percent-encoding, three headers on a new request) against bare
// OpenSSL calls: one MAC context fetched once and re-keyed per call, Base64
// by EVP_EncodeBlock and the percent-encoding written out in
// bench/login_bench.h, into stack buffers.

#include <ctime>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "bench/login_bench.h"
#include "devhost/harness/http_access.h"
#include "host/crypto.h"
#include "host/http.h"
#include "quorvane/common/auth_info.h"
#include "quorvane/core/quorvane_client.h"
#include "scrt/http_helpers.h"
#include "scrt/snprintf_t.h"
#include "scrt/time_constants.h"

namespace
{
using namespace login_bench;

/// The signing client with its signing step reachable.
class Signing_Client : public quorvane::Quorvane_Client
{
public:
  explicit Signing_Client(const quorvane::Auth_Info& info) : Quorvane_Client(info) {}
  using Quorvane_Client::sign;
};

quorvane::Auth_Info account()
{
  quorvane::Auth_Info info;
  info.host = "127.0.0.1";
  info.access_key = AK;
  info.secret_key.assign(SK, sizeof SK - 1);
  return info;
}

void sign(benchmark::State& state)
{
  Signing_Client client(account());
  // Before timing: the module's signature is the floor's, for the same
  // Client-Now.
  {
    HTTP_Request req(HTTP_METHOD_GET, SETTINGS, false);
    Mac_Floor floor;
    char want[Mac_Floor::OUT_SIZE];
    const char* now = nullptr;
    const char* got = nullptr;
    if (!client.sign(SETTINGS, nullptr, req) ||
        (now = devhost::header_value(req.headers(), "Client-Now", true)) == nullptr ||
        (got = devhost::header_value(req.headers(), "X-Auth-Signature", true)) == nullptr ||
        floor.sign(SK, text_to_sign(now), want) == 0 || std::string(want) != got)
    {
      state.SkipWithError("the module's signature differs from the floor's");
      return;
    }
  }
  // The path as get() hands it over, a string made once.
  const std::string uri = SETTINGS;
  long failures = 0;
  const long allocs = scrt_allocation_count();
  // The request is the caller's (get() makes it before signing); sign's
  // work is to compute the signature and put the three headers on it, which
  // replace the previous iteration's.
  HTTP_Request req(HTTP_METHOD_GET, uri.c_str(), false);
  for (auto _ : state)
  {
    if (!client.sign(uri, nullptr, req))
      ++failures;
    benchmark::DoNotOptimize(&req);
  }
  report(state, failures, allocs);
}
BENCHMARK(sign)->ComputeStatistics("min", min_of);

void sign_floor(benchmark::State& state)
{
  Mac_Floor floor;
  const std::string key = SK;
  const std::string text = text_to_sign(client_now());
  char out[Mac_Floor::OUT_SIZE];
  long failures = 0;
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    if (floor.sign(key, text, out) == 0)
      ++failures;
    benchmark::DoNotOptimize(out);
  }
  report(state, failures, allocs);
}
BENCHMARK(sign_floor)->ComputeStatistics("min", min_of);

// Where sign's time goes: each step as sign does it, alone.  The text to
// sign (clock, its decimal form, the bounded formatter), the host's HMAC
// with its Base64, the host's percent-encoder into a new string, and a new
// request given the three headers.
void sign_part_text(benchmark::State& state)
{
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    const std::string millisec = std::to_string(static_cast<long long>(std::time(nullptr)) * MSEC_PER_SEC);
    snprintf_t<128> str("%s_%s_%s_%s", millisec.c_str(), AK, SETTINGS, "");
    benchmark::DoNotOptimize(str.c_str());
  }
  report_allocs(state, allocs);
}
BENCHMARK(sign_part_text)->ComputeStatistics("min", min_of);

void sign_part_hmac(benchmark::State& state)
{
  const std::string text = text_to_sign(client_now());
  long failures = 0;
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    HMAC_Generator gen(SK, sizeof SK - 1, text.data(), static_cast<unsigned long>(text.size()), "sha256",
                       true);
    if (!gen)
      ++failures;
    benchmark::DoNotOptimize(gen.get());
  }
  report(state, failures, allocs);
}
BENCHMARK(sign_part_hmac)->ComputeStatistics("min", min_of);

void sign_part_encode(benchmark::State& state)
{
  const std::string text = text_to_sign(client_now());
  HMAC_Generator gen(SK, sizeof SK - 1, text.data(), static_cast<unsigned long>(text.size()), "sha256", true);
  const char* b64 = reinterpret_cast<const char*>(gen.get());
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    std::string encoded;
    http_encode_string(b64, HUT_FLAG_SLASH | HUT_FLAG_UPPERCASE, encoded);
    benchmark::DoNotOptimize(encoded.data());
  }
  report_allocs(state, allocs);
}
BENCHMARK(sign_part_encode)->ComputeStatistics("min", min_of);

void sign_part_headers(benchmark::State& state)
{
  const std::string now = client_now();
  Mac_Floor floor;
  char sig[Mac_Floor::OUT_SIZE];
  floor.sign(SK, text_to_sign(now), sig);
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    HTTP_Request req(HTTP_METHOD_GET, SETTINGS, false);
    HTTP_Headers& headers = req.headers();
    headers.put("Client-Now", now.c_str(), true);
    headers.put("X-Auth-Accesskey", AK, true);
    headers.put("X-Auth-Signature", sig, true);
    benchmark::DoNotOptimize(&req);
  }
  report_allocs(state, allocs);
}
BENCHMARK(sign_part_headers)->ComputeStatistics("min", min_of);

}  // namespace

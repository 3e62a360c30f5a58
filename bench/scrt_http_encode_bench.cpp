// http_encode_string_i into a std::string, side by side with libcurl's
// curl_easy_escape and with memcpy of the same bytes, on three inputs: the
// signature text that request signing encodes, a mixed query value, and
// 4 KiB of random bytes.  Flag word 5 (HUT_FLAG_SLASH | HUT_FLAG_UPPERCASE)
// gives exactly curl's output, which the set-up checks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "scrt/http_helpers.h"

long scrt_allocation_count();

namespace
{
const ACE_UINT64 CURL_FLAGS = HUT_FLAG_SLASH | HUT_FLAG_UPPERCASE;

std::string random_bytes(size_t n)
{
  std::mt19937 gen(42);
  std::uniform_int_distribution<int> byte(1, 255);  // no NUL: the encoder stops there
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s += static_cast<char>(byte(gen));
  return s;
}

const std::string& input(int which)
{
  // Base64 of 32 random bytes, as an HMAC-SHA256 signature text.
  static const std::string signature = "NGC+MSAeaf7aoO7ouZl/XHwpmf2v5ZMlPNZUr0361xQ=";
  static const std::string query =
      "Backup set 2024-06-01 (daily) /vol1/Fotos/\xC3\x9C \xC3\xB1, 50%+tax=ok?a=b&";
  static const std::string random = random_bytes(4096);
  static_assert(sizeof "NGC+MSAeaf7aoO7ouZl/XHwpmf2v5ZMlPNZUr0361xQ=" - 1 == 44, "signature size");
  static_assert(
      sizeof "Backup set 2024-06-01 (daily) /vol1/Fotos/\xC3\x9C \xC3\xB1, 50%+tax=ok?a=b&" - 1 == 64,
      "query value size");
  switch (which)
  {
    case 0:
      return signature;
    case 1:
      return query;
    default:
      return random;
  }
}

void set_counters(benchmark::State& state, const std::string& in, long allocations)
{
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["allocs/op"] =
      allocations < 0 ? -1.0 : static_cast<double>(allocations) / static_cast<double>(state.iterations());
}

bool same_as_curl(const std::string& in)
{
  std::string ours;
  http_encode_string_i(in.c_str(), CURL_FLAGS, std::back_inserter(ours));
  char* theirs = curl_easy_escape(nullptr, in.data(), static_cast<int>(in.size()));
  const bool same = theirs != nullptr && ours == theirs;
  curl_free(theirs);
  return same;
}

// What a caller writes: a fresh string per call, grown by the encoder.
void encode_fresh(benchmark::State& state, int which)
{
  const std::string& in = input(which);
  if (!same_as_curl(in))
    state.SkipWithError("output differs from curl_easy_escape");
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    std::string out;
    http_encode_string_i(in.c_str(), CURL_FLAGS, std::back_inserter(out));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, in, before < 0 ? -1 : scrt_allocation_count() - before);
}

// The encoder alone: the string keeps its capacity between calls.
void encode_reused(benchmark::State& state, int which)
{
  const std::string& in = input(which);
  std::string out;
  out.reserve(3 * in.size());
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    out.clear();
    http_encode_string_i(in.c_str(), CURL_FLAGS, std::back_inserter(out));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, in, before < 0 ? -1 : scrt_allocation_count() - before);
}

void curl_escape(benchmark::State& state, int which)
{
  const std::string& in = input(which);
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    char* out = curl_easy_escape(nullptr, in.data(), static_cast<int>(in.size()));
    benchmark::DoNotOptimize(out);
    curl_free(out);
  }
  set_counters(state, in, before < 0 ? -1 : scrt_allocation_count() - before);
}

void copy_bytes(benchmark::State& state, int which)
{
  const std::string& in = input(which);
  std::string out(in.size(), '\0');
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    std::memcpy(&out[0], in.data(), in.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, in, before < 0 ? -1 : scrt_allocation_count() - before);
}

BENCHMARK_CAPTURE(encode_fresh, signature_44, 0);
BENCHMARK_CAPTURE(encode_reused, signature_44, 0);
BENCHMARK_CAPTURE(curl_escape, signature_44, 0);
BENCHMARK_CAPTURE(copy_bytes, signature_44, 0);
BENCHMARK_CAPTURE(encode_fresh, query_64, 1);
BENCHMARK_CAPTURE(encode_reused, query_64, 1);
BENCHMARK_CAPTURE(curl_escape, query_64, 1);
BENCHMARK_CAPTURE(copy_bytes, query_64, 1);
BENCHMARK_CAPTURE(encode_fresh, random_4096, 2);
BENCHMARK_CAPTURE(encode_reused, random_4096, 2);
BENCHMARK_CAPTURE(curl_escape, random_4096, 2);
BENCHMARK_CAPTURE(copy_bytes, random_4096, 2);
}  // namespace

BENCHMARK_MAIN();

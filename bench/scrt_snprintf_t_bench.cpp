// snprintf_t<128> formatting the text to sign ("%s_%s_%s_%s" from the clock
// in milliseconds, the access key, the path and the query string), side by
// side with std::snprintf into a stack buffer (the floor) and into a
// std::string sized by a first counting pass (what a caller would write).
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "scrt/snprintf_t.h"

long scrt_allocation_count();

namespace
{
const char* const FORMAT = "%s_%s_%s_%s";
const char* const MILLISEC = "1717171717000";
const char* const ACCESS_KEY = "QVAK4F2D9B1E7C3A5F60";
const char* const PATH = "/fcc/v1/settings";

/// The query-string field: empty for the settings request, or a long one
/// that pushes the text past the inline buffer.
const char* query(int which)
{
  static const std::string long_query = "prefix=" + std::string(150, 'q');
  return which == 0 ? "" : long_query.c_str();
}

void set_counters(benchmark::State& state, long before)
{
  const long after = scrt_allocation_count();
  state.counters["allocs/op"] = before < 0 ? -1.0 : static_cast<double>(after - before) / state.iterations();
}

void snprintf_t_128(benchmark::State& state, int which)
{
  const char* q = query(which);
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    snprintf_t<128> text(FORMAT, MILLISEC, ACCESS_KEY, PATH, q);
    benchmark::DoNotOptimize(text.c_str());
    benchmark::DoNotOptimize(text.length());
  }
  set_counters(state, before);
  state.SetLabel(std::to_string(snprintf_t<128>(FORMAT, MILLISEC, ACCESS_KEY, PATH, q).length()) + " chars");
}

void snprintf_stack(benchmark::State& state, int which)
{
  const char* q = query(which);
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, FORMAT, MILLISEC, ACCESS_KEY, PATH, q);
    benchmark::DoNotOptimize(buf);
    benchmark::DoNotOptimize(n);
  }
  set_counters(state, before);
}

void snprintf_string(benchmark::State& state, int which)
{
  const char* q = query(which);
  const long before = scrt_allocation_count();
  for (auto _ : state)
  {
    const int n = std::snprintf(nullptr, 0, FORMAT, MILLISEC, ACCESS_KEY, PATH, q);
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(&text[0], text.size() + 1, FORMAT, MILLISEC, ACCESS_KEY, PATH, q);
    benchmark::DoNotOptimize(text.data());
  }
  set_counters(state, before);
}

BENCHMARK_CAPTURE(snprintf_t_128, text_to_sign, 0);
BENCHMARK_CAPTURE(snprintf_stack, text_to_sign, 0);
BENCHMARK_CAPTURE(snprintf_string, text_to_sign, 0);
BENCHMARK_CAPTURE(snprintf_t_128, long_text, 1);
BENCHMARK_CAPTURE(snprintf_string, long_text, 1);
}  // namespace

BENCHMARK_MAIN();

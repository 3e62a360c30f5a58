# Benchmarks of scrt/: each program runs the support code side by side with
# its anchors, and counts heap allocations per iteration.
quorvane_add_bench(bench_scrt_http_encode
  SOURCES scrt_alloc_counter.cpp scrt_http_encode_bench.cpp
  LIBS CURL::libcurl)
quorvane_add_bench(bench_scrt_snprintf_t
  SOURCES scrt_alloc_counter.cpp scrt_snprintf_t_bench.cpp)

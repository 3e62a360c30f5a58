# The login against its floors: request signing against bare OpenSSL calls,
# and a whole login through the loaded module against an RSA decryption, a
# GET on a reused libcurl handle and a JSON parse.  It needs the tests'
# support code (the module loader, the emulator launcher, the throwaway
# key), which is only built when the tests are.
if(TARGET test_support)
  quorvane_add_bench(bench_login
    SOURCES sign_bench.cpp login_bench.cpp scrt_alloc_counter.cpp
    LIBS quorvane_code test_support CURL::libcurl OpenSSL::Crypto)
  # The module is loaded with dlopen and the emulator run as a program:
  # neither is a link dependency.
  add_dependencies(bench_login quorvane quorvane-mock-service)
endif()

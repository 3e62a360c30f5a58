# Benchmarks of the development host's services (devhost/full/): each
# program runs a service side by side with the OpenSSL or libcurl usage it
# must stay close to.
quorvane_add_bench(bench_services_crypto
  SOURCES services_crypto_bench.cpp
  LIBS OpenSSL::Crypto)

# The REST client is measured against the service emulator on loopback,
# started through the tests' launcher.
quorvane_add_bench(bench_services_http
  SOURCES services_http_bench.cpp ${PROJECT_SOURCE_DIR}/tests/support/child_process.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/mock_service.cpp ${PROJECT_SOURCE_DIR}/tests/support/program.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/spawn.cpp
  LIBS CURL::libcurl)
target_compile_definitions(bench_services_http PRIVATE QUORVANE_BIN_DIR="${PROJECT_BINARY_DIR}/bin")
add_dependencies(bench_services_http quorvane-mock-service)

#ifndef TOOLS_MOCK_SERVICE_SERVER_H
#define TOOLS_MOCK_SERVICE_SERVER_H

#include "tools/mock_service/options.h"

namespace mock_service
{
/**
 * Serves @a cfg until a stop signal (blocked beforehand with
 * `tools::block_stop_signals`): binds, writes "listening on HOST:PORT"
 * on stdout once a stop request is honoured, then answers requests (HTTP,
 * or HTTPS with a certificate; for the "close" fault a bare socket that
 * closes every connection at once).  The process exit status: 0 after a
 * stop, 1 when it cannot listen or use the certificate.
 */
int serve(const Config& cfg);

}  // namespace mock_service

#endif /* TOOLS_MOCK_SERVICE_SERVER_H */

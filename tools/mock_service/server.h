#ifndef TOOLS_MOCK_SERVICE_SERVER_H
#define TOOLS_MOCK_SERVICE_SERVER_H

#include <signal.h>

#include "tools/mock_service/options.h"

namespace mock_service
{
/// The signals that stop the emulator (SIGTERM, SIGINT).  The caller
/// blocks them in every thread before any starts, so that only the
/// server's own sigwait takes them.
sigset_t stop_signals();

/**
 * Serves @a cfg until a stop signal: binds, writes "listening on HOST:PORT"
 * on stdout once a stop request is honoured, then answers requests (HTTP,
 * or HTTPS with a certificate; for the "close" fault a bare socket that
 * closes every connection at once).  The process exit status: 0 after a
 * stop, 1 when it cannot listen or use the certificate.
 */
int serve(const Config& cfg);

}  // namespace mock_service

#endif /* TOOLS_MOCK_SERVICE_SERVER_H */

#ifndef SCRT_TIME_CONSTANTS_H
#define SCRT_TIME_CONSTANTS_H

/// Milliseconds in one second.
constexpr long long MSEC_PER_SEC = 1000;

#endif /* SCRT_TIME_CONSTANTS_H */

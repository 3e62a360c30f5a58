#ifndef BENCH_BENCH_SUPPORT_H
#define BENCH_BENCH_SUPPORT_H

#include <algorithm>
#include <vector>

/**
 * The fastest repetition, as an extra statistic (`ComputeStatistics("min",
 * min_of)`).  On a shared two-core machine the medians of a request and its
 * reply between two processes swing with the neighbours' load; the fastest
 * repetition is the steadier measure of what the code itself costs.
 */
inline double min_of(const std::vector<double>& v)
{
  return *std::min_element(v.begin(), v.end());
}

#endif /* BENCH_BENCH_SUPPORT_H */

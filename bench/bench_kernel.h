// The kernel limit of a benchmark run: MARLINOK_KERNEL=portable|adx|ifma in
// the environment caps the Montgomery kernels for the whole run (the fastest
// the processor runs when unset). The chosen kernel, the processor's features
// and OpenSSL's capability mask are printed with the run's context.
#ifndef MARLINOK_BENCH_BENCH_KERNEL_H
#define MARLINOK_BENCH_BENCH_KERNEL_H

#include "mp/montgomery.h"

namespace marlinok::bench {

// The limit set from the environment; benchmarks that force another limit
// put this one back.
mp::detail::Kernel RunKernelLimit();

// The kernel the exponentiation uses now, as a benchmark label.
const char* KernelLabel();

}  // namespace marlinok::bench

#endif

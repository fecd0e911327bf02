#include "bench_kernel.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace marlinok::bench {

namespace {

using mp::detail::Kernel;

// The processor features the kernels care about, from CPUID.
std::string CpuFeatures() {
  std::string out;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  char brand[49] = {};
  if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) != 0 && eax >= 0x80000004u) {
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
      unsigned r[4];
      __get_cpuid(0x80000002u + leaf, &r[0], &r[1], &r[2], &r[3]);
      std::memcpy(brand + 16 * leaf, r, 16);
    }
    out = brand;
    out += ":";
  }
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) {
    const struct {
      unsigned bit;
      const char* name;
    } features[] = {{8, "bmi2"}, {19, "adx"},     {29, "sha"},
                    {5, "avx2"}, {16, "avx512f"}, {21, "avx512ifma"}};
    for (const auto& f : features) {
      if ((ebx & (1u << f.bit)) != 0) {
        out += " ";
        out += f.name;
      }
    }
  }
#endif
  return out.empty() ? "unknown" : out;
}

Kernel FromEnvironment() {
  const char* name = std::getenv("MARLINOK_KERNEL");
  if (name == nullptr || std::strcmp(name, "ifma") == 0) return Kernel::kIfma;
  if (std::strcmp(name, "adx") == 0) return Kernel::kAdx;
  if (std::strcmp(name, "portable") == 0) return Kernel::kPortable;
  std::fprintf(stderr, "MARLINOK_KERNEL=%s: expected portable, adx or ifma\n", name);
  std::exit(64);
}

const Kernel run_limit = [] {
  const Kernel limit = FromEnvironment();
  mp::detail::MontgomeryLimitKernel(limit);
  benchmark::AddCustomContext("mp_kernel", mp::detail::KernelName(mp::detail::MontgomeryKernel()));
  benchmark::AddCustomContext("cpu", CpuFeatures());
  const char* cap = std::getenv("OPENSSL_ia32cap");
  benchmark::AddCustomContext("OPENSSL_ia32cap", cap != nullptr ? cap : "(unset)");
  return limit;
}();

}  // namespace

Kernel RunKernelLimit() { return run_limit; }

const char* KernelLabel() { return mp::detail::KernelName(mp::detail::MontgomeryKernel()); }

}  // namespace marlinok::bench

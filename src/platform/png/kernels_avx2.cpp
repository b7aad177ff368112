// The AVX2 kernels, for processors with AVX2 and BMI2.
#if defined(__x86_64__) || defined(__i386__)

#define FASTPNG_ATTR __attribute__((target("avx2,bmi2")))
#define FASTPNG_KERNELS kAvx2Kernels
#include "platform/png/avx2_kernels.inc"

#endif

// The cores in this process's affinity mask, which taskset and cgroups
// narrow; hardware_concurrency counts every core of the machine.
#include <sched.h>

#include <thread>

#include "platform/common/processors.h"

unsigned ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned all = std::thread::hardware_concurrency();
    return all > 0 ? all : 1;
}

// Thread names on Linux: the kernel keeps 15 characters of it as the task's comm.
#include "toolkit/toolkit.h"

#include <pthread.h>

#include <cstring>

namespace veltrace::toolkit {

void threadSetName(const char* name) {
    char kept[16] = {};
    std::strncpy(kept, name, sizeof kept - 1);
    pthread_setname_np(pthread_self(), kept);
}

} // namespace veltrace::toolkit

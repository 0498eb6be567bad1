// One running copy per sign-in: the first claims a mutex of a fixed name.
// Portable: start-up decides with it.
#pragma once

#include "platform/platform.h"
#include "platform/unique_handle.h"

namespace tavelio {

using UniqueKernelObject = UniqueHandle<platform::KernelHandle, platform::closeKernelHandle>;

enum class InstanceClaim {
    claimed,         // this copy runs; the mutex is held until the program ends
    anotherInstance, // another copy holds the name (elevated ones too): end quietly
    failed,          // no mutex could be made (another program may own an object of that name)
};

InstanceClaim claimSingleInstance(UniqueKernelObject& held);

} // namespace tavelio

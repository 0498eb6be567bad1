#include "app/single_instance.h"

#include <string>
#include <utility>

namespace tavelio {

InstanceClaim claimSingleInstance(UniqueKernelObject& held) {
    const platform::MutexCreation created =
        platform::createOwnedMutex(u"Local\\TavelioSingleInstance");
    UniqueKernelObject mutex(created.handle);
    if (!mutex) {
        return InstanceClaim::failed;
    }
    if (created.existed) {
        return InstanceClaim::anotherInstance;
    }
    held = std::move(mutex);
    return InstanceClaim::claimed;
}

} // namespace tavelio

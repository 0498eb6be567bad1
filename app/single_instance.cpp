#include "app/single_instance.h"

#include <string>
#include <utility>

namespace tavelio {

InstanceClaim claimSingleInstance(UniqueKernelObject& held) {
    const platform::MutexCreation created =
        platform::createOwnedMutex(u"Local\\TavelioSingleInstance");
    UniqueKernelObject mutex(created.handle);
    constexpr std::uint32_t ErrorAccessDenied = 5;
    if (!mutex) {
        // An elevated copy's mutex cannot be opened with normal rights, yet it
        // is a running Tavelio all the same.
        return created.error == ErrorAccessDenied ? InstanceClaim::anotherInstance
                                                  : InstanceClaim::failed;
    }
    if (created.existed) {
        return InstanceClaim::anotherInstance;
    }
    held = std::move(mutex);
    return InstanceClaim::claimed;
}

} // namespace tavelio

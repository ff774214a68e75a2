#include "catalogue/ModuleApi.h"

namespace pelorin {

const ModuleApi& PlatformModuleApi() {
    static const ModuleApi api{&::GetModuleHandleA, &::LoadLibraryA, &::GetProcAddress};
    return api;
}

}  // namespace pelorin

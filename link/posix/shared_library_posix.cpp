#include "link/shared_library.h"

#include <dlfcn.h>

namespace velmar {

void* LoadSharedLibrary(const char* file) {
    return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

void* FindLibraryEntry(void* library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void UnloadSharedLibrary(void* library) {
    if (library != nullptr) dlclose(library);
}

} // namespace velmar

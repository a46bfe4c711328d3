// Loading a shared library by file name and finding its entries (dlopen / LoadLibrary).
#pragma once

namespace velmar {

void* LoadSharedLibrary(const char* file); // null when it cannot be loaded
void* FindLibraryEntry(void* library, const char* name);
void UnloadSharedLibrary(void* library);

} // namespace velmar

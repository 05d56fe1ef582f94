// SPDX-License-Identifier: Apache-2.0
// Loading OpenSSL's libcrypto on first need (libcrypto.h).
#define JET_LIBCRYPTO_LOADER
#include "libcrypto.h"

#include <dlfcn.h>

namespace jet {
namespace {

Libcrypto loaded;

}  // namespace

bool LoadLibcrypto() {
  static const bool found = [] {
    // Kept for the whole process: decryptors may still use it during exit.
    void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    bool all = true;
#define JET_LIBCRYPTO_FIND(name)                                                         \
  loaded.name##_ = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));         \
  all = all && loaded.name##_ != nullptr;
    JET_LIBCRYPTO_FUNCTIONS(JET_LIBCRYPTO_FIND)
#undef JET_LIBCRYPTO_FIND
    return all;
  }();
  return found;
}

const Libcrypto& LoadedLibcrypto() { return loaded; }

}  // namespace jet

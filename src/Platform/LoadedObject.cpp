#include "Platform/LoadedObject.hpp"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <memory>

namespace tallowmere {
namespace {

std::string resolved(const char* path) {
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path, nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

}  // namespace

std::string loadedObjectPath(const void* address) {
  Dl_info info{};
  void* extra = nullptr;
  // The list of loaded objects names every shared library by the path it was opened with; the
  // program itself has an empty name there, and a fully static program no list at all.
  if (dladdr1(address, &info, &extra, RTLD_DL_LINKMAP) != 0 && extra != nullptr) {
    const auto* object = static_cast<const link_map*>(extra);
    if (object->l_name != nullptr && object->l_name[0] != '\0') return resolved(object->l_name);
  }
  return resolved("/proc/self/exe");
}

}  // namespace tallowmere

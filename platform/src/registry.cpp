// The class registry: a text file that maps CLSIDs to in-process server
// modules, one class per line:
//
//   {834FBEE5-D957-11D3-9C50-0060972F00DC} libScanMonturaSim.so Both
//
// The module path is relative to the registry's own folder (or absolute); the
// threading model at the end is optional. Blank lines and lines starting with
// '#' are ignored. The file is read again at each lookup that the class
// factory cache cannot answer, so it may change while the process runs.
#include "internal.h"

#if defined(_WIN32)
#error "the class registry of libjtzcom is POSIX only; Windows has its own"
#endif

#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace jtzcom {
namespace {

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string trim(const std::string& s) {
  const size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

bool is_threading_model(const std::string& word) {
  return word == "Apartment" || word == "Free" || word == "Both" || word == "Neutral" ||
         word == "Single";
}

}  // namespace

std::string registry_path() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read when a class is created, not while it is set.
  if (const char* env = std::getenv("JTZCOM_REGISTRY"); env && *env) return env;
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&registry_path), &info) || !info.dli_fname) return "";
  return folder_of(info.dli_fname) + "/com-registry";
}

std::string find_server_module(REFCLSID clsid, std::string* why) {
  const std::string registry = registry_path();
  errno = 0;
  std::ifstream in(registry);
  if (!in) {
    const int error = errno;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): strerror's text is copied at once.
    const std::string reason = error ? std::string(" (") + std::strerror(error) + ")" : "";
    *why = "the class registry " + registry + " cannot be read" + reason;
    return "";
  }
  std::string line;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t end_of_clsid = line.find_first_of(" \t");
    if (end_of_clsid == std::string::npos) continue;
    GUID registered;
    if (!parse_guid(line.data(), end_of_clsid, &registered) || registered != clsid) continue;

    // The rest is the module path (which may hold spaces), then perhaps a model.
    std::string module = trim(line.substr(end_of_clsid));
    const size_t last_space = module.find_last_of(" \t");
    if (last_space != std::string::npos && is_threading_model(module.substr(last_space + 1)))
      module = trim(module.substr(0, last_space));
    if (module.empty()) {
      *why = registry + " names no library for it";
      return "";
    }
    return module[0] == '/' ? module : folder_of(registry) + "/" + module;
  }
  *why = registry + " has no line for it";
  return "";
}

}  // namespace jtzcom

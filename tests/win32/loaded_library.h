// marlinok.dll loaded for one test, and its exports looked up the way a Windows program does.
#ifndef MARLINOK_TESTS_WIN32_LOADED_LIBRARY_H
#define MARLINOK_TESTS_WIN32_LOADED_LIBRARY_H

#include <windows.h>

#include <cstdint>

namespace marlinok::test {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* name) : module_(LoadLibraryA(name)) {}
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  HMODULE module() const { return module_; }

  // The address of an export, by name or by ordinal; null when there is none.
  void* Find(const char* name) const { return AsPointer(GetProcAddress(module_, name)); }
  void* Find(uint16_t ordinal) const {
    return AsPointer(GetProcAddress(module_, MAKEINTRESOURCEA(ordinal)));
  }

  // An export as a typed function; `Fn` is the export's function-pointer type.
  template <class Fn>
  Fn Function(const char* name) const {
    // void (*)() converts to and from any function type without a cast-function-type warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

 private:
  static void* AsPointer(FARPROC proc) {
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(proc));
  }

  HMODULE module_;
};

}  // namespace marlinok::test

#endif

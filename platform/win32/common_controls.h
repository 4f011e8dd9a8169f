// The common controls, loaded at run time rather than imported. An imported
// comctl32 starts before WinMain, and its start makes the window system load
// the display driver, which Wine looks up by name: then the current directory
// and PATH would still be searched. Loaded once the program has limited the
// search (platform/library_search.h), the driver comes only from the
// program's folder or the system folder.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace platform {

class CommonControls {
 public:
  // The calls that the program uses, of the library as loaded by Start;
  // each null when it is not loaded or lacks the call.
  BOOL(WINAPI* initCommonControlsEx)(const INITCOMMONCONTROLSEX*) = nullptr;
  BOOL(WINAPI* setWindowSubclass)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR) = nullptr;
  BOOL(WINAPI* removeWindowSubclass)(HWND, SUBCLASSPROC, UINT_PTR) = nullptr;
  LRESULT(WINAPI* defSubclassProc)(HWND, UINT, WPARAM, LPARAM) = nullptr;

  CommonControls() {
    HMODULE library = GetModuleHandleW(L"comctl32.dll");
    if (library == nullptr) {
      return;
    }
    Find(library, "InitCommonControlsEx", initCommonControlsEx);
    Find(library, "SetWindowSubclass", setWindowSubclass);
    Find(library, "RemoveWindowSubclass", removeWindowSubclass);
    Find(library, "DefSubclassProc", defSubclassProc);
    // A subclass is set only where it can be served and removed again.
    if (removeWindowSubclass == nullptr || defSubclassProc == nullptr) {
      setWindowSubclass = nullptr;
    }
  }

  // Loads the library and registers the standard control classes; to be
  // called once the search is limited. By name, so that the manifest's
  // version 6 comes from the side-by-side store; the limited search keeps
  // any other copy to the program's and the system folder. Kept for the
  // life of the process, as an import would be.
  static void Start() {
    if (LoadLibraryW(L"comctl32.dll") == nullptr) {
      return;
    }
    if (const CommonControls controls; controls.initCommonControlsEx != nullptr) {
      INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES};
      controls.initCommonControlsEx(&classes);
    }
  }

 private:
  template <class Call>
  static void Find(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  }
};

}  // namespace platform

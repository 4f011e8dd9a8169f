// The dialog facility on Windows: a top-level window of the program's own
// class holding standard BUTTON controls, so that screen readers and UI
// automation see ordinary check boxes and push buttons.
#include "platform/form.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/guarded.h"
#include "platform/startup_trace.h"
#include "platform/unique_handle.h"
#include "platform/win32/common_controls.h"

namespace platform {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr int kTwipsPerInch = 1440;

// Fixed border, caption, system menu and minimize box; a taskbar button.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

using UniqueFont = UniqueHandle<HFONT, &::DeleteObject>;

// The calls that let a window follow its own monitor's DPI (Windows 10,
// version 1607 and later), looked up at run time: the program still starts
// where they are missing, and there the system's DPI is the only one.
struct DpiCalls {
  UINT(WINAPI* getDpiForSystem)() = nullptr;
  UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
  BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  BOOL(WINAPI* systemParametersInfoForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;

  DpiCalls() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    Find(user32, "GetDpiForSystem", getDpiForSystem);
    Find(user32, "GetDpiForWindow", getDpiForWindow);
    Find(user32, "AdjustWindowRectExForDpi", adjustWindowRectExForDpi);
    Find(user32, "SystemParametersInfoForDpi", systemParametersInfoForDpi);
  }

  // The system's DPI, which a new window gets on the primary monitor. Asked
  // without a screen device context where the system can tell it: making
  // one costs more than the question.
  [[nodiscard]] int ScreenDpi() const {
    if (getDpiForSystem != nullptr) {
      return static_cast<int>(getDpiForSystem());
    }
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
  }

 private:
  template <class Call>
  static void Find(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  }
};

// The font the system uses for message boxes, at `dpi`: what users expect in
// a dialog, as large as on a fresh start on a monitor of that DPI.
LOGFONTA MessageFont(const DpiCalls& calls, int dpi) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTA font{};
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) != 0) {
    font = metrics.lfMessageFont;
  } else {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  }
  // Those metrics are the system DPI's; the sizes at another DPI come from the
  // system too where it can tell them.
  NONCLIENTMETRICSW scaled{};
  scaled.cbSize = sizeof(scaled);
  if (calls.systemParametersInfoForDpi != nullptr &&
      calls.systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(scaled), &scaled, 0,
                                       static_cast<UINT>(dpi)) != 0) {
    font.lfHeight = scaled.lfMessageFont.lfHeight;
    font.lfWidth = scaled.lfMessageFont.lfWidth;
  } else {
    const int system = calls.ScreenDpi();
    font.lfHeight = MulDiv(font.lfHeight, dpi, system);
    font.lfWidth = MulDiv(font.lfWidth, dpi, system);
  }
  return font;
}

bool IsPushButton(HWND control) {
  const auto type = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

}  // namespace

struct Form::Impl {
  struct Control {
    ControlLayout layout;
    HWND window = nullptr;
    int width = 0;  // twips
    LOGFONTA font{};
    int points = 0;  // a size given in points; 0 while the size is the system's
    UniqueFont hfont;
  };

  FormEvents& events;
  HWND window = nullptr;
  HWND lastFocus = nullptr;
  const DpiCalls calls;
  int dpi = 96;         // the window's, once it exists
  int clientWidth = 0;  // twips
  int clientHeight = 0;
  int iconId = 0;  // given to the window when it is first shown
  // Made when first needed: a run whose window never shows, such as the
  // installer's, is spared the controls and their fonts.
  std::span<const ControlLayout> pending;
  std::vector<Control> controls;
  // The message font, shared by the controls until one gets a font of its own.
  UniqueFont messageFont;

  Impl(FormEvents& owner, const FormLayout& layout)
      : events(owner),
        clientWidth(layout.clientWidth),
        clientHeight(layout.clientHeight),
        pending(layout.controls) {}

  [[nodiscard]] int Pixels(int twips) const { return MulDiv(twips, dpi, kTwipsPerInch); }

  // Creates the controls, in tab order: the order of creation is the order Tab follows.
  void CreateControls() {
    if (window == nullptr || pending.empty()) {
      return;
    }
    const LOGFONTA font = MessageFont(calls, dpi);
    messageFont.reset(CreateFontIndirectA(&font));
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const ControlLayout& control : std::exchange(pending, {})) {
      DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
      style |=
          control.kind == ControlKind::CheckBox ? (BS_AUTOCHECKBOX | BS_MULTILINE) : BS_PUSHBUTTON;
      HWND child = CreateWindowExA(
          0, "BUTTON", control.caption, style, Pixels(control.left), Pixels(control.top),
          Pixels(control.width), Pixels(control.height), window,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
      if (const CommonControls common; common.setWindowSubclass != nullptr) {
        common.setWindowSubclass(child, &ControlProc, kSubclassId,
                                 reinterpret_cast<DWORD_PTR>(this));
      }
      controls.push_back({control, child, control.width, font, 0, UniqueFont()});
      // The window is still hidden: nothing to redraw.
      SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(messageFont.get()), FALSE);
    }
    TraceMark("controls");
  }

  Control& Find(int id) {
    CreateControls();
    auto it = std::find_if(controls.begin(), controls.end(),
                           [&](const Control& c) { return c.layout.id == id; });
    if (it == controls.end()) {
      throw Error("no such control");
    }
    return *it;
  }

  // The DPI of the monitor that the window is on.
  [[nodiscard]] int WindowDpi() const {
    UINT own = calls.getDpiForWindow != nullptr ? calls.getDpiForWindow(window) : 0;
    return own > 0 ? static_cast<int>(own) : calls.ScreenDpi();
  }

  // Puts the window's top left corner at `x`, `y` and gives it a client area
  // of the designed size at the current DPI. Where the frame does not follow
  // the DPI as the system says it would (a first-generation per-monitor mode),
  // the measured client area corrects the size.
  void PlaceFrame(int x, int y) {
    const SIZE size = FrameSize();
    SetWindowPos(window, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    FitClient(size);
  }

  // The window's size for a client area of the designed size at the current
  // DPI, as the system computes its frame.
  [[nodiscard]] SIZE FrameSize() const {
    RECT frame{0, 0, Pixels(clientWidth), Pixels(clientHeight)};
    if (calls.adjustWindowRectExForDpi != nullptr) {
      calls.adjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, static_cast<UINT>(dpi));
    } else {
      AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
  }

  // Corrects a window of `size` whose client area came out other than designed.
  void FitClient(SIZE size) const {
    RECT client{};
    GetClientRect(window, &client);
    const int dx = Pixels(clientWidth) - client.right;
    const int dy = Pixels(clientHeight) - client.bottom;
    if (dx != 0 || dy != 0) {
      SetWindowPos(window, nullptr, 0, 0, size.cx + dx, size.cy + dy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  void PlaceControl(const Control& control) const {
    SetWindowPos(control.window, nullptr, Pixels(control.layout.left), Pixels(control.layout.top),
                 Pixels(control.width), Pixels(control.layout.height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void ApplyFont(Control& control) {
    UniqueFont font(CreateFontIndirectA(&control.font));
    if (!font) {
      return;
    }
    SendMessageA(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    control.hfont = std::move(font);  // the old font goes only after the control let go of it
  }

  // The window went to a monitor of another DPI: everything is laid out again
  // from its twips and points, at the place that Windows suggests. Focus,
  // check states and captions stay as they are.
  void ChangeDpi(int newDpi, const RECT* suggested) {
    if (newDpi <= 0) {
      return;
    }
    dpi = newDpi;
    if (suggested != nullptr) {
      // Windows' rectangle as it is, so that the window stays on the monitor
      // that asked; its client area is corrected only where that frame does
      // not hold the designed one.
      const SIZE size{suggested->right - suggested->left, suggested->bottom - suggested->top};
      SetWindowPos(window, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      FitClient(size);
    } else {
      RECT frame{};
      GetWindowRect(window, &frame);
      PlaceFrame(frame.left, frame.top);
    }
    const LOGFONTA message = MessageFont(calls, dpi);
    for (Control& control : controls) {
      PlaceControl(control);
      control.font.lfHeight =
          control.points != 0 ? -MulDiv(control.points, dpi, 72) : message.lfHeight;
      control.font.lfWidth = message.lfWidth;
      ApplyFont(control);
    }
    InvalidateRect(window, nullptr, TRUE);
  }

  // The push button that has the focus, or 0: the default button of the
  // moment, as in every dialog. No button is the default otherwise.
  [[nodiscard]] HWND DefaultButton() const {
    HWND focus = GetFocus();
    return focus != nullptr && IsChild(window, focus) != 0 && IsPushButton(focus) ? focus : nullptr;
  }

  // Esc is the form's before any control sees it. Enter presses the focused
  // push button and does nothing on a check box.
  bool PreviewKey(const MSG& message) {
    if (message.hwnd != window && IsChild(window, message.hwnd) == 0) {
      return false;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
      if (HWND button = DefaultButton()) {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
      }
      return true;
    }
    bool escape = (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) ||
                  (message.message == WM_CHAR && message.wParam == 27);
    if (!escape) {
      return false;
    }
    Guarded([&] { events.OnKeyPress(27); });
    return true;
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data);
};

LRESULT CALLBACK Form::Impl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
        Guarded([&] { self->events.OnClick(LOWORD(wParam)); });
        return 0;
      }
      break;
    case WM_CLOSE:
      Guarded([&] { self->events.OnCloseRequest(); });
      return 0;
    case DM_GETDEFID:
      // Asked by the dialog keyboard handling when the focus moves.
      if (HWND button = self->DefaultButton()) {
        return MAKELRESULT(GetDlgCtrlID(button), DC_HASDEFID);
      }
      return 0;
    case WM_DPICHANGED:
      self->ChangeDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      // Keep the focused control across switches to other windows, as dialogs do.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus) != 0) {
          self->lastFocus = focus;
        }
      } else if (self->lastFocus != nullptr && IsWindow(self->lastFocus) != 0) {
        ::SetFocus(self->lastFocus);
        return 0;
      }
      break;
    case WM_DESTROY:
      self->window = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Form::Impl::ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR /*id*/, DWORD_PTR data) {
  // Set as a subclass only where the common controls have all three calls.
  const CommonControls common;
  if (message == WM_NCDESTROY) {
    common.removeWindowSubclass(control, &ControlProc, kSubclassId);
  }
  // As in every dialog, the focused push button is the default one for as
  // long as it has the focus: it shows so, and Enter presses it. With a
  // check box focused no button is the default, and Enter does nothing.
  if ((message == WM_SETFOCUS || message == WM_KILLFOCUS) && IsPushButton(control)) {
    SendMessageA(control, BM_SETSTYLE, message == WM_SETFOCUS ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                 TRUE);
  }
  LRESULT result = common.defSubclassProc(control, message, wParam, lParam);
  bool mouseUp = message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP;
  // The button's own handling may have closed the form: then there is no one to tell.
  if (mouseUp && IsWindow(control) != 0) {
    auto* self = reinterpret_cast<Impl*>(data);
    int id = GetDlgCtrlID(control);
    Guarded([&] { self->events.OnMouseUp(id); });
  }
  return result;
}

Form::Form(const FormLayout& layout, FormEvents& events)
    : impl_(std::make_unique<Impl>(events, layout)) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  // A second form of the same process finds the class registered already.
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &Impl::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = layout.className;
  RegisterClassExA(&windowClass);

  // Centred on the primary monitor's work area, laid out at that monitor's
  // DPI, which is the system's unless it changed since the user logged on.
  // The window's own DPI, known once it exists, has the last word.
  impl_->iconId = layout.iconId;
  RECT work{};
  if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) == 0) {
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  auto centred = [&](SIZE size) {
    return POINT{work.left + std::max(0L, (work.right - work.left - size.cx) / 2),
                 work.top + std::max(0L, (work.bottom - work.top - size.cy) / 2)};
  };
  impl_->dpi = impl_->calls.ScreenDpi();
  SIZE size = impl_->FrameSize();
  POINT at = centred(size);
  impl_->window = CreateWindowExA(kExStyle, layout.className, layout.caption, kStyle, at.x, at.y,
                                  size.cx, size.cy, nullptr, nullptr, instance, impl_.get());
  if (impl_->window == nullptr) {
    return;  // closed from the start: the installer's switches need no window
  }
  if (const int own = impl_->WindowDpi(); own != impl_->dpi) {
    impl_->dpi = own;
    size = impl_->FrameSize();
    at = centred(size);
    impl_->PlaceFrame(at.x, at.y);
  } else {
    impl_->FitClient(size);
  }

  TraceMark("window");
}

Form::~Form() { Close(); }

HWND Form::Handle() const { return impl_->window; }

bool Form::IsOpen() const { return impl_->window != nullptr; }

bool Form::IsVisible() const {
  return impl_->window != nullptr && IsWindowVisible(impl_->window) != 0;
}

void Form::Show() {
  impl_->CreateControls();
  // The icons are read only for a window that shows: an installer's run,
  // whose window never does, is spared the work.
  if (impl_->iconId != 0) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    for (auto [which, width, height] : {std::array{ICON_BIG, SM_CXICON, SM_CYICON},
                                        std::array{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
      HANDLE icon = LoadImageA(instance, MAKEINTRESOURCEA(impl_->iconId), IMAGE_ICON,
                               GetSystemMetrics(width), GetSystemMetrics(height), LR_SHARED);
      SendMessageA(impl_->window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
    impl_->iconId = 0;
  }
  TraceMark("icons");
  ShowWindow(impl_->window, SW_SHOWNORMAL);
  SetForegroundWindow(impl_->window);
  if (FocusedControl() == 0 && !impl_->controls.empty()) {
    SetFocus(impl_->controls.front().layout.id);
  }
}

void Form::Close() {
  if (impl_->window != nullptr) {
    DestroyWindow(impl_->window);
  }
}

namespace {
std::string TextOf(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}
}  // namespace

std::string Form::Caption() const { return TextOf(impl_->window); }

void Form::SetCaption(const std::string& text) { SetWindowTextA(impl_->window, text.c_str()); }

std::string Form::ControlCaption(int control) const { return TextOf(impl_->Find(control).window); }

void Form::SetControlCaption(int control, const std::string& text) {
  SetWindowTextA(impl_->Find(control).window, text.c_str());
}

int Form::ControlWidth(int control) const { return impl_->Find(control).width; }

void Form::SetControlWidth(int control, int twips) {
  Impl::Control& target = impl_->Find(control);
  target.width = twips;
  impl_->PlaceControl(target);
}

Font Form::ControlFont(int control) const {
  const LOGFONTA& font = impl_->Find(control).font;
  int points = MulDiv(font.lfHeight < 0 ? -font.lfHeight : font.lfHeight, 72, impl_->dpi);
  return Font{font.lfFaceName, font.lfCharSet, points};
}

void Form::SetFontName(int control, const std::string& faceName) {
  Impl::Control& target = impl_->Find(control);
  std::array<char, LF_FACESIZE> name{};
  std::copy_n(faceName.begin(), std::min(faceName.size(), name.size() - 1), name.begin());
  std::copy(name.begin(), name.end(), target.font.lfFaceName);
  impl_->ApplyFont(target);
}

void Form::SetFontCharset(int control, int charset) {
  Impl::Control& target = impl_->Find(control);
  target.font.lfCharSet = static_cast<BYTE>(charset);
  impl_->ApplyFont(target);
}

void Form::SetFontSize(int control, int points) {
  Impl::Control& target = impl_->Find(control);
  target.points = points;
  target.font.lfHeight = -MulDiv(points, impl_->dpi, 72);
  impl_->ApplyFont(target);
}

bool Form::IsChecked(int control) const {
  return SendMessageA(impl_->Find(control).window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form::SetChecked(int control, bool checked) {
  SendMessageA(impl_->Find(control).window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int Form::FocusedControl() const {
  HWND focus = GetFocus();
  if (impl_->window == nullptr || focus == nullptr || IsChild(impl_->window, focus) == 0) {
    return 0;
  }
  return GetDlgCtrlID(focus);
}

void Form::SetFocus(int control) { ::SetFocus(impl_->Find(control).window); }

int Form::RunEventLoop() {
  MSG message{};
  while (impl_->window != nullptr && GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (impl_->PreviewKey(message)) {
      continue;
    }
    // Tab, Shift+Tab and Space work as in any dialog.
    if (impl_->window != nullptr && IsDialogMessageA(impl_->window, &message) != 0) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

void CloseOtherDialog(HWND window, DWORD milliseconds) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  // An elevated instance may refuse even this; then it is only asked.
  UniqueHandle<HANDLE, &::CloseHandle> process(OpenProcess(SYNCHRONIZE, FALSE, id));
  PostMessageA(window, WM_CLOSE, 0, 0);
  if (process) {
    WaitForSingleObject(process.get(), milliseconds);
  }
}

bool IsFormWindow(HWND window, const char* className) {
  if (window == nullptr || IsWindow(window) == 0 ||
      GetAncestor(window, GA_PARENT) != GetDesktopWindow()) {
    return false;
  }
  std::array<char, 256> name{};
  int length = GetClassNameA(window, name.data(), static_cast<int>(name.size()));
  return length > 0 && lstrcmpiA(name.data(), className) == 0;
}

}  // namespace platform

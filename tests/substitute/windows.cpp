// Substitutes for window messages and the dialog facility: windows are
// names in a table, calls are recorded, the form keeps its state in memory.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/error.h"
#include "substitute/fake_windows.h"
#include "platform/form.h"

namespace {

struct WindowTable {
  std::map<std::uintptr_t, std::string> classes;
  std::vector<platform::fake::WindowCall> calls;
  std::uintptr_t next = 0x10000;
  bool refuseForms = false;
};

WindowTable& Windows() {
  static WindowTable table;
  return table;
}

std::uintptr_t Id(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

BOOL Record(platform::fake::WindowCall::Kind kind, HWND window, UINT message, WPARAM wParam,
            LPARAM lParam) {
  Windows().calls.push_back({kind, window, message, wParam, lParam});
  return Windows().classes.contains(Id(window)) ? 1 : 0;
}

}  // namespace

namespace platform::fake {

void ResetWindows() { Windows() = WindowTable{}; }

void RefuseFormWindows() { Windows().refuseForms = true; }

HWND AddWindow(const std::string& className) {
  WindowTable& table = Windows();
  std::uintptr_t id = table.next;
  table.next += 0x10;
  table.classes[id] = className;
  return reinterpret_cast<HWND>(id);  // NOLINT(performance-no-int-to-ptr)
}

void RemoveWindow(HWND window) { Windows().classes.erase(Id(window)); }

const std::vector<WindowCall>& WindowCalls() { return Windows().calls; }

}  // namespace platform::fake

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Record(platform::fake::WindowCall::Kind::Post, window, message, wParam, lParam);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Record(platform::fake::WindowCall::Kind::Send, window, message, wParam, lParam);
  return 0;
}

BOOL ShowWindow(HWND window, int command) {
  return Record(platform::fake::WindowCall::Kind::Show, window, static_cast<UINT>(command), 0, 0);
}

BOOL SetForegroundWindow(HWND window) {
  return Record(platform::fake::WindowCall::Kind::Foreground, window, 0, 0, 0);
}

namespace platform {

struct Form::Impl {
  struct Control {
    ControlLayout layout;
    std::string caption;
    int width;
    Font font;
    bool checked = false;
  };
  FormEvents& events;
  std::string className;
  std::string caption;
  std::vector<Control> controls;
  HWND window = nullptr;
  bool visible = false;
  int focus = 0;

  Control& Find(int id) {
    auto it = std::find_if(controls.begin(), controls.end(),
                           [&](const Control& c) { return c.layout.id == id; });
    if (it == controls.end()) {
      throw platform::Error("no such control");
    }
    return *it;
  }
};

Form::Form(const FormLayout& layout, FormEvents& events)
    : impl_(std::make_unique<Impl>(
          Impl{events, layout.className, layout.caption, {}, nullptr, false, 0})) {
  if (Windows().refuseForms) {
    return;  // as on Windows: no window, no controls
  }
  for (const ControlLayout& control : layout.controls) {
    // The message font of an English system: ANSI_CHARSET, not the default one.
    impl_->controls.push_back({control, control.caption, control.width, Font{"Tahoma", 0, 8}});
  }
  impl_->window = fake::AddWindow(layout.className);
}

Form::~Form() { Close(); }

HWND Form::Handle() const { return impl_->window; }
bool Form::IsOpen() const { return impl_->window != nullptr; }
bool Form::IsVisible() const { return impl_->visible; }

void Form::Show() {
  impl_->visible = true;
  if (impl_->focus == 0 && !impl_->controls.empty()) {
    impl_->focus = impl_->controls.front().layout.id;
  }
}

void Form::Close() {
  if (impl_->window != nullptr) {
    fake::RemoveWindow(impl_->window);
    impl_->window = nullptr;
    impl_->visible = false;
  }
}

std::string Form::Caption() const { return impl_->caption; }
void Form::SetCaption(const std::string& text) { impl_->caption = text; }
std::string Form::ControlCaption(int control) const { return impl_->Find(control).caption; }
void Form::SetControlCaption(int control, const std::string& text) {
  impl_->Find(control).caption = text;
}
int Form::ControlWidth(int control) const { return impl_->Find(control).width; }
void Form::SetControlWidth(int control, int twips) { impl_->Find(control).width = twips; }
Font Form::ControlFont(int control) const { return impl_->Find(control).font; }
void Form::SetFontName(int control, const std::string& faceName) {
  impl_->Find(control).font.faceName = faceName;
}
void Form::SetFontCharset(int control, int charset) { impl_->Find(control).font.charset = charset; }
void Form::SetFontSize(int control, int points) { impl_->Find(control).font.pointSize = points; }
bool Form::IsChecked(int control) const { return impl_->Find(control).checked; }
void Form::SetChecked(int control, bool checked) { impl_->Find(control).checked = checked; }
int Form::FocusedControl() const { return impl_->focus; }
void Form::SetFocus(int control) { impl_->focus = impl_->Find(control).layout.id; }

// Natively the tests deliver the events themselves.
int Form::RunEventLoop() { return 0; }

// Class names compare without regard to case, as Windows compares them.
bool IsFormWindow(HWND window, const char* className) {
  auto it = Windows().classes.find(Id(window));
  auto folded = [](std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return name;
  };
  return it != Windows().classes.end() && folded(it->second) == folded(className);
}

// Natively there is no process to wait for: the request is what counts.
void CloseOtherDialog(HWND window, DWORD /*milliseconds*/) { PostMessageA(window, WM_CLOSE, 0, 0); }

struct FormAccess {
  static Form::Impl& Of(Form& form) { return *form.impl_; }
};

}  // namespace platform

namespace platform::fake {

namespace {
void Toggle(Form::Impl::Control& control) {
  if (control.layout.kind == ControlKind::CheckBox) {
    control.checked = !control.checked;
  }
}
}  // namespace

void ClickWithMouse(Form& form, int control) {
  Form::Impl& impl = FormAccess::Of(form);
  impl.focus = control;  // a click focuses the control first
  Toggle(impl.Find(control));
  impl.events.OnClick(control);
  if (impl.window != nullptr) {
    impl.events.OnMouseUp(control);
  }
}

void PressSpace(Form& form) {
  Form::Impl& impl = FormAccess::Of(form);
  Toggle(impl.Find(impl.focus));
  impl.events.OnClick(impl.focus);
}

void PressKey(Form& form, int character) { FormAccess::Of(form).events.OnKeyPress(character); }

void RequestClose(Form& form) { FormAccess::Of(form).events.OnCloseRequest(); }

}  // namespace platform::fake

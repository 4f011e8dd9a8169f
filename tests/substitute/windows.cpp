// Substitutes for window messages and the dialog facility: windows are
// names in a table, calls are recorded, the form keeps its state in memory.
#include <cstdint>

#include "substitute/controls.h"

namespace {

using platform::fake::WindowCall;
using Kind = WindowCall::Kind;

struct WindowTable {
  std::map<std::uintptr_t, std::string> classes;
  std::vector<WindowCall> calls;
  std::uintptr_t next = 0x10000;
  bool refuseForms = false;
} windows;
std::uintptr_t Id(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

BOOL Record(Kind kind, HWND window, UINT message = 0, WPARAM w = 0, LPARAM l = 0) {
  windows.calls.push_back({kind, window, message, w, l});
  return windows.classes.contains(Id(window)) ? 1 : 0;
}

}  // namespace

BOOL PostMessageA(HWND window, UINT message, WPARAM w, LPARAM l) {
  return Record(Kind::Post, window, message, w, l);
}
LRESULT SendMessageA(HWND window, UINT message, WPARAM w, LPARAM l) {
  Record(Kind::Send, window, message, w, l);
  return 0;
}
BOOL ShowWindow(HWND window, int show) {
  return Record(Kind::Show, window, static_cast<UINT>(show));
}
BOOL SetForegroundWindow(HWND window) { return Record(Kind::Foreground, window); }

namespace platform {

struct Form::Impl {
  struct Control {
    ControlKind kind;
    std::string caption;
    int width;
    Font font;
    bool checked = false;
  };
  FormEvents& events;
  std::string caption;
  std::map<int, Control> controls{};
  int first = 0;  // in tab order
  int focus = 0;
  HWND window = nullptr;
  bool visible = false;
  Control& At(int id) { return controls.at(id); }
};
Form::Form(const FormLayout& layout, FormEvents& events)
    : impl_(std::make_unique<Impl>(Impl{events, layout.caption})) {
  if (windows.refuseForms) {
    return;  // as on Windows: no window, no controls
  }
  for (const ControlLayout& c : layout.controls) {
    // The message font of an English system: ANSI_CHARSET, not the default one.
    impl_->controls.emplace(c.id, Impl::Control{c.kind, c.caption, c.width, {"Tahoma", 0, 8}});
  }
  impl_->first = layout.controls.empty() ? 0 : layout.controls.front().id;
  impl_->window = fake::AddWindow(layout.className);
}
Form::~Form() { Close(); }
HWND Form::Handle() const { return impl_->window; }
bool Form::IsOpen() const { return impl_->window != nullptr; }
bool Form::IsVisible() const { return impl_->visible; }
void Form::Show() {
  impl_->visible = true;
  impl_->focus = impl_->focus == 0 ? impl_->first : impl_->focus;
}
void Form::Close() {
  fake::RemoveWindow(impl_->window);
  impl_->window = nullptr;
  impl_->visible = false;
}
std::string Form::Caption() const { return impl_->caption; }
void Form::SetCaption(const std::string& text) { impl_->caption = text; }
std::string Form::ControlCaption(int id) const { return impl_->At(id).caption; }
void Form::SetControlCaption(int id, const std::string& text) { impl_->At(id).caption = text; }
int Form::ControlWidth(int id) const { return impl_->At(id).width; }
void Form::SetControlWidth(int id, int twips) { impl_->At(id).width = twips; }
Font Form::ControlFont(int id) const { return impl_->At(id).font; }
void Form::SetFontName(int id, const std::string& name) { impl_->At(id).font.faceName = name; }
void Form::SetFontCharset(int id, int charset) { impl_->At(id).font.charset = charset; }
void Form::SetFontSize(int id, int points) { impl_->At(id).font.pointSize = points; }
bool Form::IsChecked(int id) const { return impl_->At(id).checked; }
void Form::SetChecked(int id, bool checked) { impl_->At(id).checked = checked; }
int Form::FocusedControl() const { return impl_->focus; }
void Form::SetFocus(int id) { impl_->focus = impl_->controls.contains(id) ? id : impl_->focus; }
// Natively the tests deliver the events themselves.
int Form::RunEventLoop() { return 0; }

bool IsFormWindow(HWND window, const char* className) {
  auto it = windows.classes.find(Id(window));
  return it != windows.classes.end() && it->second == className;
}
// Natively there is no process to wait for: the request is what counts.
void CloseOtherDialog(HWND window, DWORD /*milliseconds*/) { PostMessageA(window, WM_CLOSE, 0, 0); }

struct FormAccess {
  static Form::Impl& Of(Form& form) { return *form.impl_; }
  // A click or a press of space: a check box toggles first.
  static void Click(Form& form, int id) {
    Form::Impl::Control& clicked = Of(form).At(id);
    clicked.checked = clicked.kind == ControlKind::CheckBox ? !clicked.checked : clicked.checked;
    Of(form).events.OnClick(id);
  }
};

}  // namespace platform

namespace platform::fake {

void ResetWindows() { windows = WindowTable{}; }
void RefuseFormWindows() { windows.refuseForms = true; }
HWND AddWindow(const std::string& className) {
  windows.classes[windows.next += 0x10] = className;
  return reinterpret_cast<HWND>(windows.next);  // NOLINT(performance-no-int-to-ptr)
}
void RemoveWindow(HWND window) { windows.classes.erase(Id(window)); }
const std::vector<WindowCall>& WindowCalls() { return windows.calls; }

void ClickWithMouse(Form& form, int control) {
  FormAccess::Of(form).focus = control;  // a click focuses the control first
  FormAccess::Click(form, control);
  if (form.IsOpen()) {
    FormAccess::Of(form).events.OnMouseUp(control);
  }
}
void PressSpace(Form& form) { FormAccess::Click(form, form.FocusedControl()); }
void PressKey(Form& form, int character) { FormAccess::Of(form).events.OnKeyPress(character); }
void RequestClose(Form& form) { FormAccess::Of(form).events.OnCloseRequest(); }

}  // namespace platform::fake

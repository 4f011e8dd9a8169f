// The dialog facility: one top-level window with check boxes and push
// buttons laid out in twips, fonts with a character set, keyboard focus, key
// preview and the program's one event loop.
//
// On Windows a real window of standard controls; natively a substitute that
// keeps the same state and lets tests deliver a user's input
// (tests/substitute/controls.h).
#pragma once

#include <memory>
#include <span>
#include <string>

#include "platform/win32_api.h"

namespace platform {

enum class ControlKind { CheckBox, PushButton };

struct ControlLayout {
  int id;
  ControlKind kind;
  const char* caption;
  int left;  // twips, relative to the client area
  int top;
  int width;
  int height;
};

struct FormLayout {
  const char* className;  // also tells this program's dialog apart from others
  const char* caption;
  int clientWidth;  // twips
  int clientHeight;
  int iconId;                               // resource id of the window's icon
  std::span<const ControlLayout> controls;  // in tab order
};

struct Font {
  std::string faceName;
  int charset = 1;
  int pointSize = 9;
  bool operator==(const Font&) const = default;
};

// What the form reports to its owner. Handlers run on the one UI thread.
class FormEvents {
 public:
  virtual void OnClick(int control) = 0;       // a button pressed, a check box toggled
  virtual void OnKeyPress(int character) = 0;  // seen before the controls see it
  virtual void OnMouseUp(int control) = 0;     // any mouse button released over a control
  virtual void OnCloseRequest() = 0;           // WM_CLOSE, from the frame or another program

 protected:
  FormEvents() = default;
  FormEvents(const FormEvents&) = default;
  FormEvents& operator=(const FormEvents&) = default;
  ~FormEvents() = default;
};

class Form {
 public:
  // Creates the window, hidden; its controls when they are first used or the
  // window is shown. Without a window (no desktop to create it on, or its
  // heap exhausted) the form is closed from the start and has no controls;
  // it never throws for that.
  Form(const FormLayout& layout, FormEvents& events);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  ~Form();

  [[nodiscard]] HWND Handle() const;  // 0 once closed
  [[nodiscard]] bool IsOpen() const;
  [[nodiscard]] bool IsVisible() const;
  void Show();
  // Destroys the window; the event loop then ends.
  void Close();

  [[nodiscard]] std::string Caption() const;
  void SetCaption(const std::string& text);
  [[nodiscard]] std::string ControlCaption(int control) const;
  void SetControlCaption(int control, const std::string& text);
  [[nodiscard]] int ControlWidth(int control) const;  // twips
  void SetControlWidth(int control, int twips);
  [[nodiscard]] Font ControlFont(int control) const;
  void SetFontName(int control, const std::string& faceName);
  void SetFontCharset(int control, int charset);
  void SetFontSize(int control, int points);
  [[nodiscard]] bool IsChecked(int control) const;
  void SetChecked(int control, bool checked);
  [[nodiscard]] int FocusedControl() const;  // 0 when none of ours
  void SetFocus(int control);

  // Delivers events until the window is closed.
  int RunEventLoop();

  struct Impl;

 private:
  friend struct FormAccess;  // the substitute's input of a user, for tests
  std::unique_ptr<Impl> impl_;
};

// True when `window` is a live top-level window of the dialog class
// `className`. A handle kept by another program can be stale and by now name
// some other window, which must be neither closed nor raised.
bool IsFormWindow(HWND window, const char* className);

// Asks `window`, another instance's dialog, to close (WM_CLOSE) and waits up
// to `milliseconds` for its process to end, so that an uninstall that
// removes the program's files next finds them no longer in use.
void CloseOtherDialog(HWND window, DWORD milliseconds);

}  // namespace platform

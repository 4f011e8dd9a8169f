// Every caption fits its control: the real dialog in the user-interface
// language of the run (LANG and LC_ALL, set per run by CTest), laid out at
// 96, 120, 144 and 192 dpi as the dialog does when its DPI changes, each
// text measured with the control's own font the way the control draws it.
#include "app/settings_dialog.h"
#include "driver.h"
#include "localization/translation.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

using app::ZFenwarel;

std::wstring TextOf(HWND window) {
  std::wstring text(512, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), 512)));
  return text;
}

// The size `text` takes in `font` when drawn with `format` into `width`
// pixels (DT_CALCRECT widens the rectangle for a word that cannot be broken).
SIZE Measure(HDC dc, HFONT font, const std::wstring& text, UINT format, int width) {
  HGDIOBJ previous = SelectObject(dc, font);
  RECT rect{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_CALCRECT);
  SelectObject(dc, previous);
  return SIZE{rect.right, rect.bottom};
}

// How many lines Windows breaks `text` into within `width` pixels: at a
// space, and between two characters where either is East Asian. Wine from
// version 10 breaks less often inside Japanese text, and so may need a
// line more for a caption that Windows and Wine 8 show in two.
int WindowsLines(HDC dc, HFONT font, const std::wstring& text, int width) {
  HGDIOBJ previous = SelectObject(dc, font);
  auto eastAsian = [](wchar_t c) { return c >= 0x2E80; };
  auto fits = [&](std::size_t from, std::size_t to) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.data() + from, static_cast<int>(to - from), &size);
    return size.cx <= width;
  };
  int lines = 0;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = from + 1;  // at least one character a line
    for (std::size_t to = from + 1; to <= text.size(); ++to) {
      const bool breaks =
          to == text.size() || text[to] == L' ' || eastAsian(text[to - 1]) || eastAsian(text[to]);
      if (breaks && fits(from, to)) {
        end = to;
      }
    }
    ++lines;
    for (from = end; from < text.size() && text[from] == L' ';) {
      ++from;
    }
  }
  SelectObject(dc, previous);
  return lines;
}

struct Misfit {
  std::string control;
  int missingWidth;
  int missingHeight;
};

// What of `control`'s caption does not fit its client area at `dpi`. A
// check box wraps its text beside the box glyph, which takes 13 pixels at
// 96 dpi and half a digit's width of space; a push button shows one line
// inside its 3-pixel border and focus frame.
std::optional<Misfit> MisfitOf(HWND control, const char* name, bool checkBox, int dpi) {
  RECT client{};
  GetClientRect(control, &client);
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HDC dc = GetDC(control);
  HGDIOBJ previous = SelectObject(dc, font);
  int digit = 0;
  GetCharWidth32W(dc, L'0', L'0', &digit);
  SelectObject(dc, previous);
  const int inset = checkBox ? MulDiv(13, dpi, 96) + digit / 2 : 2 * MulDiv(3, dpi, 96);
  const int width = client.right - inset;
  const SIZE needed =
      Measure(dc, font, TextOf(control), checkBox ? DT_WORDBREAK : DT_SINGLELINE, width);
  const int height = checkBox ? client.bottom : client.bottom - 2 * MulDiv(3, dpi, 96);
  const int lineHeight = Measure(dc, font, L"0", DT_SINGLELINE, width).cy;
  const int windowsLines = checkBox ? WindowsLines(dc, font, TextOf(control), width) : 1;
  ReleaseDC(control, dc);
  if (needed.cx <= width && needed.cy <= height) {
    return std::nullopt;
  }
  // Taller only because this Wine breaks the lines elsewhere than Windows:
  // said, not failed.
  if (needed.cx <= width && windowsLines * lineHeight <= height) {
    std::printf(
        "%s fits at %d dpi in %d lines as Windows breaks it; this Wine's DrawText "
        "makes %d lines of it\n",
        name, dpi, windowsLines, static_cast<int>(needed.cy / lineHeight));
    return std::nullopt;
  }
  return Misfit{name, std::max(0L, needed.cx - width), std::max(0L, needed.cy - height)};
}

TEST(Captions, FitTheirControlsAtEveryCommonDpi) {
  // The run's own check that Wine took the language it was given.
  if (const char* expected = std::getenv("FENWAREL_TEST_LANGUAGE")) {
    ASSERT_EQ(GetUserDefaultUILanguage(), std::atoi(expected));
  }
  ZFenwarel dialog;
  dialog.Load("");
  HWND window = dialog.Window().Handle();
  ASSERT_TRUE(IsWindowVisible(window));
  const std::string language =
      localization::LanguageCode.empty() ? "English (built in)" : localization::LanguageFile;
  ASSERT_EQ(localization::LanguageCode.empty(), GetUserDefaultUILanguage() == 1033) << language;

  const std::array<std::tuple<int, const char*, bool>, 4> controls{{
      {ZFenwarel::chkStandbyMsg, "the standby check box", true},
      {ZFenwarel::chkHiberMsg, "the hibernation check box", true},
      {ZFenwarel::OK, "OK", false},
      {ZFenwarel::Cancel, "Cancel", false},
  }};
  int dpi = e2e::ScreenDpi();
  for (int next : {96, 120, 144, 192}) {
    if (next != dpi) {
      RECT frame = e2e::SuggestedFrame(window, dpi, next, 0, 0);
      SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(next, next), reinterpret_cast<LPARAM>(&frame));
      dpi = next;
    }
    for (const auto& [id, name, checkBox] : controls) {
      if (auto misfit = MisfitOf(GetDlgItem(window, id), name, checkBox, dpi)) {
        ADD_FAILURE() << language << ": the caption of " << misfit->control << " does not fit at "
                      << dpi << " dpi: " << misfit->missingWidth << " pixels too wide, "
                      << misfit->missingHeight << " pixels too tall";
      }
    }
    // The caption bar: the text in the caption font at this DPI, in the
    // title bar that the system lays out (without the window menu's icon),
    // less its three caption buttons.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    HFONT captionFont = CreateFontIndirectW(&metrics.lfCaptionFont);
    TITLEBARINFO bar{};
    bar.cbSize = sizeof(bar);
    GetTitleBarInfo(window, &bar);
    const int room = bar.rcTitleBar.right - bar.rcTitleBar.left - 3 * metrics.iCaptionWidth;
    HDC screen = GetDC(nullptr);
    const SIZE caption = Measure(screen, captionFont, TextOf(window), DT_SINGLELINE, room);
    ReleaseDC(nullptr, screen);
    DeleteObject(captionFont);
    if (caption.cx > room) {
      ADD_FAILURE() << language << ": the caption bar's text does not fit at " << dpi
                    << " dpi: " << caption.cx - room << " pixels too wide";
    }
  }
}

}  // namespace

#include "localization/dialog_localization.h"

#include "localization/translation.h"
#include "platform/guarded.h"

namespace localization {

void LocalizeLayout(platform::Form& form, std::span<const int> checkBoxes,
                    std::span<const int> controls) {
  using platform::Guarded;
  Guarded([&] { UserLanguage = static_cast<std::int16_t>(GetUserDefaultUILanguage()); });
  Guarded([&] { SelectLanguageFile(); });
  // Only the file's own code decides, whatever the user's language.
  std::string code;
  Guarded([&] { code = LoadLanguageString(kLanguageCodeId); });
  if (code != "JP") {
    return;
  }
  for (int box : checkBoxes) {
    Guarded([&] { form.SetControlWidth(box, kJapaneseCheckBoxWidth); });
  }
  for (int control : controls) {
    Guarded([&] { form.SetFontName(control, LoadLanguageString(kFontNameId)); });
    Guarded([&] { form.SetFontCharset(control, kJapaneseCharset); });
    Guarded([&] { form.SetFontSize(control, kJapanesePointSize); });
  }
}

}  // namespace localization

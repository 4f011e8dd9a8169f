// The Japanese adjustments of the dialog: wider check boxes, and the
// Japanese font on every control. The dialog's texts are set by the
// dialog itself (its captions), after these.
#pragma once

#include <span>

#include "platform/form.h"

namespace localization {

inline constexpr int kJapaneseCheckBoxWidth = 3975;  // twips; the designed width is 3735
inline constexpr int kJapaneseCharset = 1;           // DEFAULT_CHARSET: the system locale's
inline constexpr int kJapanesePointSize = 9;

// The localization step's first part, on the loaded, still hidden dialog:
// reads the user's UI language, selects the language file, and when its
// string 1 is exactly "JP" widens `checkBoxes` and sets the font of each of
// `controls`. Every assignment is guarded on its own; never throws.
void LocalizeLayout(platform::Form& form, std::span<const int> checkBoxes,
                    std::span<const int> controls);

}  // namespace localization

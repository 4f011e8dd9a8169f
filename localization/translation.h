// The user's language file and its texts. A language file is a resource
// module with a string table, one per supported user-interface language,
// beside the program; the program itself holds only its English texts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32_api.h"

namespace localization {

// Set once by the localization step of a normal start and kept for the run.
inline std::int16_t UserLanguage = 0;  // Windows LANGID of the user interface
inline std::string LanguageFile;       // bare file name of the chosen language file
inline std::string LanguageCode;       // its string 1; "" when there is no usable file

// String ids of a language file.
enum StringId : std::int16_t {
  kLanguageCodeId = 1,  // the file's code; "JP" marks the Japanese file
  kFontNameId = 12,     // face name for the dialog's controls (Japanese only)
  kCaptionId = 1001,
  kStandbyTextId = 1002,
  kHibernateTextId = 1003,
  kOkTextId = 1004,
  kCancelTextId = 1005,
};

// The file for a language id: an exact match of primary language and
// sublanguage in the table of nineteen, or "Dummy.dll".
const char* LanguageFileFor(std::int16_t language);

// Sets LanguageFile from UserLanguage, then LanguageCode from its string 1.
void SelectLanguageFile();

// The text `id` of LanguageFile: at most 254 bytes, NULs removed; "" when the
// file cannot be opened, lacks the id or holds an empty text. Opens and
// releases the file on every call; never throws.
std::string LoadLanguageString(std::int16_t id);

}  // namespace localization

#include "localization/translation.h"

#include <algorithm>
#include <array>

#include "platform/guarded.h"
#include "platform/program_folder.h"
#include "platform/unique_handle.h"

namespace localization {
namespace {

struct LanguageRow {
  std::int16_t language;
  const char* file;
};

constexpr std::array<LanguageRow, 19> kLanguageFiles{{
    {1029, "Fenwarel_CZ.dll"},  // Czech
    {1030, "Fenwarel_DK.dll"},  // Danish
    {1031, "Fenwarel_DE.dll"},  // German (Germany)
    {1032, "Fenwarel_GR.dll"},  // Greek
    {1035, "Fenwarel_FI.dll"},  // Finnish
    {1036, "Fenwarel_FR.dll"},  // French (France)
    {1038, "Fenwarel_HU.dll"},  // Hungarian
    {1040, "Fenwarel_IT.dll"},  // Italian (Italy)
    {1041, "Fenwarel_JP.dll"},  // Japanese
    {1042, "Fenwarel_KR.dll"},  // Korean
    {1043, "Fenwarel_NL.dll"},  // Dutch (Netherlands)
    {1044, "Fenwarel_NO.dll"},  // Norwegian (Bokmal)
    {1045, "Fenwarel_PL.dll"},  // Polish
    {1049, "Fenwarel_RU.dll"},  // Russian
    {1053, "Fenwarel_SE.dll"},  // Swedish
    {1055, "Fenwarel_TR.dll"},  // Turkish
    {2052, "Fenwarel_CN.dll"},  // Chinese (PRC, simplified)
    {2070, "Fenwarel_PT.dll"},  // Portuguese (Portugal)
    {3082, "Fenwarel_ES.dll"},  // Spanish (Spain, modern sort)
}};

// The text buffer handed to LoadStringA: 254 bytes and a terminator.
constexpr int kBufferSize = 255;

using UniqueModule = platform::UniqueHandle<HMODULE, &::FreeLibrary>;

// Language files are taken from the program's own folder only, and as data:
// none of their code runs, and a planted file elsewhere is never found.
constexpr DWORD kAsData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;

}  // namespace

const char* LanguageFileFor(std::int16_t language) {
  for (const LanguageRow& row : kLanguageFiles) {
    if (row.language == language) {
      return row.file;
    }
  }
  return "Dummy.dll";
}

void SelectLanguageFile() {
  LanguageFile = LanguageFileFor(UserLanguage);
  LanguageCode = LoadLanguageString(kLanguageCodeId);
}

std::string LoadLanguageString(std::int16_t id) {
  std::string result;
  std::string buffer(kBufferSize, '\0');
  UniqueModule module;
  platform::Guarded([&] {
    const std::wstring folder = platform::ProgramFolder();
    if (!folder.empty() && !LanguageFile.empty()) {
      const std::wstring path = folder + platform::Widened(LanguageFile);
      module.reset(LoadLibraryExW(path.c_str(), nullptr, kAsData));
    }
  });
  if (!module) {
    return result;
  }
  int count = 0;
  platform::Guarded([&] {
    count = LoadStringA(module.get(), static_cast<UINT>(static_cast<std::uint16_t>(id)),
                        buffer.data(), kBufferSize);
  });
  if (count > 0) {
    platform::Guarded([&] {
      buffer.erase(std::remove(buffer.begin(), buffer.end(), '\0'), buffer.end());
      result = std::move(buffer);
    });
  }
  return result;  // the module is released here, whether or not a text was found
}

}  // namespace localization

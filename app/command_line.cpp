#include "app/command_line.h"

#include <algorithm>
#include <string>

namespace app {

StartMode ModeOf(std::string_view arguments) {
  std::size_t first = arguments.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return StartMode::Normal;
  }
  std::size_t last = arguments.find_last_not_of(' ');
  std::string trimmed(arguments.substr(first, last - first + 1));
  std::transform(trimmed.begin(), trimmed.end(), trimmed.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  if (trimmed == "-u") {
    return StartMode::Uninstall;
  }
  if (trimmed == "-i") {
    return StartMode::Install;
  }
  return StartMode::Ignore;
}

}  // namespace app

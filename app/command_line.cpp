#include "app/command_line.h"

#include <algorithm>
#include <string>

namespace app {

std::string_view ArgumentsOf(std::string_view commandLine) {
  std::size_t end = 0;
  if (commandLine.starts_with('"')) {
    std::size_t quote = commandLine.find('"', 1);
    end = quote == std::string_view::npos ? commandLine.size() : quote + 1;
  } else {
    end = std::min(commandLine.find_first_of(" \t"), commandLine.size());
  }
  return commandLine.substr(end);
}

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

#include "commands/command_texts.h"

namespace quindelo::commands {

std::string OpenFailedMessage(std::string_view verb, std::string_view path) {
  std::string text = "Unable to ";
  text += verb.empty() ? std::string_view(kOpenVerb) : verb;
  text += " file \"";
  text += path;
  text += "\".  Check that the file association is correct and that the program exists.";
  return text;
}

std::string PrintFailedMessage(std::string_view path, std::string_view cause) {
  std::string text = OpenFailedMessage(kPrintVerb, path);
  const std::size_t begin = cause.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return text;
  const std::size_t end = cause.find_last_not_of(" \t\r\n");
  text += '\n';
  text += cause.substr(begin, end - begin + 1);
  return text;
}

std::string BrowserStartFailedMessage(std::string_view address) {
  std::string text = "Unable to start your web browser.  Please visit \"";
  text += address;
  text += "\" with your browser.";
  return text;
}

std::string RunFailedMessage(std::string_view command_line) {
  std::string text = "Unable to run command line:\n\"";
  text += command_line;
  text += "\".";
  return text;
}

std::string RunScriptRefusedMessage(std::string_view command_line) {
  std::string text = "The command line puts the file name into a script, where it could run as "
                     "commands:\n\"";
  text += command_line;
  text += "\".\nHand the file over as an argument of its own, for example sh -c 'cat \"$1\"' sh %1";
  return text;
}

}  // namespace quindelo::commands

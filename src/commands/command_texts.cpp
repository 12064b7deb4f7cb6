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

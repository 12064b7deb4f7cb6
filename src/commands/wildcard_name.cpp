#include "commands/wildcard_name.h"

namespace quindelo::commands {

bool WildcardDestinationName(std::string_view pattern, std::string_view source,
                             std::string* destination) {
  std::size_t source_slash = source.rfind('\\');
  std::string_view name =
      source_slash == std::string_view::npos ? source : source.substr(source_slash + 1);

  std::string out;
  std::string_view wanted;  // the pattern's name part
  std::size_t pattern_slash = pattern.rfind('\\');
  if (pattern_slash != std::string_view::npos) {
    out.assign(pattern.substr(0, pattern_slash + 1));
    wanted = pattern.substr(pattern_slash + 1);
  } else {
    if (source_slash != std::string_view::npos) out.assign(source.substr(0, source_slash + 1));
    wanted = pattern;
  }

  if (wanted.empty() || wanted == "*") {
    out.append(name);
  } else {
    std::size_t cursor = 0;
    std::size_t at = 0;
    while (at < wanted.size()) {
      std::size_t special = wanted.find_first_of("*?.", at);
      if (special == std::string_view::npos) special = wanted.size();
      out.append(wanted.substr(at, special - at));
      if (special == wanted.size()) break;
      bool in_part = cursor < name.size() && name[cursor] != '.';
      switch (wanted[special]) {
        case '*':
          if (in_part) {
            std::size_t dot = name.find('.', cursor);
            if (dot == std::string_view::npos) dot = name.size();
            out.append(name.substr(cursor, dot - cursor));
            cursor = dot;
          }
          break;
        case '?':
          if (in_part) out += name[cursor++];
          break;
        default: {  // '.'
          std::size_t dot = name.find('.', cursor);
          cursor = dot == std::string_view::npos ? name.size() : dot + 1;
          out += '.';
        }
      }
      at = special + 1;
    }
  }
  if (out.size() > kMaxDestinationLength) {
    destination->clear();
    return false;
  }
  *destination = std::move(out);
  return true;
}

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

std::string FolderDestination(std::string_view folder) {
  std::string entry(folder);
  if (entry.empty() || entry.back() != '\\') entry += '\\';
  entry += '*';
  return entry;
}

std::vector<std::string> DestinationList(std::string_view text,
                                         const std::vector<std::string>& sources,
                                         bool always_per_file) {
  std::vector<std::string> list;
  if (!always_per_file && !HasWildcard(text)) {
    list.push_back(FolderDestination(text));
    return list;
  }
  list.resize(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i)
    WildcardDestinationName(text, sources[i], &list[i]);
  return list;
}

}  // namespace quindelo::commands

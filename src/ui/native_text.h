// Texts between the core and Qt. The core holds names and paths as the
// bytes the file system gave (usually UTF-8, but any bytes but NUL and '/'
// are allowed in a name); Qt holds UTF-16. A name's bytes that are not valid
// UTF-8 travel as the lone surrogates U+DC80..U+DCFF, so that such a name
// comes back to the same bytes; messages and settings texts are UTF-8.
#pragma once

#include <QString>
#include <string>

namespace quindelo::ui {

// A file name or path from the core, for showing or for Qt's file calls.
QString FromNative(const std::string& name);
// A file name or path typed or picked in the window, for the core.
std::string ToNative(const QString& name);

// A message, label or settings text (UTF-8) to and from Qt.
QString FromUtf8(const std::string& text);
std::string ToUtf8(const QString& text);

}  // namespace quindelo::ui

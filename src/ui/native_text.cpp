#include "ui/native_text.h"

#include <QByteArray>

namespace quindelo::ui {
namespace {

// Bytes that are not part of valid UTF-8 become the lone low surrogates
// U+DC80..U+DCFF, and go back to the same bytes on the way out, so that a
// name in another encoding can still be opened, copied or deleted.
constexpr char16_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

QString FromNative(const std::string& name) {
  QString out;
  out.reserve(static_cast<qsizetype>(name.size()));
  size_t i = 0;
  while (i < name.size()) {
    // Runs of valid UTF-8 are decoded by Qt; each stray byte is escaped.
    size_t run = i;
    while (run < name.size()) {
      const size_t length = Utf8SequenceLength(name, run);
      if (length == 0) break;
      run += length;
    }
    if (run > i) {
      out += QString::fromUtf8(name.data() + i, static_cast<qsizetype>(run - i));
      i = run;
    }
    if (i < name.size()) {
      out += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(name[i])));
      ++i;
    }
  }
  return out;
}

std::string ToNative(const QString& name) {
  std::string out;
  out.reserve(static_cast<size_t>(name.size()));
  qsizetype i = 0;
  while (i < name.size()) {
    const char16_t unit = name.at(i).unicode();
    if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out += static_cast<char>(unit - kEscapeBase);
      ++i;
      continue;
    }
    qsizetype run = i;
    while (run < name.size()) {
      const char16_t u = name.at(run).unicode();
      if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) break;
      ++run;
    }
    const QByteArray bytes = name.mid(i, run - i).toUtf8();
    out.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    i = run;
  }
  return out;
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace quindelo::ui

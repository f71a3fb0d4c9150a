#include "foundation/uUnicode.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

void AppendUtf8(std::string& AOut, char32_t ACode) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACode >> 6));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACode >> 12));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACode >> 18));
    AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

namespace {

void AppendUtf16(std::u16string& AOut, char32_t ACode) {
  if (ACode < 0x10000) {
    AOut += static_cast<char16_t>(ACode);
  } else {
    AOut += static_cast<char16_t>(0xD800 + ((ACode - 0x10000) >> 10));
    AOut += static_cast<char16_t>(0xDC00 + ((ACode - 0x10000) & 0x3FF));
  }
}

// Decodes one UTF-8 sequence at APos; a malformed sequence (overlong, a
// surrogate, beyond U+10FFFF, cut short) consumes one byte and gives U+FFFD.
char32_t DecodeUtf8(const std::string& AText, std::size_t& APos) {
  const auto lead = static_cast<unsigned char>(AText[APos]);
  int trailing = 0;
  char32_t code = 0;
  char32_t smallest = 0;
  if (lead < 0x80) {
    ++APos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    trailing = 1, code = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    trailing = 2, code = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    trailing = 3, code = lead & 0x07, smallest = 0x10000;
  } else {
    ++APos;
    return kReplacement;
  }
  if (AText.size() - APos <= static_cast<std::size_t>(trailing)) {
    ++APos;
    return kReplacement;
  }
  for (int i = 1; i <= trailing; ++i) {
    const auto next = static_cast<unsigned char>(AText[APos + i]);
    if ((next & 0xC0) != 0x80) {
      ++APos;
      return kReplacement;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++APos;
    return kReplacement;
  }
  APos += trailing + 1;
  return code;
}

} // namespace

void AppendNativePath(std::string& AOut, std::u16string_view APath) {
  for (std::size_t i = 0; i < APath.size(); ++i) {
    const char16_t unit = APath[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < APath.size() && APath[i + 1] >= 0xDC00 &&
        APath[i + 1] <= 0xDFFF) {
      AppendUtf8(AOut, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (APath[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(AOut, kReplacement);
    } else {
      AppendUtf8(AOut, unit);
    }
  }
}

std::string ToNativePath(const std::u16string& APath) {
  std::string out;
  out.reserve(APath.size());
  AppendNativePath(out, APath);
  return out;
}

std::u16string FromNativePath(const std::string& APath) {
  std::u16string out;
  out.reserve(APath.size());
  for (std::size_t pos = 0; pos < APath.size();)
    AppendUtf16(out, DecodeUtf8(APath, pos));
  return out;
}

std::string EscapeControls(std::string_view AText) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const auto byte = static_cast<unsigned char>(AText[i]);
    // C1 controls are U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F.
    const bool c1 = byte == 0xC2 && i + 1 < AText.size() && (static_cast<unsigned char>(AText[i + 1]) & 0xE0) == 0x80;
    if (c1) {
      const auto code = static_cast<unsigned char>(AText[++i]);
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 0x0F];
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += AText[i];
    }
  }
  return out;
}

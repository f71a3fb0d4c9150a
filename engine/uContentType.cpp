#include "engine/uContentType.h"

#include <algorithm>
#include <cctype>

#include <magic.h>

namespace {

// libmagic answers "???" when no signature fits, and lists the usual
// extensions of a type separated by "/" ("jpeg/jpg/jpe/jfif").
constexpr char kUnknown[] = "???";
constexpr char kAlternatives = '/';

// Loading the signature database takes a while, so it happens once, on the
// first question, and stays for the life of the program.
magic_t Signatures() {
  static const magic_t cookie = [] {
    magic_t opened = magic_open(MAGIC_EXTENSION);
    if (opened != nullptr && magic_load(opened, nullptr) != 0) {
      magic_close(opened);
      opened = nullptr;
    }
    return opened;
  }();
  return cookie;
}

} // namespace

std::string GuessExtension(const void* AData, std::size_t ASize) {
  const magic_t cookie = Signatures();
  if (cookie == nullptr || ASize == 0)
    return {};
  const char* answer = magic_buffer(cookie, AData, ASize);
  if (answer == nullptr)
    return {};
  std::string extension(answer);
  extension = extension.substr(0, extension.find(kAlternatives));
  // The extension becomes part of a restored file's name: only plain
  // letters and digits are taken from the database.
  const bool plain = std::all_of(extension.begin(), extension.end(),
                                 [](unsigned char c) { return std::isalnum(c) != 0; });
  if (extension == kUnknown || !plain)
    return {};
  return extension;
}

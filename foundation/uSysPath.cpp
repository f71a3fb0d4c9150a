#include "foundation/uSysPath.h"

#include <locale.h>
#include <pwd.h>
#include <unistd.h>
#include <wctype.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string_view>

namespace {

struct TFolderId {
  const char16_t* Name;
  std::uint16_t CSIDL;
};

// The placeholder names in table order, each with the value of the Windows
// shell constant CSIDL_<name>.
constexpr TFolderId kFolderIds[] = {
    {u"ADMINTOOLS", 0x30},
    {u"ALTSTARTUP", 0x1D},
    {u"APPDATA", 0x1A},
    {u"BITBUCKET", 0x0A},
    {u"CDBURN_AREA", 0x3B},
    {u"COMMON_ADMINTOOLS", 0x2F},
    {u"COMMON_ALTSTARTUP", 0x1E},
    {u"COMMON_APPDATA", 0x23},
    {u"COMMON_DESKTOPDIRECTORY", 0x19},
    {u"COMMON_DOCUMENTS", 0x2E},
    {u"COMMON_FAVORITES", 0x1F},
    {u"COMMON_MUSIC", 0x35},
    {u"COMMON_PICTURES", 0x36},
    {u"COMMON_PROGRAMS", 0x17},
    {u"COMMON_STARTMENU", 0x16},
    {u"COMMON_STARTUP", 0x18},
    {u"COMMON_TEMPLATES", 0x2D},
    {u"COMMON_VIDEO", 0x37},
    {u"CONTROLS", 0x03},
    {u"COOKIES", 0x21},
    {u"DESKTOP", 0x00},
    {u"DESKTOPDIRECTORY", 0x10},
    {u"DRIVES", 0x11},
    {u"FAVORITES", 0x06},
    {u"FONTS", 0x14},
    {u"HISTORY", 0x22},
    {u"INTERNET", 0x01},
    {u"INTERNET_CACHE", 0x20},
    {u"LOCAL_APPDATA", 0x1C},
    {u"MYDOCUMENTS", 0x0C},
    {u"MYMUSIC", 0x0D},
    {u"MYPICTURES", 0x27},
    {u"MYVIDEO", 0x0E},
    {u"NETHOOD", 0x13},
    {u"NETWORK", 0x12},
    {u"PERSONAL", 0x05},
    {u"PRINTERS", 0x04},
    {u"PRINTHOOD", 0x1B},
    {u"PROFILE", 0x28},
    {u"PROFILES", 0x3E},
    {u"PROGRAM_FILES", 0x26},
    {u"PROGRAM_FILES_COMMON", 0x2B},
    {u"PROGRAMS", 0x02},
    {u"RECENT", 0x08},
    {u"SENDTO", 0x09},
    {u"STARTMENU", 0x0B},
    {u"STARTUP", 0x07},
    {u"SYSTEM", 0x25},
    {u"TEMPLATES", 0x15},
    {u"WINDOWS", 0x24},
};

// The longest path the shell hands out; a remainder this long never wins.
constexpr std::size_t kMaxPathChars = 32767;

std::string WithoutTrailingSlashes(std::string APath) {
  while (APath.size() > 1 && APath.back() == '/')
    APath.pop_back();
  return APath;
}

std::string AbsoluteEnv(const char* AName) {
  const char* value = std::getenv(AName);
  // The XDG rules say relative values are invalid and must be ignored.
  if (value == nullptr || value[0] != '/')
    return {};
  return WithoutTrailingSlashes(value);
}

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty())
    return home;
  passwd entry{};
  passwd* found = nullptr;
  std::string buffer(16384, '\0');
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return WithoutTrailingSlashes(found->pw_dir);
  return {};
}

std::string JoinPath(const std::string& AFolder, const std::string& ASub) {
  if (AFolder.empty())
    return {};
  return AFolder == "/" ? "/" + ASub : AFolder + "/" + ASub;
}

// A value of user-dirs.dirs: "$HOME/sub" or "/absolute", in double quotes,
// with backslash escapes. Anything else is not a usable folder.
std::string UserDirValue(const std::string& ARaw, const std::string& AHome) {
  std::string value;
  std::size_t i = 0;
  const bool quoted = !ARaw.empty() && ARaw[0] == '"';
  if (quoted)
    ++i;
  for (; i < ARaw.size(); ++i) {
    if (quoted && ARaw[i] == '"')
      break;
    if (ARaw[i] == '\\' && i + 1 < ARaw.size())
      ++i;
    value += ARaw[i];
  }
  constexpr std::string_view kHome = "$HOME";
  if (value.starts_with(kHome) && (value.size() == kHome.size() || value[kHome.size()] == '/'))
    return AHome.empty() ? std::string() : WithoutTrailingSlashes(AHome + value.substr(kHome.size()));
  if (value.starts_with('/'))
    return WithoutTrailingSlashes(value);
  return {};
}

// XDG_<KEY>_DIR entries of user-dirs.dirs, keyed by KEY.
std::map<std::string, std::string> ReadUserDirs(const std::string& AFile, const std::string& AHome) {
  std::map<std::string, std::string> dirs;
  std::ifstream in(AFile);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#')
      continue;
    const std::size_t equals = line.find('=', start);
    if (equals == std::string::npos)
      continue;
    std::string key = line.substr(start, equals - start);
    if (!key.starts_with("XDG_") || !key.ends_with("_DIR"))
      continue;
    key = key.substr(4, key.size() - 8);
    const std::string value = UserDirValue(line.substr(equals + 1), AHome);
    if (!value.empty())
      dirs[key] = value;
  }
  return dirs;
}

// The special folders of the current user as the XDG base directories and
// user directories name them, read once.
class TXdgFolders {
public:
  TXdgFolders()
      : FHome(HomeFolder()),
        FConfigHome(BaseDir("XDG_CONFIG_HOME", ".config")),
        FDataHome(BaseDir("XDG_DATA_HOME", ".local/share")),
        FCacheHome(BaseDir("XDG_CACHE_HOME", ".cache")),
        FUserDirs(ReadUserDirs(JoinPath(FConfigHome, "user-dirs.dirs"), FHome)) {}

  std::string Folder(std::uint16_t ACSIDL) const {
    switch (ACSIDL) {
    case 0x00: // DESKTOP
    case 0x10: // DESKTOPDIRECTORY
      return UserDir("DESKTOP", "Desktop");
    case 0x05: // PERSONAL
    case 0x0C: // MYDOCUMENTS
      return UserDir("DOCUMENTS", "Documents");
    case 0x0D: // MYMUSIC
      return UserDir("MUSIC", "Music");
    case 0x27: // MYPICTURES
      return UserDir("PICTURES", "Pictures");
    case 0x0E: // MYVIDEO
      return UserDir("VIDEOS", "Videos");
    case 0x15: // TEMPLATES
      return UserDir("TEMPLATES", "Templates");
    case 0x1A: // APPDATA
      return FConfigHome;
    case 0x1C: // LOCAL_APPDATA
      return FDataHome;
    case 0x20: // INTERNET_CACHE
      return FCacheHome;
    case 0x28: // PROFILE
      return FHome;
    case 0x14: // FONTS
      return JoinPath(FDataHome, "fonts");
    case 0x02: // PROGRAMS: the user's menu entries
      return JoinPath(FDataHome, "applications");
    case 0x07: // STARTUP: the user's autostart entries
      return JoinPath(FConfigHome, "autostart");
    case 0x17: // COMMON_PROGRAMS
      return "/usr/share/applications";
    case 0x18: // COMMON_STARTUP
      return "/etc/xdg/autostart";
    default:
      return {};
    }
  }

private:
  std::string BaseDir(const char* AVariable, const char* ADefaultUnderHome) const {
    const std::string folder = AbsoluteEnv(AVariable);
    return folder.empty() ? JoinPath(FHome, ADefaultUnderHome) : folder;
  }

  std::string UserDir(const std::string& AKey, const char* ADefaultUnderHome) const {
    const auto found = FUserDirs.find(AKey);
    return found != FUserDirs.end() ? found->second : JoinPath(FHome, ADefaultUnderHome);
  }

  std::string FHome;
  std::string FConfigHome;
  std::string FDataHome;
  std::string FCacheHome;
  std::map<std::string, std::string> FUserDirs;
};

// Upper case one UTF-16 code unit at a time with the Unicode simple case
// mapping, so that a string keeps its length: DenouncePath cuts the original
// path at the length of the folder that matched.
class TUpperCase {
public:
  TUpperCase() : FLocale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
  ~TUpperCase() {
    if (FLocale != locale_t{})
      freelocale(FLocale);
  }
  TUpperCase(const TUpperCase&) = delete;
  TUpperCase& operator=(const TUpperCase&) = delete;

  std::u16string Convert(std::u16string AText) const {
    for (char16_t& c : AText)
      c = Upper(c);
    return AText;
  }

private:
  char16_t Upper(char16_t AChar) const {
    if (AChar < 0x80)
      return (AChar >= u'a' && AChar <= u'z') ? static_cast<char16_t>(AChar - u'a' + u'A') : AChar;
    // Without the UTF-8 locale only ASCII is mapped; surrogate halves have no case.
    if (FLocale == locale_t{} || (AChar >= 0xD800 && AChar <= 0xDFFF))
      return AChar;
    const wint_t upper = towupper_l(AChar, FLocale);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : AChar;
  }

  locale_t FLocale;
};

std::u16string UpperCase(const std::u16string& AText) {
  static const TUpperCase upper;
  return upper.Convert(AText);
}

} // namespace

TSysPaths::TSysPaths()
    : TSysPaths([folders = TXdgFolders()](std::uint16_t ACSIDL) {
        return FromNativePath(folders.Folder(ACSIDL));
      }) {}

TSysPaths::TSysPaths(const TSpecialFolderLookup& ALookup) {
  FItems.reserve(std::size(kFolderIds));
  for (const TFolderId& id : kFolderIds)
    FItems.push_back(TSysPath{id.Name, id.CSIDL, ALookup(id.CSIDL)});
}

int TSysPaths::Count() const {
  return static_cast<int>(FItems.size());
}

const TSysPath& TSysPaths::Get(int AIndex) const {
  return FItems.at(static_cast<std::size_t>(AIndex));
}

void TSysPaths::Put(int AIndex, const TSysPath& AItem) {
  FItems.at(static_cast<std::size_t>(AIndex)) = AItem;
}

std::u16string TSysPaths::AnnouncePath(const std::u16string& aPath, const std::u16string& NT) const {
  const std::size_t opening = NT.empty() ? std::u16string::npos : aPath.find(NT);
  if (opening == std::u16string::npos)
    return aPath;
  if (opening != 0)
    return {};
  const std::u16string rest = aPath.substr(NT.size());
  const std::size_t closing = rest.find(NT);
  if (closing == std::u16string::npos)
    return {};
  const std::u16string name = UpperCase(rest.substr(0, closing));
  for (const TSysPath& item : FItems)
    if (UpperCase(item.Name) == name)
      return item.Path + rest.substr(closing + NT.size());
  return {};
}

std::u16string TSysPaths::DenouncePath(const std::u16string& aPath, const std::u16string& NT) const {
  std::u16string result = aPath;
  std::size_t bestRemainder = kMaxPathChars;
  const std::u16string upperPath = UpperCase(aPath);
  for (const TSysPath& item : FItems) {
    if (item.Path.empty() || !upperPath.starts_with(UpperCase(item.Path)))
      continue;
    const std::u16string remainder = aPath.substr(item.Path.size());
    if (remainder.size() < bestRemainder) {
      bestRemainder = remainder.size();
      result = NT + item.Name + NT + remainder;
    }
  }
  return result;
}

TSysPaths& SysPaths() {
  static TSysPaths paths;
  return paths;
}

namespace {
std::u16string& AppDataFolderValue() {
  static std::u16string folder;
  return folder;
}
} // namespace

const std::u16string& AppDataFolder() {
  return AppDataFolderValue();
}

void SetAppDataFolder(const std::u16string& AFolder) {
  AppDataFolderValue() = AFolder;
}

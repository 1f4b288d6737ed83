#include "App/Analytics/AMPDeviceInfo.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <array>
#include <cctype>
#include <string_view>
#include <utility>

#include "Platform/BundleInfo.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/ProcessInfo.h"
#include "Platform/PropertyList.h"
#include "Platform/UUID.h"

namespace zelto {

namespace {

constexpr const char* kSystemVersionPlist = "System/Library/CoreServices/SystemVersion.plist";
constexpr const char* kOsRelease = "etc/os-release";
constexpr const char* kProductName = "sys/class/dmi/id/product_name";
constexpr const char* kEn0Address = "sys/class/net/en0/address";

// System files are a few hundred bytes; anything much larger is not what we are looking for,
// and is not read into memory.
constexpr uint64_t kLargestSystemFile = 64 * 1024;

std::string below(const std::string& root, const char* relative) {
  return path::appendingComponent(root.empty() ? "/" : root, relative);
}

std::optional<std::string> readSystemFile(const std::string& path) {
  const FileSystem& fs = Env::fileSystem();
  auto status = fs.inspect(path).toOptional();
  if (!status || status->kind != FileStatus::Kind::kRegular || status->size > kLargestSystemFile) {
    return std::nullopt;
  }
  auto bytes = fs.readFile(path, kLargestSystemFile);
  if (!bytes || bytes->size() > kLargestSystemFile) return std::nullopt;
  return std::move(*bytes);
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0 || c == '\0'; }

std::string trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string firstLine(std::string_view text) { return trimmed(text.substr(0, text.find('\n'))); }

std::optional<std::string> productVersionFromPlist(const std::string& path) {
  auto bytes = readSystemFile(path);
  if (!bytes) return std::nullopt;
  auto plist = PropertyList::parse(*bytes);
  if (!plist || !plist->is_object()) return std::nullopt;
  auto it = plist->find("ProductVersion");
  if (it == plist->end() || !it->is_string() || it->get<std::string>().empty()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

// A value of an os-release assignment: bare, or in single or double quotes (double-quoted values
// may escape ", \, $ and ` with a backslash).
std::string unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
    return std::string(value.substr(1, value.size() - 2));
  }
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      out += value[i];
    }
    return out;
  }
  return std::string(value);
}

// VERSION_ID of an os-release file; the last assignment wins, as when the shell reads it.
std::optional<std::string> versionIdFromOsRelease(const std::string& path) {
  auto text = readSystemFile(path);
  if (!text) return std::nullopt;
  std::optional<std::string> found;
  std::string_view rest = *text;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string line = trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    constexpr std::string_view kKey = "VERSION_ID=";
    if (!line.starts_with(kKey)) continue;
    std::string value = unquoted(std::string_view(line).substr(kKey.size()));
    if (!value.empty()) found = std::move(value);
  }
  return found;
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

const icu::Locale& english() {
  static const icu::Locale locale("en", "US");
  return locale;
}

// The language of a POSIX locale name or a language tag ("de_DE.UTF-8", "pt-BR", "fr"), or
// nothing for the C locale and names without a language.
std::optional<std::string> languageCodeOf(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
  icu::Locale locale = icu::Locale::createCanonical(std::string(name).c_str());
  if (locale.isBogus() || locale.getLanguage()[0] == '\0') return std::nullopt;
  return std::string(locale.getLanguage());
}

struct Mapping {
  std::string_view platform;
  std::string_view name;
};

constexpr std::array kExactModels = {
    Mapping{"iPhone1,1", "iPhone 1"},      Mapping{"iPhone1,2", "iPhone 3G"},
    Mapping{"iPhone2,1", "iPhone 3GS"},    Mapping{"iPhone3,1", "iPhone 4"},
    Mapping{"iPhone3,3", "iPhone 4"},      Mapping{"iPhone4,1", "iPhone 4S"},
    Mapping{"iPhone5,1", "iPhone 5"},      Mapping{"iPhone5,2", "iPhone 5"},
    Mapping{"iPhone6,1", "iPhone 5s"},     Mapping{"iPhone6,2", "iPhone 5s"},
    Mapping{"iPhone7,1", "iPhone 6 Plus"}, Mapping{"iPhone7,2", "iPhone 6"},
    Mapping{"iPod1,1", "iPod Touch 1G"},   Mapping{"iPod2,1", "iPod Touch 2G"},
    Mapping{"iPod3,1", "iPod Touch 3G"},   Mapping{"iPod4,1", "iPod Touch 4G"},
    Mapping{"iPod5,1", "iPod Touch 5G"},   Mapping{"iPad1,1", "iPad 1"},
    Mapping{"iPad2,1", "iPad 2"},          Mapping{"iPad2,2", "iPad 2"},
    Mapping{"iPad2,3", "iPad 2"},          Mapping{"iPad2,4", "iPad 2"},
    Mapping{"iPad2,5", "iPad Mini"},       Mapping{"iPad2,6", "iPad Mini"},
    Mapping{"iPad2,7", "iPad Mini"},       Mapping{"iPad4,4", "iPad Mini 2"},
    Mapping{"iPad4,5", "iPad Mini 2"},     Mapping{"iPad4,6", "iPad Mini 2"},
    Mapping{"iPad4,7", "iPad Mini 3"},     Mapping{"iPad4,8", "iPad Mini 3"},
    Mapping{"iPad4,9", "iPad Mini 3"},     Mapping{"iPad3,1", "iPad 3"},
    Mapping{"iPad3,2", "iPad 3"},          Mapping{"iPad3,3", "iPad 3"},
    Mapping{"iPad3,4", "iPad 4"},          Mapping{"iPad3,5", "iPad 4"},
    Mapping{"iPad3,6", "iPad 4"},          Mapping{"iPad4,1", "iPad Air"},
    Mapping{"iPad4,2", "iPad Air"},        Mapping{"iPad4,3", "iPad Air"},
    Mapping{"iPad5,3", "iPad Air 2"},      Mapping{"iPad5,4", "iPad Air 2"},
    Mapping{"i386", "Simulator"},          Mapping{"x86_64", "Simulator"},
};

// Tried in order: the longer Mac prefixes come before "MacBook".
constexpr std::array kModelPrefixes = {
    Mapping{"MacBookAir", "MacBook Air"}, Mapping{"MacBookPro", "MacBook Pro"},
    Mapping{"MacBook", "MacBook"},        Mapping{"MacPro", "Mac Pro"},
    Mapping{"Macmini", "Mac Mini"},       Mapping{"iMac", "iMac"},
    Mapping{"Xserve", "Xserve"},
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "aa:bb:cc:dd:ee:ff" as "AABBCCDDEEFF"; nothing for anything but six colon-separated bytes.
std::optional<std::string> sixByteAddress(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < text.size(); i += 3) {
    int high = hexValue(text[i]);
    int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0 || (i + 2 < text.size() && text[i + 2] != ':')) return std::nullopt;
    out += kDigits[high];
    out += kDigits[low];
  }
  return out;
}

}  // namespace

AMPDeviceInfo::AMPDeviceInfo() : AMPDeviceInfo("", ProcessInfo::environmentValue) {}

AMPDeviceInfo::AMPDeviceInfo(std::string rootDirectory, EnvironmentReader environment)
    : root_(std::move(rootDirectory)), environment_(std::move(environment)) {}

const std::string& AMPDeviceInfo::appVersion() {
  if (!appVersion_) appVersion_ = Env::mainBundle().shortVersion.value_or("");
  return *appVersion_;
}

std::string AMPDeviceInfo::osName() { return "OSX"; }

const std::string& AMPDeviceInfo::osVersion() {
  if (!osVersion_) {
    auto version = productVersionFromPlist(below(root_, kSystemVersionPlist));
    if (!version) version = versionIdFromOsRelease(below(root_, kOsRelease));
    osVersion_ = version.value_or("");
  }
  return *osVersion_;
}

std::string AMPDeviceInfo::manufacturer() { return "Apple"; }

const std::string& AMPDeviceInfo::model() {
  if (!model_) model_ = phoneModelFor(platformStringBelow(root_));
  return *model_;
}

const std::optional<std::string>& AMPDeviceInfo::carrier() {
  // No telephony here: the carrier stays absent.
  if (!carrier_) carrier_.emplace(std::nullopt);
  return *carrier_;
}

const std::string& AMPDeviceInfo::country() {
  if (!country_) {
    const char* code = icu::Locale::getDefault().getCountry();
    icu::UnicodeString name;
    if (code[0] != '\0') icu::Locale("", code).getDisplayCountry(english(), name);
    country_ = utf8(name);
  }
  return *country_;
}

const std::string& AMPDeviceInfo::language() {
  if (!language_) {
    // The user's preferred languages, most wanted first, as gettext reads them; then the
    // locale's own language.
    std::optional<std::string> code;
    if (auto preferred = environment_ ? environment_("LANGUAGE") : std::nullopt) {
      std::string_view rest = *preferred;
      while (!code && !rest.empty()) {
        size_t end = rest.find(':');
        code = languageCodeOf(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      }
    }
    if (!code) code = languageCodeOf(icu::Locale::getDefault().getName());
    icu::UnicodeString name;
    if (code) icu::Locale(code->c_str()).getDisplayLanguage(english(), name);
    language_ = utf8(name);
  }
  return *language_;
}

const std::optional<std::string>& AMPDeviceInfo::advertiserID() { return advertiserID_; }

const std::optional<std::string>& AMPDeviceInfo::vendorID() { return vendorID_; }

std::string AMPDeviceInfo::generateUUID() const { return UUID::generateString() + "R"; }

std::optional<std::string> AMPDeviceInfo::getAdvertiserID(int /*retries*/) {
  // There is no advertising identifier on this system, so there is nothing to wait for.
  return std::nullopt;
}

std::optional<std::string> AMPDeviceInfo::getVendorID(int /*retries*/) { return vendorIDBelow(""); }

std::optional<std::string> AMPDeviceInfo::vendorIDBelow(const std::string& rootDirectory) {
  auto text = readSystemFile(below(rootDirectory, kEn0Address));
  if (!text) return std::nullopt;
  return sixByteAddress(firstLine(*text));
}

std::string AMPDeviceInfo::getPlatformString() { return platformStringBelow(""); }

std::string AMPDeviceInfo::platformStringBelow(const std::string& rootDirectory) {
  auto text = readSystemFile(below(rootDirectory, kProductName));
  return text ? firstLine(*text) : std::string();
}

std::string AMPDeviceInfo::getPhoneModel() { return phoneModelFor(getPlatformString()); }

std::string AMPDeviceInfo::phoneModelFor(const std::string& platform) {
  for (const Mapping& exact : kExactModels) {
    if (platform == exact.platform) return std::string(exact.name);
  }
  for (const Mapping& prefix : kModelPrefixes) {
    if (platform.starts_with(prefix.platform)) return std::string(prefix.name);
  }
  return platform;
}

}  // namespace zelto

// AMPDeviceInfo: the device, system and locale facts that usage events carry.
//
// Each fact is read on first use and kept for the life of the object, so later changes (of the
// locale, the system version) are not seen by the same object. On Linux: the application
// version is the running bundle's CFBundleShortVersionString; the system version comes from
// "/System/Library/CoreServices/SystemVersion.plist" when there is one, else VERSION_ID of
// /etc/os-release; the model from the hardware's DMI product name; the country and language are
// named in English. There is no telephony, advertising identifier or vendor identifier here:
// those facts are absent. Facts that can't be read are empty texts.
//
// Every system file is read through Env::fileSystem(), below a root directory that is "/" for
// the machine itself; tests give another root (and their own environment variables).
//
// Ownership: the analytics client owns one. Thread safety: one thread at a time (the client's
// background queue); the class operations from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace zelto {

class AMPDeviceInfo {
 public:
  // Reads an environment variable ($LANGUAGE); nothing when it is not set.
  using EnvironmentReader = std::function<std::optional<std::string>(const std::string&)>;

  // The machine's own files and the process's environment.
  AMPDeviceInfo();
  // Files below `rootDirectory` ("" or "/" for the machine's own) and `environment`.
  AMPDeviceInfo(std::string rootDirectory, EnvironmentReader environment);

  const std::string& appVersion();
  static std::string osName();  // "OSX"
  const std::string& osVersion();
  static std::string manufacturer();  // "Apple"
  const std::string& model();
  const std::optional<std::string>& carrier();
  const std::string& country();
  const std::string& language();
  const std::optional<std::string>& advertiserID();
  const std::optional<std::string>& vendorID();

  // A new random id: a UUID's 36-character text followed by "R".
  std::string generateUUID() const;

  static std::optional<std::string> getAdvertiserID(int retries);
  // The hardware address of the network interface "en0" as 12 upper-case hexadecimal digits;
  // nothing where there is no such interface.
  static std::optional<std::string> getVendorID(int retries);
  static std::string getPlatformString();
  // A readable name for the platform string.
  static std::string getPhoneModel();
  // The mapping itself, for any platform string.
  static std::string phoneModelFor(const std::string& platform);

  // getVendorID and getPlatformString with the system files below `rootDirectory`.
  static std::optional<std::string> vendorIDBelow(const std::string& rootDirectory);
  static std::string platformStringBelow(const std::string& rootDirectory);

 private:
  std::string root_;
  EnvironmentReader environment_;

  std::optional<std::string> appVersion_;
  std::optional<std::string> osVersion_;
  std::optional<std::string> model_;
  std::optional<std::optional<std::string>> carrier_;
  std::optional<std::string> country_;
  std::optional<std::string> language_;
  std::optional<std::string> advertiserID_;
  std::optional<std::string> vendorID_;
};

}  // namespace zelto

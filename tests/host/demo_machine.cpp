#include "demo_machine.h"

#include <string>

#include "platform/sim/sim.h"

namespace demo {

namespace {

const char kGuid[] = "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}";
const char* const kProviders[] = {"TAVO Crypto Service Provider",
                                  "TAVO Crypto Service Provider for Sign",
                                  "TAVO Crypto Service Provider for Auth"};
const char* const kArchives[] = {"TAVOCryptJNI.jar", "TAVOCryptSignJNI.jar",
                                 "TAVOCryptAuthJNI.jar", "TAVOUserCertService.jar",
                                 "TAVOUserCertServiceMain.jar"};

void PlantView(const std::string& branch, const std::string& programFiles) {
  const std::string entry = branch + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kGuid;
  const std::string folder = programFiles + "\\TAVO";
  sim::RegSetString(entry, "DisplayName", "TAVO利用者ソフト");
  sim::RegSetString(entry, "DisplayVersion", "5.1.0");
  sim::RegSetString(entry, "InstallLocation", folder + "\\");
  sim::RegSetString(entry, "InstallDate", "20240401");
  sim::FsAddFile(folder + "\\bin\\TAVOCrypt.dll", "MZ");
  sim::FsAddFile(folder + "\\設定\\user.ini", "[user]");
  sim::FsAddFile(programFiles + "\\InstallShield Installation Information\\" + kGuid + "\\setup.ini");

  // The management key names the same folder, without the trailing backslash.
  sim::RegSetString(branch + "\\TAVO", "InstallPath", folder);
  sim::RegSetDword(branch + "\\TAVO\\Version", "Major", 5);
  sim::RegSetDword(branch + "\\TAVO\\Version", "Minor", 1);
  sim::RegSetDword(branch + "\\TAVO\\Version", "Revision", 0);

  for (const char* provider : kProviders) {
    const std::string key = branch + "\\Microsoft\\Cryptography\\Defaults\\Provider\\" + provider;
    sim::RegSetString(key, "Image Path", folder + "\\bin\\TAVOCrypt.dll");
    sim::RegSetDword(key, "Type", 1);
  }

  const std::string java = branch + "\\JavaSoft\\Java Runtime Environment";
  const std::string home = programFiles + "\\Java\\jre1.8.0_401";
  sim::RegSetString(java, "CurrentVersion", "1.8");
  sim::RegSetString(java + "\\1.8", "JavaHome", home);
  for (const char* archive : kArchives) {
    sim::FsAddFile(home + "\\lib\\ext\\" + archive, "PK");
  }
  sim::FsAddFile(home + "\\lib\\ext\\other.jar", "PK");  // not the product's
}

}  // namespace

void PlantFullInstall(bool is64) {
  if (is64) {
    PlantView("SOFTWARE", "C:\\Program Files");
    PlantView("SOFTWARE\\Wow6432Node", "C:\\Program Files (x86)");
  } else {
    PlantView("SOFTWARE", "C:\\Program Files");
  }
  sim::FsAddFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\ミラネス\\TAVO.lnk");
  sim::FsAddFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\更新通知.lnk");
}

void MakeMachine32() {
  sim::SetArchitecture(PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL, true);
  sim::SetEnv("ProgramFiles", "C:\\Program Files");
  sim::UnsetEnv("ProgramW6432");
  sim::UnsetEnv("ProgramFiles(x86)");
  sim::FsRemove("C:\\Program Files (x86)");
}

}  // namespace demo

// A session with the two modules, as a host sets one up: the identification module
// (libpelksonquix.so) and our lookup control (libpelkcontrol.so) loaded with LoadLibrary, the
// control created through its module's DllGetObject and pointed at a catalogue, the control's
// module handed to the identification module (DllSetPelkHINST) so that it creates tags through
// it, and the manager created through DllGetObject and initialized against the control.
//
// Where the modules are found: in the folder $PELK_MODULE_DIR when that variable is set (both
// files, under their usual names), else in the installed library folder relative to the
// executable (bin/../lib of an installed tree), else at the paths where this build tree put them.
//
// References: the session holds the control, its lookup engine, the manager and a fingerprinter;
// the destructor shuts the manager down and releases them. The modules stay loaded for the life
// of the process (objects they handed out must keep their code mapped).
#pragma once

#include <memory>
#include <string>

#include "control/lookup_control.h"
#include "pelk/file_info_interfaces.h"
#include "pelk/fingerprint_interfaces.h"
#include "pelk/manager_interfaces.h"
#include "runtime/com_create.h"
#include "runtime/com_ptr.h"

namespace pelk::cli {

// The full paths of the two modules this process loads.
struct ModulePaths {
  std::string sonquix;
  std::string control;
};
ModulePaths FindModules();

class ModuleSession {
 public:
  // Loads the modules, creates the control and the manager and initializes the manager. Null
  // with *error set (one line) when any step fails.
  static std::unique_ptr<ModuleSession> Load(std::string* error);
  // Load, then OpenCatalog of an existing catalogue; fails the command on any error.
  static std::unique_ptr<ModuleSession> LoadWithCatalog(const std::string& catalog_path);
  ~ModuleSession();
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  // Points the control at a catalogue (a file path or a postgresql:// location; empty: the
  // default location; created when absent). False with *error set when the control refuses it.
  bool OpenCatalog(const std::string& location, std::string* error);
  // The location OpenCatalog was given (the default one when it was given none), as the user
  // wrote it: the way for another connection to reach the same catalogue.
  const std::string& CatalogLocation() const { return catalog_location_; }

  IPELKSonquixManager3* Manager() const { return manager_.Get(); }
  ILookupControl* Control() const { return control_.Get(); }
  ILookupEngine* Engine() const { return engine_.Get(); }
  // The identification module's own fingerprinter, for audio the host decodes.
  IPelkSonquixFingerprinter2* Fingerprinter() const { return fingerprinter_.Get(); }

  // A new record of the identification module; null when it cannot be made.
  ComPtr<IPelkFileInfo2_6> NewRecord() const;
  // A new, empty list of the identification module; null when it cannot be made.
  ComPtr<IPelkFileInfoList> NewList() const;
  // A new, empty tag of the control module; null when it cannot be made.
  ComPtr<IFileTag> NewTag() const;

 private:
  ModuleSession() = default;

  HMODULE sonquix_module_ = nullptr;
  HMODULE control_module_ = nullptr;
  DllGetClassObjectFn sonquix_get_object_ = nullptr;
  DllGetClassObjectFn control_get_object_ = nullptr;
  ComPtr<ILookupControl> control_;
  ComPtr<ILookupEngine> engine_;
  ComPtr<IPELKSonquixManager3> manager_;
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter_;
  std::string catalog_location_;
};

}  // namespace pelk::cli

#include "cli/module_session.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "catalog/catalog_store.h"
#include "cli/command_support.h"
#include "control/control_objects.h"
#include "pelk/catalog_control.h"
#include "runtime/bstr.h"
#include "runtime/error_info.h"
#include "runtime/utf.h"

namespace pelk::cli {
namespace {

using SetHinstFn = HRESULT (*)(HMODULE);

constexpr char kSonquixFile[] = "libpelksonquix.so";
constexpr char kControlFile[] = "libpelkcontrol.so";

// Loads a module and looks up its DllGetObject; null with *error set when either fails.
HMODULE LoadModule(const std::string& path, DllGetClassObjectFn* get_object, std::string* error) {
  HMODULE module = LoadLibrary(path.c_str());
  if (!module) {
    const char* why = dlerror();
    *error = "cannot load " + path + (why ? std::string(" (") + why + ")" : std::string());
    return nullptr;
  }
  *get_object = reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(module, "DllGetObject"));
  if (!*get_object) {
    *error = path + " has no DllGetObject: not one of our modules";
    return nullptr;
  }
  return module;
}

std::string Failure(const std::string& what, HRESULT hr) {
  std::string description = Utf16ToUtf8(TakeErrorDescription());
  return what + " (error " + HresultText(hr) + (description.empty() ? "" : ": " + description) +
         ")";
}

}  // namespace

ModulePaths FindModules() {
  if (const char* dir = std::getenv("PELK_MODULE_DIR"); dir && *dir) {
    const std::filesystem::path folder(dir);
    return {(folder / kSonquixFile).string(), (folder / kControlFile).string()};
  }
  // An installed host finds the modules in the library folder of its own prefix, wherever the
  // tree was installed or moved to; the build tree has no such folder beside the executable.
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path folder =
        (self.parent_path() / SONQUIX_INSTALLED_MODULE_DIR).lexically_normal();
    if (std::filesystem::exists(folder / kSonquixFile, ec) &&
        std::filesystem::exists(folder / kControlFile, ec)) {
      return {(folder / kSonquixFile).string(), (folder / kControlFile).string()};
    }
  }
  return {SONQUIX_MODULE_PATH, SONQUIX_CONTROL_MODULE_PATH};
}

std::unique_ptr<ModuleSession> ModuleSession::Load(std::string* error) {
  std::unique_ptr<ModuleSession> session(new ModuleSession());
  const ModulePaths paths = FindModules();
  session->control_module_ = LoadModule(paths.control, &session->control_get_object_, error);
  if (!session->control_module_) return nullptr;
  session->sonquix_module_ = LoadModule(paths.sonquix, &session->sonquix_get_object_, error);
  if (!session->sonquix_module_) return nullptr;

  HRESULT hr = session->control_get_object_(CLSID_PelkLookupControl, ILookupControl::kIid,
                                            session->control_.OutVoid());
  if (FAILED(hr) || !session->control_) {
    *error = Failure("the control module cannot create its lookup control", hr);
    return nullptr;
  }
  ComPtr<IUnknown> engine;
  hr = session->control_->GetControlObject(kControlObjectEngine, engine.Out());
  if (FAILED(hr) || !engine || FAILED(engine.As(&session->engine_))) {
    *error = Failure("the lookup control has no lookup engine", FAILED(hr) ? hr : E_NOINTERFACE);
    return nullptr;
  }

  // The manager creates tags and discs through the control's own module.
  auto set_hinst =
      reinterpret_cast<SetHinstFn>(GetProcAddress(session->sonquix_module_, "DllSetPelkHINST"));
  if (!set_hinst) {
    *error = paths.sonquix + " has no DllSetPelkHINST";
    return nullptr;
  }
  set_hinst(session->control_module_);
  // So does the host's own use of the tag utilities (the track scorer builds tags from discs).
  SetControlModule(session->control_module_);

  hr = session->sonquix_get_object_(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid,
                                    session->manager_.OutVoid());
  if (FAILED(hr) || !session->manager_) {
    *error = Failure("the identification module cannot create its manager", hr);
    return nullptr;
  }
  hr = session->manager_->Initialize(session->control_.Get());
  if (FAILED(hr)) {
    session->manager_.Reset();
    *error = Failure("the manager refuses the lookup control", hr);
    return nullptr;
  }
  hr =
      session->sonquix_get_object_(CLSID_PelkSonquixFingerprinter, IPelkSonquixFingerprinter2::kIid,
                                   session->fingerprinter_.OutVoid());
  if (FAILED(hr) || !session->fingerprinter_) {
    *error = Failure("the identification module cannot create a fingerprinter", hr);
    return nullptr;
  }
  return session;
}

std::unique_ptr<ModuleSession> ModuleSession::LoadWithCatalog(const std::string& catalog_path) {
  // The control would create a missing catalogue; a mistyped path should not give an empty one.
  const std::string location =
      catalog_path.empty() ? catalog::CatalogStore::DefaultLocation() : catalog_path;
  constexpr std::string_view kMakeOne =
      " (make one with `sonquix catalog create`, `import` or `add-album`)";
  if (catalog::CatalogStore::IsServerLocation(location)) {
    // A database without a catalogue, or a server that cannot be reached, is said here in the
    // store's words (which never show a password).
    std::string why;
    if (!catalog::CatalogStore::Open(location, catalog::CatalogStore::OpenMode::kExisting, &why)) {
      Fail(why + (why.starts_with("no catalogue") ? std::string(kMakeOne) : ""));
    }
  } else if (std::error_code ec; !std::filesystem::exists(location, ec)) {
    Fail("no catalogue at " + location + std::string(kMakeOne));
  }
  std::string error;
  std::unique_ptr<ModuleSession> session = Load(&error);
  if (!session || !session->OpenCatalog(catalog_path, &error)) Fail(error);
  return session;
}

ModuleSession::~ModuleSession() {
  if (manager_) manager_->Shutdown();
  fingerprinter_.Reset();
  manager_.Reset();
  engine_.Reset();
  control_.Reset();
}

bool ModuleSession::OpenCatalog(const std::string& location, std::string* error) {
  const ComPtr<catalog::IPelkCatalogControl> catalog = control_.As<catalog::IPelkCatalogControl>();
  if (!catalog) {
    *error = "the lookup control cannot open a catalogue";
    return false;
  }
  const HRESULT hr = catalog->OpenCatalog(Bstr::FromUtf8(location).Get());
  if (FAILED(hr)) {
    std::string description = Utf16ToUtf8(TakeErrorDescription());
    *error = description.empty()
                 ? "cannot open the catalogue " + location + " (error " + HresultText(hr) + ")"
                 : description;
    return false;
  }
  catalog_location_ = location.empty() ? catalog::CatalogStore::DefaultLocation() : location;
  return true;
}

ComPtr<IPelkFileInfo2_6> ModuleSession::NewRecord() const {
  ComPtr<IPelkFileInfo2_6> record;
  sonquix_get_object_(CLSID_PelkFileInfo, IPelkFileInfo2_6::kIid, record.OutVoid());
  return record;
}

ComPtr<IPelkFileInfoList> ModuleSession::NewList() const {
  ComPtr<IPelkFileInfoList> list;
  sonquix_get_object_(CLSID_PelkFileInfoList, IPelkFileInfoList::kIid, list.OutVoid());
  return list;
}

ComPtr<IFileTag> ModuleSession::NewTag() const {
  ComPtr<IFileTag> tag;
  control_get_object_(CLSID_PelkFileTag, IFileTag::kIid, tag.OutVoid());
  return tag;
}

}  // namespace pelk::cli

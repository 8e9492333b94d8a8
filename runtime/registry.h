// The registry store: a file of hierarchical keys with named and default string values, standing
// in for the platform's class registry (the classes root). Key names compare case-insensitively,
// as the platform's do; paths separate keys with '\'.
//
// Every operation reads the file, and every change rewrites it atomically (a temporary file and a
// rename) under an exclusive lock on a side file, so several processes may register at once.
//
// File location: $PELK_REGISTRY, else $XDG_CONFIG_HOME/pelk/registry, else
// ~/.config/pelk/registry.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/hresult.h"

namespace pelk {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// One key: its values (the default value has the empty name) and its subkeys.
struct RegistryKey {
  std::map<std::string, std::string, CaseInsensitiveLess> values;
  std::map<std::string, RegistryKey, CaseInsensitiveLess> subkeys;

  // The key at path below this one (created when create is true); null when absent.
  RegistryKey* Find(std::string_view path, bool create = false);
  const RegistryKey* Find(std::string_view path) const;
  // Removes the key at path with its whole subtree; false when it did not exist.
  bool Remove(std::string_view path);
  bool Empty() const { return values.empty() && subkeys.empty(); }
};

class Registry {
 public:
  explicit Registry(std::filesystem::path file = DefaultPath());
  static std::filesystem::path DefaultPath();

  const std::filesystem::path& File() const { return file_; }

  std::optional<std::string> GetValue(std::string_view key, std::string_view name = {}) const;
  bool KeyExists(std::string_view key) const;
  std::vector<std::string> SubKeys(std::string_view key) const;

  // E_INVALIDARG for a key path with a line break (names may hold anything else but '\\').
  HRESULT SetValue(std::string_view key, std::string_view name, std::string_view value);
  HRESULT CreateKey(std::string_view key);
  // Deletes the key and everything below it (ForceRemove); S_FALSE when it did not exist.
  HRESULT DeleteTree(std::string_view key);

  // Applies several changes as one transaction; the change returns false to abandon them.
  // E_ACCESSDENIED when the file cannot be read or written, E_FAIL when it is not a registry file.
  HRESULT Update(const std::function<bool(RegistryKey& root)>& change);
  // Reads the whole tree; nullopt when the file exists but cannot be read or parsed.
  std::optional<RegistryKey> Load() const;

 private:
  static bool ValidKeyPath(std::string_view key);

  std::filesystem::path file_;
};

// The text form of a tree, and back (nullopt for text that is not a registry file).
std::string SerializeRegistry(const RegistryKey& root);
std::optional<RegistryKey> ParseRegistry(std::string_view text);

}  // namespace pelk

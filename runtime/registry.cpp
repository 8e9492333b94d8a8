#include "runtime/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pelk {
namespace {

constexpr std::string_view kHeader = "pelk-registry 1";

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Splits "a\b\c" into its first component and the rest.
std::pair<std::string_view, std::string_view> SplitFirst(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  const size_t sep = path.find('\\');
  if (sep == std::string_view::npos) return {path, {}};
  return {path.substr(0, sep), path.substr(sep + 1)};
}

// Values and names are written escaped so that any text survives a line-based file.
std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '=': out += "\\e"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'e': out += '='; break;
      default: return std::nullopt;
    }
  }
  return out;
}

void Serialize(const RegistryKey& key, const std::string& path, std::ostringstream& out) {
  if (!path.empty()) {
    out << "[" << path << "]\n";
    for (const auto& [name, value] : key.values) {
      out << (name.empty() ? "@" : "\"" + Escape(name) + "\"") << "=" << Escape(value) << "\n";
    }
  }
  for (const auto& [name, sub] : key.subkeys) {
    Serialize(sub, path.empty() ? name : path + "\\" + name, out);
  }
}

// An exclusive lock on "<file>.lock" for the lifetime of the object.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& file) {
    const std::string lock_path = file.string() + ".lock";
    fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = Fold(a[i]), y = Fold(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

RegistryKey* RegistryKey::Find(std::string_view path, bool create) {
  auto [first, rest] = SplitFirst(path);
  if (first.empty()) return this;
  auto it = subkeys.find(std::string(first));
  if (it == subkeys.end()) {
    if (!create) return nullptr;
    it = subkeys.emplace(std::string(first), RegistryKey{}).first;
  }
  return it->second.Find(rest, create);
}

const RegistryKey* RegistryKey::Find(std::string_view path) const {
  return const_cast<RegistryKey*>(this)->Find(path, false);
}

bool RegistryKey::Remove(std::string_view path) {
  auto [first, rest] = SplitFirst(path);
  if (first.empty()) return false;
  auto it = subkeys.find(std::string(first));
  if (it == subkeys.end()) return false;
  if (SplitFirst(rest).first.empty()) {
    subkeys.erase(it);
    return true;
  }
  return it->second.Remove(rest);
}

std::string SerializeRegistry(const RegistryKey& root) {
  std::ostringstream out;
  out << kHeader << "\n";
  Serialize(root, "", out);
  return out.str();
}

std::optional<RegistryKey> ParseRegistry(std::string_view text) {
  RegistryKey root;
  RegistryKey* current = nullptr;
  std::istringstream in{std::string(text)};
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      // Key names cannot hold '\\' (the separator) nor line breaks, so they need no escaping.
      const std::string_view body = std::string_view(line).substr(1, line.size() - 2);
      current = &root;
      size_t start = 0;
      for (;;) {
        const size_t end = std::min(body.find('\\', start), body.size());
        if (end == start) return std::nullopt;
        current = &current->subkeys[std::string(body.substr(start, end - start))];
        if (end == body.size()) break;
        start = end + 1;
      }
      continue;
    }
    if (!current) return std::nullopt;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string_view raw_name = std::string_view(line).substr(0, eq);
    std::optional<std::string> name;
    if (raw_name == "@") {
      name = std::string();
    } else if (raw_name.size() >= 2 && raw_name.front() == '"' && raw_name.back() == '"') {
      name = Unescape(raw_name.substr(1, raw_name.size() - 2));
    }
    auto value = Unescape(std::string_view(line).substr(eq + 1));
    if (!name || !value) return std::nullopt;
    current->values[*name] = *value;
  }
  return root;
}

Registry::Registry(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path Registry::DefaultPath() {
  if (const char* explicit_path = std::getenv("PELK_REGISTRY"); explicit_path && *explicit_path) {
    return explicit_path;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    return std::filesystem::path(config) / "pelk" / "registry";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config" / "pelk" / "registry";
}

std::optional<RegistryKey> Registry::Load() const {
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) return RegistryKey{};  // a missing file is empty
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseRegistry(text.str());
}

std::optional<std::string> Registry::GetValue(std::string_view key, std::string_view name) const {
  const auto root = Load();
  if (!root) return std::nullopt;
  const RegistryKey* k = root->Find(key);
  if (!k) return std::nullopt;
  auto it = k->values.find(std::string(name));
  if (it == k->values.end()) return std::nullopt;
  return it->second;
}

bool Registry::KeyExists(std::string_view key) const {
  const auto root = Load();
  return root && root->Find(key) != nullptr;
}

std::vector<std::string> Registry::SubKeys(std::string_view key) const {
  std::vector<std::string> names;
  const auto root = Load();
  if (!root) return names;
  if (const RegistryKey* k = root->Find(key)) {
    for (const auto& [name, sub] : k->subkeys) names.push_back(name);
  }
  return names;
}

bool Registry::ValidKeyPath(std::string_view key) {
  return key.find_first_of("\r\n") == std::string_view::npos;
}

HRESULT Registry::Update(const std::function<bool(RegistryKey& root)>& change) {
  std::error_code ec;
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
  FileLock lock(file_);
  if (!lock.Held()) return E_ACCESSDENIED;
  std::optional<RegistryKey> root = Load();
  if (!root) return E_FAIL;  // never overwrite a file we cannot read back
  if (!change(*root)) return S_FALSE;
  const std::filesystem::path temp = file_.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return E_ACCESSDENIED;
    out << SerializeRegistry(*root);
    if (!out.flush()) return E_ACCESSDENIED;
  }
  std::filesystem::rename(temp, file_, ec);
  return ec ? E_ACCESSDENIED : S_OK;
}

HRESULT Registry::SetValue(std::string_view key, std::string_view name, std::string_view value) {
  if (!ValidKeyPath(key)) return E_INVALIDARG;
  return Update([&](RegistryKey& root) {
    root.Find(key, true)->values[std::string(name)] = std::string(value);
    return true;
  });
}

HRESULT Registry::CreateKey(std::string_view key) {
  if (!ValidKeyPath(key)) return E_INVALIDARG;
  return Update([&](RegistryKey& root) {
    root.Find(key, true);
    return true;
  });
}

HRESULT Registry::DeleteTree(std::string_view key) {
  bool removed = false;
  const HRESULT hr = Update([&](RegistryKey& root) {
    removed = root.Remove(key);
    return removed;
  });
  if (FAILED(hr)) return hr;
  return removed ? S_OK : S_FALSE;
}

}  // namespace pelk

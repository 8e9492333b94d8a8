// What the control's objects share: the open catalogue, the last lookup's answer (which the
// control hands out as its single match or match collection), and the tracer's record.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "control/lookup_control.h"
#include "runtime/com_ptr.h"

namespace pelk::catalog {

struct TraceEntry {
  std::string step;
  std::chrono::microseconds duration{0};
  bool finished = false;
};

class CatalogSession {
 public:
  // Opens the catalogue at location (a file path or a postgresql:// location; the default when
  // empty), creating an empty one when there is none. False with *error set when it cannot be
  // opened or is refused.
  bool Open(const std::string& location, std::string* error);
  // The open catalogue; opens the default one on first use. Null when that fails (LastError).
  CatalogStore* Store();
  std::string LastError();

  void SetAnswer(ComPtr<IDiscInfo> single, ComPtr<IDiscList> collection);
  ComPtr<IDiscInfo> Single();
  ComPtr<IDiscList> Collection();

  void TraceBegin(std::string step);
  void TraceEnd(const std::string& step);
  std::vector<TraceEntry> TraceLog();

 private:
  std::mutex mutex_;
  std::unique_ptr<CatalogStore> store_;
  std::string last_error_;
  ComPtr<IDiscInfo> single_;
  ComPtr<IDiscList> collection_;
  std::vector<TraceEntry> trace_;
  std::vector<std::chrono::steady_clock::time_point> trace_starts_;
};

}  // namespace pelk::catalog

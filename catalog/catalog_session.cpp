#include "catalog/catalog_session.h"

namespace pelk::catalog {

bool CatalogSession::Open(const std::string& location, std::string* error) {
  std::string message;
  auto store = CatalogStore::Open(location.empty() ? CatalogStore::DefaultLocation() : location,
                                  CatalogStore::OpenMode::kCreate, &message);
  std::lock_guard lock(mutex_);
  if (!store) {
    last_error_ = message;
    if (error) *error = message;
    return false;
  }
  store_ = std::move(store);
  last_error_.clear();
  return true;
}

CatalogStore* CatalogSession::Store() {
  {
    std::lock_guard lock(mutex_);
    if (store_) return store_.get();
  }
  if (!Open({}, nullptr)) return nullptr;
  std::lock_guard lock(mutex_);
  return store_.get();
}

std::string CatalogSession::LastError() {
  std::lock_guard lock(mutex_);
  return last_error_;
}

void CatalogSession::SetAnswer(ComPtr<IDiscInfo> single, ComPtr<IDiscList> collection) {
  ComPtr<IDiscInfo> old_single;
  ComPtr<IDiscList> old_collection;
  std::lock_guard lock(mutex_);
  old_single = std::move(single_);
  old_collection = std::move(collection_);
  single_ = std::move(single);
  collection_ = std::move(collection);
}

ComPtr<IDiscInfo> CatalogSession::Single() {
  std::lock_guard lock(mutex_);
  return single_;
}

ComPtr<IDiscList> CatalogSession::Collection() {
  std::lock_guard lock(mutex_);
  return collection_;
}

void CatalogSession::TraceBegin(std::string step) {
  std::lock_guard lock(mutex_);
  trace_.push_back(TraceEntry{std::move(step)});
  trace_starts_.push_back(std::chrono::steady_clock::now());
}

void CatalogSession::TraceEnd(const std::string& step) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  // The innermost open step of that name ends.
  for (size_t i = trace_.size(); i-- > 0;) {
    if (!trace_[i].finished && trace_[i].step == step) {
      trace_[i].finished = true;
      trace_[i].duration =
          std::chrono::duration_cast<std::chrono::microseconds>(now - trace_starts_[i]);
      return;
    }
  }
}

std::vector<TraceEntry> CatalogSession::TraceLog() {
  std::lock_guard lock(mutex_);
  return trace_;
}

}  // namespace pelk::catalog

#include "catalog/postgres_catalog_store.h"

namespace pelk::catalog {

std::unique_ptr<CatalogStore> OpenPostgresCatalog(const std::string&, CatalogStore::OpenMode,
                                                  std::string* error) {
  *error = "this build cannot open PostgreSQL catalogues";
  return nullptr;
}

}  // namespace pelk::catalog

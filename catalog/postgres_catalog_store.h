// The catalogue in a PostgreSQL database that many hosts share.
#pragma once

#include <memory>
#include <string>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

// The catalogue at a postgresql:// (or postgres://) location; see CatalogStore::Open.
std::unique_ptr<CatalogStore> OpenPostgresCatalog(const std::string& location,
                                                  CatalogStore::OpenMode mode, std::string* error);

}  // namespace pelk::catalog

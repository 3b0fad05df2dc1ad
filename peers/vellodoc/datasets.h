#pragma once
// The host's datasets of class "i_hl_dataset": one practice table per dataset
// name, loaded by a filter into memory and read row by row.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "peers/vellodoc/filter.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

struct DatasetKind {
    std::string_view name;  // also the table's name
    std::vector<std::string_view> columns;
    std::vector<ClauseRule> rules;  // the filter clauses that apply to its columns
};

std::span<const DatasetKind> datasetKinds();
const DatasetKind* findDatasetKind(std::string_view name);

class DatasetObject {
  public:
    explicit DatasetObject(const DatasetKind& kind) : kind_(&kind) {}

    const DatasetKind& kind() const { return *kind_; }
    // Runs one query for the filter and keeps its rows; the row count.
    std::size_t load(Database& db, std::string_view filter, const CodeResolver& resolveCode);
    std::size_t rowCount() const { return rows_; }
    // Row numbers are decimal texts counted from 1.
    void setRow(std::string_view number);
    // The column's text in the current row (NULL reads as empty).
    const std::string& value(std::string_view column) const;

  private:
    const DatasetKind* kind_;
    std::vector<std::string> cells_;
    std::size_t rows_ = 0;
    std::size_t current_ = 0;  // 1-based; 0 when no row is current
};

}  // namespace kvt::vellodoc

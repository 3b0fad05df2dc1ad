#pragma once
// The host's patient cursor: the list selected by "carica" (or "select_single")
// and the attributes of the current patient, read once per cursor position.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "peers/vellodoc/filter.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

// An attribute path of the host's patient record and the pazienti column
// behind it.
struct PatientAttribute {
    std::string_view path;
    std::string_view column;
};
std::span<const PatientAttribute> patientAttributes();

class PatientCursor {
  public:
    // Selects the patients of the filter in the order ("alfabetico" or empty
    // for the file's own order); the first becomes current. The count.
    std::size_t load(Database& db, std::string_view filter, std::string_view order,
                     const CodeResolver& resolveCode);
    // Makes the one patient the whole selection.
    void selectOnly(std::string code);
    // The next patient becomes current; past the last there is none.
    void skip();
    void clear();

    bool hasCurrent() const { return position_ < codes_.size(); }
    // The host code of the current patient, empty when there is none.
    std::string_view currentCode() const;
    // Rows fetched from the practice since the last call (for the counters).
    std::uint64_t takeRowsRead();

    // The attribute of the current patient; raises kvt::Error for an unknown
    // path or when no patient is current.
    const std::string& attribute(Database& db, std::string_view path);

  private:
    std::vector<std::string> codes_;
    std::size_t position_ = 0;
    // The current patient's attribute values, by patientAttributes() index.
    std::vector<std::string> values_;
    bool valuesRead_ = false;
    std::uint64_t rowsRead_ = 0;
};

}  // namespace kvt::vellodoc

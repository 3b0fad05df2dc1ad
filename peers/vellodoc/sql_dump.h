#pragma once
// "sql_dump_string": one read-only statement run on the practice, its rows as
// the host writes them out.
#include <cstdint>
#include <string>
#include <string_view>

#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

// Rows separated by CR LF, columns by TAB, text values in double quotes (a
// quote inside doubled), numbers as they are, NULL as nothing. Raises
// kvt::Error for a statement that would write, for more than one statement,
// and for SQL the practice cannot run. rowsRead grows by the rows written.
std::string sqlDump(Database& db, std::string_view sql, std::uint64_t& rowsRead);

}  // namespace kvt::vellodoc

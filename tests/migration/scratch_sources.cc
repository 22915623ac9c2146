#include "migration/scratch_sources.h"

#include <fstream>

#include "db/data_source.h"
#include "db/data_sources.h"
#include "db/database_file.h"
#include "migration/step_support.h"

namespace qv::migration::testing {

ScratchSources::ScratchSources(const std::string& mainScript, const std::string& securityScript) {
  const std::string mainPath = (dir_.path() / "qv_main.mdb").string();
  const std::string securityPath = (dir_.path() / "qv_security.mdb").string();
  db::CreateDatabaseFile(mainPath, mainScript);
  db::CreateDatabaseFile(securityPath, securityScript);

  const std::string odbcIni = (dir_.path() / "odbc.ini").string();
  std::ofstream ini(odbcIni);
  ini << "[qv_main]\nDriver = SQLite3\nDatabase = " << mainPath
      << "\nUID = admin\nPWD = quillmark\n\n"
      << "[qv_security]\nDriver = SQLite3\nDatabase = " << securityPath
      << "\nUID = admin\nPWD = quillmark\n";
  ini.close();
  connector_ = db::MakeDataSourceConnector(odbcIni, 0);
}

std::string Show(const db::Value& value) {
  switch (value.kind()) {
    case db::Value::Kind::kNull:
      return "null";
    case db::Value::Kind::kText:
      return "'" + value.AsText() + "'";
    default:
      return value.AsText();
  }
}

std::vector<std::string> Select(db::Connector& connector, const std::string& connectionString,
                                const std::string& table, const std::vector<std::string>& columns,
                                const std::string& orderBy) {
  std::string select = "SELECT ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    select += (i == 0 ? "" : ", ") + columns[i];
  }
  select += " FROM " + table;
  if (!orderBy.empty()) select += " ORDER BY " + orderBy;

  std::unique_ptr<db::Connection> connection = connector.Open(connectionString, "", "");
  std::unique_ptr<db::Recordset> rows = connection->Execute(select);
  std::vector<std::string> result;
  for (; !rows->Eof(); rows->MoveNext()) {
    std::string row;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      row += (i == 0 ? "" : "|") + Show(rows->Field(columns[i]));
    }
    result.push_back(std::move(row));
  }
  rows->Close();
  connection->Close();
  return result;
}

std::vector<std::string> Columns(db::Connector& connector, const std::string& connectionString,
                                 const std::string& table) {
  std::unique_ptr<db::Connection> connection = connector.Open(connectionString, "", "");
  std::vector<std::string> names = connection->ColumnNames(table);
  connection->Close();
  return names;
}

std::vector<std::string> Objects(db::Connector& connector, const std::string& connectionString,
                                 db::TableKind kind) {
  std::unique_ptr<db::Connection> connection = connector.Open(connectionString, "", "");
  std::vector<std::string> names = connection->TableNames(kind);
  connection->Close();
  return names;
}

void RunStatement(db::Connector& connector, const std::string& connectionString,
                  const std::string& statement) {
  std::unique_ptr<db::Connection> connection = connector.Open(connectionString, "", "");
  connection->BeginTrans();
  connection->Execute(statement);
  connection->CommitTrans();
  connection->Close();
}

std::vector<std::string> MainSelect(db::Connector& connector, const std::string& table,
                                    const std::vector<std::string>& columns,
                                    const std::string& orderBy) {
  return Select(connector, db::kMainConnectionString, table, columns, orderBy);
}

std::vector<std::string> SecuritySelect(db::Connector& connector, const std::string& table,
                                        const std::vector<std::string>& columns,
                                        const std::string& orderBy) {
  return Select(connector, db::kSecurityConnectionString, table, columns, orderBy);
}

std::vector<std::string> MainColumns(db::Connector& connector, const std::string& table) {
  return Columns(connector, db::kMainConnectionString, table);
}

std::vector<std::string> MainViews(db::Connector& connector) {
  return Objects(connector, db::kMainConnectionString, db::TableKind::kView);
}

bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& candidate : names) {
    if (EqualsIgnoreCase(candidate, name)) return true;
  }
  return false;
}

}  // namespace qv::migration::testing

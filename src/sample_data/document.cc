// Document sample data: one folder and, inside it, a record that stands for
// a readme text file. Folders and documents share DocEvent: a folder is its
// own parent, and a document carries its own key in Int3.
//
// No file is looked for or copied: the document row only records the file's
// path relative to the folder, its name and its extension.
#include <cstdint>
#include <string>
#include <vector>

#include "sample_data/modules.h"

namespace qv::sample_data::Document {
namespace {

constexpr Text kFolderTitle{"Quorvia", "クオルヴィア"};
constexpr Text kFolderBody{"Quorvia Document Folder", "クオルヴィアドキュメントフォルダー"};
constexpr Text kDocumentTitle{"ReadMe", "ReadMe"};
constexpr Text kDocumentBody{"Please take a moment to read through this read me file",
                             "まずはじめにお読みください"};

// A fixed number, not measured from any file.
constexpr int kReadMeInt2 = 6080;

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  run.Begin();

  RowSet& docs = run.Open("DocEvent");
  run.AddRecord(docs, {
                          {"GroupID", 1},
                          {"CompanyID", 1},
                          {"ContactID", 1},
                          {"CreateDate", run.now()},
                          {"Title", run.Pick(kFolderTitle)},
                          {"Body", run.Pick(kFolderBody)},
                          {"Visible", 1},
                          {"StationID", run.station()},
                      });
  // A folder key above 32767 fails here and the module rolls back.
  const int16_t folderId = run.ReadLastKey16(docs, "EventID");
  const std::string folder = std::to_string(folderId);
  run.Execute("UPDATE DocEvent SET ParentID = " + folder + " WHERE EventID=" + folder);

  run.AddRecord(docs, {
                          {"ParentID", folderId},
                          {"CompanyID", 1},
                          {"CreateDate", run.now()},
                          {"ContactID", 1},
                          {"Title", run.Pick(kDocumentTitle)},
                          {"Body", run.Pick(kDocumentBody)},
                          {"Visible", 1},
                          {"Custom1", 1},
                          {"Custom2", folder + "\\readme.txt"},
                          {"Custom3", "readme.txt"},
                          {"Custom4", "txt"},
                          {"int2", kReadMeInt2},
                          {"StationID", run.station()},
                          {"Bit2", 1},
                      });
  const std::string document = std::to_string(run.ReadLastKey(docs, "EventID"));
  run.Execute("UPDATE DocEvent SET Int3 = " + document + " WHERE EventID=" + document);

  return run.Finish(FailureBox::kNone);
}

}  // namespace qv::sample_data::Document

// Project sample data: new names for the three project templates and the six
// template tasks a fresh database holds, a ten-task "System Sales" template,
// and three projects with their members, tasks, progress messages that book
// hours on tasks, and unread markers for the messages.
//
// Project 3 belongs to a customer that the contact sample data adds; it is
// found by name, and a missing one leaves the project with company 0.
#include <cstdint>
#include <string>
#include <vector>

#include "sample_data/modules.h"

namespace qv::sample_data::ProjectM {
namespace {

constexpr int kEventType = 3;
constexpr int kProjectMessageType = 9;
constexpr int kMessageType = 1;
constexpr int kFirstContact = 1;
constexpr int kLastContact = 5;
constexpr int kSystemSalesTasks = 10;

const Text kCustomer{"Geo Satellite Systems Inc", "ジオ サテライト システム株式会社"};

struct Template {
  int id;
  Text name;
  Text description;
};

const Template kTemplates[] = {
    {1, {"General", "一般"}, {"Project Template", "プロジェクトテンプレート"}},
    {2, {"Custom", "カスタム"}, {"Custom Project Template", "カスタムプロジェクトテンプレート"}},
    {3,
     {"System Sales", "システムセールス"},
     {"System Sales Project Template", "システムセールステンプレート"}},
};

// The names of template tasks 1 to 6.
const Text kTemplateTasks[] = {
    {"Contact Customer", "顧客折衝"},          {"Prepare Estimate/Proposal", "提案・見積"},
    {"Signed Contract", "契約終結"},           {"Production", "生産"},
    {"Bug Fix/Corrections", "バグフィックス"}, {"Signed Release", "リリース"},
};

const Text kSystemSales[kSystemSalesTasks] = {
    {"Contacted Customer", "顧客折衝"},
    {"Research Request", "リサーチ"},
    {"Send Quotation", "見積"},
    {"Follow up with Customer", "フォローアップ"},
    {"Receive payment", "支払"},
    {"Receive confirmation (signature from customer)", "支払確認"},
    {"Have PO approved", "購買契約書"},
    {"Order equipment", "注文"},
    {"Receive Equipment", "納品"},
    {"Deliver Equipment (customer signature)", "納品確認"},
};

struct Task {
  int assignee;
  int expectedHours;
  int startDay;  // days after today's noon
  int endDay;
};

struct Message {
  int author;
  Text title;
  std::string bodyEn;  // lines already joined with CR LF
  std::string bodyJa;
  int timeTrack;
  int bit2;
  int task;  // the project's n-th task, from 1
};

struct Project {
  Text title;
  Text body;
  int owner;
  int leader;
  int timeTrack;
  int bit2;
  int int2;
  std::vector<Text> taskNames;  // new template tasks; none for project 3
  std::vector<Task> tasks;
  std::vector<Message> messages;
};

std::vector<Project> Projects() {
  std::vector<Task> systemSalesTasks;
  for (int i = 1; i <= kSystemSalesTasks; ++i) systemSalesTasks.push_back({i / 3 + 2, 5, i - 1, i});

  return {
      {{"Product Catalog", "製品カタログ作成"},
       {"Create the new catalog for our widget product line. Post all work progress regarding "
        "this project here !",
        "新製品のカタログ作成。タスクの進捗状況は必ずこに登録すること！"},
       2,
       2,
       20,
       1,
       2,
       {{"Catalog", "デザイン作成"}, {"Proof Reading", "誤字チェック"}, {"Publish", "印刷"}},
       {{5, 10, 0, 4}, {4, 3, 4, 5}, {3, 7, 5, 7}},
       {{5,
         {"Completed the skeleton.", "全体デザイン作成"},
         "Skeleton has been completed.I am working on the graphic design details.",
         "全体デザイン完了。引き続き、各ページデザインを作成。",
         5,
         0,
         1}}},
      {{"Quorvia Beta Test", "クオルヴィアベータテスト"},
       {"Usability and functionality test of Quorvia beta version ",
        "ユーザインターフェースと機能の評価"},
       3,
       3,
       6,
       1,
       2,
       {{"Configure ASL", "ASLの設定"},
        {"Send feedback to Tavolent", "Tavolentへフィードバック"},
        {"Purchase Quorvia 1.0", "Quorvia 1.0の購入"},
        {"Install Quorvia 1.0", "Quorvia 1.0のインストール"}},
       {{5, 1, 0, 2}, {4, 2, 2, 3}, {3, 2, 3, 4}, {2, 1, 7, 7}},
       {{5,
         {"ASL Configured", "ASL設定完了"},
         "created users, groups, and security permissions on ASL",
         "ユーザ、グループ、アクセス権限の設定完了",
         2,
         0,
         1},
        {4,
         {"Sent Feedback to Tavolent", "Tavolentへフィードバック送信完了"},
         "prepared detail list of comments",
         "詳細なコメントをEmailで送信",
         2,
         0,
         2},
        {3,
         {"Quorvia 1.0 beta test is going well", "Quorvia 1.0 ベータテスト完了"},
         "test went very well",
         "テスト項目をすべて消化。結果はベータテスト合格です",
         1,
         1,
         3}}},
      {{"Intranet System Proposal", "イントラネットシステム販売"},
       {"", ""},
       2,
       3,
       50,
       0,
       3,
       {},
       systemSalesTasks,
       {{5,
         {"Contacted Customer Prospect", "顧客との折衝開始"},
         JoinLines(
             {"- researched customer", "- prepared proposal draft # 1", "- contacted customer"}),
         JoinLines({"- 顧客の現状分析", "- 第１回目の見積作成（ドラフト）", "- アポとり"}),
         5,
         0,
         1},
        {4,
         {"Consulted with Client (Hal Brennick the Purchasing Manager)",
          "クライアントへのコンサルティング"},
         JoinLines({"- consulted client", "- prepared feature list", "- user requirements",
                    "- rough project outline"}),
         JoinLines({"- 購買担当者へのコンサルティング", "- 機能解説の資料作成",
                    "- ユーザニーズの把握", "- 大まかなプロジェクトアウトラインの作成"}),
         2,
         0,
         2},
        {3,
         {"Prepare Proposal", "提案書の作成"},
         JoinLines({"- prepared 12 page proposal", "- couriered it to clients office"}),
         JoinLines({"- １２ページの提案書の作成", "- クライアントのオフィスへ郵送済み"}),
         1,
         1,
         3}}},
  };
}

class ProjectRun {
 public:
  ProjectRun(const ModuleEnv& env, const SampleArgs& args) : run_(env, args) {}

  bool Insert();

 private:
  void NameTemplates();
  void AddSystemSalesTemplate();
  void AddProject(const Project& project, const db::Value& companyId);
  int16_t LookUpCustomer();

  db::Value Noon(int days) const { return run_.LocalValue(run_.LocalDayText(days, " 12:00:00")); }

  RowSet& Lazy(RowSet*& rs, const char* table) {
    if (rs == nullptr) rs = &run_.Open(table);
    return *rs;
  }

  ModuleRun run_;
  RowSet* taskMasters_ = nullptr;
  RowSet* events_ = nullptr;
  RowSet* members_ = nullptr;
  RowSet* tasks_ = nullptr;
  RowSet* newFlags_ = nullptr;
  int16_t systemSalesLast_ = 0;  // key of the last "System Sales" template task
};

void ProjectRun::NameTemplates() {
  for (const Template& t : kTemplates) {
    run_.Execute("UPDATE ProjectTaskMasterType SET ProjectTaskMasterTypeName = '" +
                 run_.Pick(t.name) + "', Description = '" + run_.Pick(t.description) + "'" +
                 " WHERE ProjectTaskMasterTypeID = " + std::to_string(t.id));
  }
  int id = 1;
  for (const Text& name : kTemplateTasks) {
    run_.Execute("UPDATE ProjectTaskMaster SET ProjectTaskMasterName = '" + run_.Pick(name) + "'" +
                 " WHERE ProjectTaskMasterID = " + std::to_string(id++));
  }
}

void ProjectRun::AddSystemSalesTemplate() {
  RowSet& masters = Lazy(taskMasters_, "ProjectTaskMaster");
  for (int i = 1; i <= kSystemSalesTasks; ++i) {
    run_.AddRecord(masters,
                   {
                       {"ProjectTaskMasterTypeID", 3},
                       {"ExpectedPersonHours", 5},
                       {"DaysToStart", i - 1},
                       {"DaysToEnd", i},
                       {"ProjectTaskMasterName", run_.Pick(kSystemSales[i - 1])},
                       {"Visible", 1},
                   },
                   /*send=*/false);
  }
  run_.Send(masters);
  systemSalesLast_ = run_.ReadLastKey16(masters, "ProjectTaskMasterID");
}

// The customer company that the contact sample data adds, by its exact name;
// 0 when there is none.
int16_t ProjectRun::LookUpCustomer() {
  int16_t companyId = 0;
  // Without a language there is no name to look for: nothing matches, not
  // even a company with an empty name.
  const bool named = run_.language() != Language::kNeither;
  const std::string name = run_.Pick(kCustomer);
  RowSet& companies = run_.Open("Company", db::CursorType::kForwardOnly);
  run_.Walk(companies, [&](db::Recordset& rs) {
    const db::Value companyName = rs.Field("CompanyName");
    // A company without a name is simply not the one sought.
    if (!named || companyName.kind() != db::Value::Kind::kText || companyName.AsText() != name) {
      return true;
    }
    companyId = rs.Field("CompanyID").AsInt16();
    return false;
  });
  return companyId;
}

void ProjectRun::AddProject(const Project& project, const db::Value& companyId) {
  const db::Value noon = Noon(0);
  const db::Value weekLater = Noon(7);

  RowSet& events = Lazy(events_, "ProjectEvent");
  run_.AddRecord(events, {
                             {"EventTypeID", kEventType},
                             {"MessageTypeID", kProjectMessageType},
                             {"CompanyID", companyId},
                             {"ContactID", project.owner},
                             {"CreateDate", run_.now()},
                             {"StartDate", noon},
                             {"EndDate", weekLater},
                             {"Title", run_.Pick(project.title)},
                             {"Body", run_.Pick(project.body)},
                             {"TimeTrack", project.timeTrack},
                             {"Visible", 1},
                             {"Bit1", 1},
                             {"Bit2", project.bit2},
                             {"Int1", 0},
                             {"Int2", project.int2},
                             {"StationID", run_.station()},
                         });
  const int64_t projectId = run_.ReadLastKey(events, "EventID");
  const std::string p = std::to_string(projectId);
  run_.Execute("UPDATE ProjectEvent SET ParentID = " + p + " WHERE EventID=" + p);

  RowSet& members = Lazy(members_, "ProjectEventMembership");
  for (int contact = kFirstContact; contact <= kLastContact; ++contact) {
    run_.AddRecord(members,
                   {
                       {"ParentID", projectId},
                       {"ContactID", contact},
                       {"LeaderFlag", contact == project.leader ? 1 : 0},
                   },
                   /*send=*/false);
  }
  run_.Send(members);

  // The template task behind task i (from 1): the project's own new ones, or
  // the "System Sales" template.
  int64_t lastMaster = systemSalesLast_;
  int64_t masterCount = kSystemSalesTasks;
  if (!project.taskNames.empty()) {
    RowSet& masters = Lazy(taskMasters_, "ProjectTaskMaster");
    for (const Text& name : project.taskNames) {
      run_.AddRecord(masters,
                     {{"ProjectTaskMasterTypeID", 0}, {"ProjectTaskMasterName", run_.Pick(name)}},
                     /*send=*/false);
    }
    run_.Send(masters);
    lastMaster = run_.ReadLastKey(masters, "ProjectTaskMasterID");
    masterCount = static_cast<int64_t>(project.taskNames.size());
  }

  RowSet& tasks = Lazy(tasks_, "ProjectTask");
  int64_t i = 1;
  for (const Task& task : project.tasks) {
    run_.AddRecord(tasks,
                   {
                       {"ProjectTaskMasterID", lastMaster - masterCount + i++},
                       {"ParentID", projectId},
                       {"ContactID", task.assignee},
                       {"ExpectedPersonHours", task.expectedHours},
                       {"StartDate", Noon(task.startDay)},
                       {"EndDate", Noon(task.endDay)},
                   },
                   /*send=*/false);
  }
  run_.Send(tasks);
  const int64_t lastTask = run_.ReadLastKey(tasks, "ProjectTaskID");
  const int64_t firstTask = lastTask - static_cast<int64_t>(project.tasks.size()) + 1;

  for (const Message& message : project.messages) {
    const int64_t taskId = firstTask + message.task - 1;
    run_.AddRecord(events, {
                               {"EventTypeID", kEventType},
                               {"MessageTypeID", kMessageType},
                               {"ContactID", message.author},
                               {"CreateDate", run_.now()},
                               {"ParentID", projectId},
                               {"Title", run_.Pick(message.title)},
                               {"Body", run_.Pick({message.bodyEn, message.bodyJa})},
                               {"Visible", 1},
                               {"TimeTrack", message.timeTrack},
                               {"Bit1", 1},
                               {"Bit2", message.bit2},
                               {"Int1", taskId},
                               {"StationID", run_.station()},
                           });
    const int64_t messageId = run_.ReadLastKey(events, "EventID");
    run_.Execute("UPDATE ProjectTask SET SpentHoursTotal = SpentHoursTotal + " +
                 std::to_string(message.timeTrack) + " " + "WHERE ParentID = " + p +
                 " AND ProjectTaskID = " + std::to_string(taskId));

    RowSet& newFlags = Lazy(newFlags_, "ProjectNewFlag");
    for (int contact = kFirstContact; contact <= kLastContact; ++contact) {
      if (contact == message.author) continue;
      run_.AddRecord(newFlags, {{"EventID", messageId}, {"ContactID", contact}}, /*send=*/false);
    }
    run_.Send(newFlags);
  }
}

bool ProjectRun::Insert() {
  const std::vector<Project> projects = Projects();

  run_.Begin();
  NameTemplates();
  AddSystemSalesTemplate();
  AddProject(projects[0], 1);
  AddProject(projects[1], 1);
  AddProject(projects[2], LookUpCustomer());
  return run_.Finish(FailureBox::kNumberColonDescription);
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ProjectRun run(env, args);
  return run.Insert();
}

}  // namespace qv::sample_data::ProjectM

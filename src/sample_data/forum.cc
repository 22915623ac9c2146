// Forum sample data: three threads (catalog cover ideas, the company retreat
// with a poll, a product discussion with a poll), who belongs to each thread,
// unread markers for every reply and poll, and an open vote per contact on
// each poll.
//
// Heads and polls point at themselves through an UPDATE after their key is
// read back. The first reply's key is never read: its unread markers assume
// it got the key right after its head's. Votes stay pending until the end.
#include <cstdint>
#include <string>

#include "sample_data/modules.h"

namespace qv::sample_data::Forum {
namespace {

constexpr int kEventType = 6;
constexpr int kFirstContact = 1;
constexpr int kLastContact = 5;

struct Entry {
  int author;
  Text title;
  Text body;
};

struct Poll {
  int author;
  Text title;
  Text body;
  Text answer1;
  Text answer2;
  int int2;
  int int3;
};

// One run of the module: the row sets it has opened so far and the values
// every row shares.
class ForumRun {
 public:
  ForumRun(const ModuleEnv& env, const SampleArgs& args) : run_(env, args) {}

  bool Insert();

 private:
  // Adds a thread head, makes it its own parent and adds its members.
  // Returns the head's key as read.
  int64_t AddHead(const Entry& head, const db::Value& startDate, const db::Value& createDate);
  // Adds a reply to the thread `head`; `readKey` false leaves the new key
  // unread and takes it to be head + 1.
  void AddReply(int64_t head, const Entry& reply, const db::Value& startDate,
                const db::Value& createDate, int bit2, bool readKey = true);
  void AddPoll(int64_t head, const Poll& poll);
  // One unread marker for every contact but the entry's author.
  void AddUnreadMarkers(const db::Value& eventId, int author);

  RowSet& Lazy(RowSet*& rs, const char* table) {
    if (rs == nullptr) rs = &run_.Open(table);
    return *rs;
  }

  ModuleRun run_;
  RowSet* events_ = nullptr;
  RowSet* members_ = nullptr;
  RowSet* newFlags_ = nullptr;
  RowSet* votes_ = nullptr;
};

int64_t ForumRun::AddHead(const Entry& head, const db::Value& startDate,
                          const db::Value& createDate) {
  run_.AddRecord(*events_, {
                               {"EventTypeID", kEventType},
                               {"CompanyID", 1},
                               {"ContactID", head.author},
                               {"StartDate", startDate},
                               {"CreateDate", createDate},
                               {"Title", run_.Pick(head.title)},
                               {"Body", run_.Pick(head.body)},
                               {"Visible", 1},
                               {"Bit1", 1},
                               {"Bit2", 1},
                               {"StationID", run_.station()},
                           });
  const int64_t key = run_.ReadLastKey(*events_, "EventID");
  const std::string k = std::to_string(key);
  run_.Execute("UPDATE ForumEvent SET ParentID = " + k + " WHERE EventID=" + k);

  RowSet& members = Lazy(members_, "ForumEventMembership");
  for (int contact = kFirstContact; contact <= kLastContact; ++contact) {
    run_.AddRecord(members,
                   {
                       {"LeaderFlag", contact == head.author ? 1 : 0},
                       {"ParentID", key},
                       {"ContactID", contact},
                       {"Visible", 1},
                   },
                   /*send=*/false);
  }
  run_.Send(members);
  run_.Try([&] { members.get().Requery(); });
  return key;
}

void ForumRun::AddReply(int64_t head, const Entry& reply, const db::Value& startDate,
                        const db::Value& createDate, int bit2, bool readKey) {
  run_.AddRecord(*events_, {
                               {"EventTypeID", kEventType},
                               {"ContactID", reply.author},
                               {"ParentID", head},
                               {"StartDate", startDate},
                               {"CreateDate", createDate},
                               {"Title", run_.Pick(reply.title)},
                               {"Body", run_.Pick(reply.body)},
                               {"Visible", 1},
                               {"Bit1", 1},
                               {"Bit2", bit2},
                               {"Int1", head + 1},
                               {"StationID", run_.station()},
                           });
  const int64_t key = readKey ? run_.ReadLastKey(*events_, "EventID") : head + 1;
  AddUnreadMarkers(key, reply.author);
}

void ForumRun::AddPoll(int64_t head, const Poll& poll) {
  run_.AddRecord(*events_, {
                               {"StationID", run_.station()},
                               {"EventTypeID", kEventType},
                               {"ContactID", poll.author},
                               {"ParentID", head},
                               {"Title", run_.Pick(poll.title)},
                               {"Body", run_.Pick(poll.body)},
                               {"Visible", 1},
                               {"CreateDate", run_.now()},
                               {"Bit1", 1},
                               {"Bit2", 1},
                               {"Bit3", 1},
                               {"Custom1", run_.Pick(poll.answer1)},
                               {"Custom2", run_.Pick(poll.answer2)},
                               {"Int2", poll.int2},
                               {"Int3", poll.int3},
                           });
  const int key = run_.ReadLastKey16(*events_, "EventID");
  AddUnreadMarkers(key, poll.author);

  RowSet& votes = Lazy(votes_, "ForumVoting");
  for (int contact = kFirstContact; contact <= kLastContact; ++contact) {
    run_.AddRecord(votes, {{"EventID", key}, {"ContactID", contact}, {"VotingStatus", 0}},
                   /*send=*/false);
  }
  const std::string k = std::to_string(key);
  run_.Execute("UPDATE ForumEvent SET Int1 = " + k + " WHERE EventID=" + k);
}

void ForumRun::AddUnreadMarkers(const db::Value& eventId, int author) {
  RowSet& newFlags = Lazy(newFlags_, "ForumNewFlag");
  for (int contact = kFirstContact; contact <= kLastContact; ++contact) {
    if (contact == author) continue;
    run_.AddRecord(newFlags, {{"EventID", eventId}, {"ContactID", contact}}, /*send=*/false);
  }
  run_.Send(newFlags);
}

bool ForumRun::Insert() {
  const db::Value now = run_.now();
  const db::Value dayBefore = run_.NowPlusDays(-1);
  const db::Value twoDaysBefore = run_.NowPlusDays(-2);

  run_.Begin();
  events_ = &run_.Open("ForumEvent");

  // Thread 1: a call for catalog cover ideas.
  const int64_t h1 = AddHead(
      {3,
       {"Company Catalog", "カタログ"},
       {JoinLines({"We are looking for suggestions for the cover of our summer product catalog.",
                   "Please post your ideas within this forum."}),
        "最新プロダクトカタログのカバーへの意見をお待ちしております。このフォーラムへアイデアをお送"
        "り下さい。"}},
      now, now);
  AddReply(h1,
           {5,
            {"Cover Idea", "カバーアイデア"},
            {"Why don't we take a picture of all the staff on the front lawn and use that?",
             "スタッフの写真を会社の前で撮って、その写真を載せるのはどうでしょうか？"}},
           now, now, 0, /*readKey=*/false);

  // Thread 2: where to hold the company retreat, with a poll.
  const int64_t h2 = AddHead(
      {2,
       {"Company Training Session", "社内トレーニングセッション"},
       {JoinLines({"In the next month we will be deciding where to go this summer for our annual "
                   "company retreat. ",
                   "Please post your thoughts here on which location would best suit our needs.",
                   "Thanks, administrator "}),
        JoinLines({"毎年恒例の社員研修旅行の目的地を今月中に決定したいと思います。",
                   "研修の目的地としての皆さんの希望を取りたいと思いますので、このフォーラムにいき"
                   "たいところをポストしてください。",
                   "社員研修旅行幹事より"})}},
      now, now);
  AddReply(h2, {3, {"Should we go to Las Vegas?", "ラスベガスへ行きましょう"}, {"", ""}}, dayBefore,
           dayBefore, 0);
  AddReply(h2,
           {3,
            {"Maybe we could stay at the Luxor in Vegas?",
             "ラスベガスのラクジュアホテルに泊まるのはどうでしょう"},
            {"How does that sound, and I don't want to go to Atlantic City as the weather can be "
             "quite unpleasant in the fall.",
             "このシーズンアトランタはあまり快適な気候とはいえませんので、ラスベガスのほうがいいと"
             "思います。"}},
           now, now, 0);
  AddReply(
      h2,
      {4,
       {"Maybe we could stay at the Mirage?", "ペラムホテルよりもミラージュホテルがいいですね"},
       {"Atlantic City is not as fun as Vegas. ", "アトランタはあまり面白そうではないです "}},
      now, now, 0);
  AddReply(h2,
           {1,
            {"I like to stay at the Pellham hotel in Atlantic City",
             "アメリカ東海岸のアトランタでペラムホテル"},
            {"On the contrary, Atlantic City is an excellent value and quite fun!",
             "アトランタは意外と楽しいところですよ。"}},
           now, now, 0);
  AddPoll(h2, {2,
               {"Las Vegas or Atlantic City", "アトランタかラスベガスか？"},
               {"Where should we go for our annual training retreat?",
                "社員研修旅行はどちらがいいですか？"},
               {"Las Vegas", "ラスベガス"},
               {"Atlantic City", "アトランタ"},
               1,
               1});

  // Thread 3: a product discussion, with a poll.
  const int64_t h3 =
      AddHead({1,
               {"Quorvia Discussion Forum", "クオルヴィア1.0"},
               {"This forum is for discussing the features of Tavolent Quorvia.",
                "クオルヴィアについてのディスカッションです。今後追加してほしい機能など"}},
              now, twoDaysBefore);
  AddReply(h3,
           {1,
            {"Quorvia Suggestions", "クオルヴィアへの提案"},
            {"Any problems, questions, or comments should be left in this forum.",
             "質問、問題点、その他コメントはこちらにポストしてください。"}},
           now, dayBefore, 1);
  AddReply(h3,
           {3,
            {"The private folder in contact management is quite useful!",
             "コンタクト管理のプライベートフォルダはありがたいです"},
            {"I find it useful for friends, family, and church contacts which I need to refer to "
             "on a frequent basis.",
             "仕事上のコンタクトだけでなく、プライベートの友人や家族の情報も入力できるのでとても気"
             "に入ってます"}},
           now, now, 0);
  AddPoll(h3, {1,
               {"Voting on Quorvia", "クオルヴィア vs Java"},
               {"", ""},
               {"Use Quorvia 1.0", "クオルヴィア 1.0を使う"},
               {"Try a Java based system", "Java ベースのアプリケーションを使う"},
               0,
               0});

  return run_.Finish(FailureBox::kNone);
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ForumRun run(env, args);
  return run.Insert();
}

}  // namespace qv::sample_data::Forum

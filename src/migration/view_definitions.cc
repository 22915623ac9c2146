#include "migration/view_definitions.h"

namespace qv::migration {

// Each CREATE VIEW is the concatenation of the adjacent literals below it.
// The texts are kept as the server expects them, letter case and blanks
// included: ScheduleOwnership is removed through the name ScheduleOwnerShip,
// which the engine matches without regard to case.
// clang-format off
const std::array<ViewDefinition, kCurrentViewCount> kCurrentViews = {{
    {"ScheduleEngine",
     "DROP TABLE ScheduleEngine",
     "CREATE VIEW ScheduleEngine AS "
     "SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.ContactID AS OwnerID, ScheduleEvent.CreateDate, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.WhenToNotify, ScheduleEvent.Confirmation, ScheduleEvent.EventConfirmed, ScheduleEventMembership.MemberID, ScheduleEventMembership.IsRead, ScheduleEventMembership.IsConfirmed, ScheduleEvent.Shared "
     "FROM ScheduleEvent INNER JOIN ScheduleEventMembership ON ScheduleEvent.EventID = ScheduleEventMembership.EventID "
     "Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1))"},
    {"ScheduleEngineDetail",
     "DROP TABLE ScheduleEngineDetail",
     "CREATE VIEW ScheduleEngineDetail AS "
     "SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.ContactID AS OwnerID, Contact.FullName AS OwnerFullName, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, ScheduleEvent.CreateDate, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.WhenToNotify, ScheduleEvent.Confirmation, ScheduleEvent.EventConfirmed, ScheduleEventMembership.MemberID, ScheduleEventMembership.IsRead, ScheduleEventMembership.IsConfirmed, Contact_1.FullName AS MemberFullName, Contact_1.Furigana, Contact_1.Email, Contact_1.Email2, Contact_1.FirstKana, Contact_1.LastKana, ScheduleEvent.Shared "
     "FROM (ScheduleEvent INNER JOIN Contact ON ScheduleEvent.ContactID = Contact.ContactID) INNER JOIN (ScheduleEventMembership INNER JOIN Contact AS Contact_1 ON ScheduleEventMembership.MemberID = Contact_1.ContactID) ON ScheduleEvent.EventID = ScheduleEventMembership.EventID "
     "Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1))"},
    {"ScheduleOwnership",
     "DROP TABLE ScheduleOwnerShip",
     "CREATE VIEW ScheduleOwnership AS "
     "SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.CreateDate, Contact.Email AS OwnerEmail, Contact.ContactID AS OwnerID, Contact.FullName AS OwnerFullName, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.Confirmation, ScheduleEvent.EventConfirmed, ScheduleEvent.WhenToNotify, ScheduleEvent.Shared "
     "FROM Contact INNER JOIN ScheduleEvent ON Contact.ContactID = ScheduleEvent.ContactID "
     "Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1))"},
    {"ResourceEngine",
     "DROP TABLE ResourceEngine",
     "CREATE VIEW ResourceEngine AS "
     "SELECT ResourceEvent.EventID, ResourceEvent.EventTypeID, ResourceEvent.ResourceID, ResourceEvent.CreateDate, ResourceEvent.StartDate, ResourceEvent.EndDate, ResourceEvent.Title, ResourceEvent.Body, ResourceEvent.visible, ResourceEventMembership.OwnerID, ResourceEvent.Confirmation, ResourceEvent.EmailNotification, ResourceEvent.EventConfirmed, ResourceEventMembership.IsRead, ResourceEventMembership.IsConfirmed, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, Contact.FullName AS OwnerFullName, ResourceEvent.IsReminder, Resource.ResourceTypeID "
     "FROM Resource INNER JOIN ((ResourceEventMembership INNER JOIN ResourceEvent ON ResourceEventMembership.EventID = ResourceEvent.EventID) INNER JOIN Contact ON ResourceEventMembership.OwnerID = Contact.ContactID) ON Resource.ResourceID = ResourceEvent.ResourceID "
     "Where (((ResourceEvent.EventTypeID) = 8) And ((ResourceEvent.Visible) = 1))"},
    {"ResourceEngineDetail",
     "DROP TABLE ResourceEngineDetail",
     "CREATE VIEW ResourceEngineDetail AS "
     "SELECT ResourceEvent.EventID, ResourceEvent.EventTypeID, ResourceEvent.ResourceID, ResourceEvent.CreateDate, ResourceEvent.StartDate, ResourceEvent.EndDate, ResourceEvent.Title, ResourceEvent.Body, ResourceEvent.visible, ResourceEventMembership.OwnerID, ResourceEvent.Confirmation, ResourceEvent.EmailNotification, ResourceEvent.EventConfirmed, ResourceEventMembership.IsRead, ResourceEventMembership.IsConfirmed, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, Contact.FullName AS OwnerFullName, Resource.CompanyID, Resource.ResourceTypeID, Resource.ResourceName, ResourceEvent.IsReminder, ResourceType.ResourceTypeEnglish, ResourceType.ResourceTypeJapanese, Contact.LastKana, Contact.FirstKana, ResourceType.ResourceTypeFrench, ResourceType.ResourceTypeGerman "
     "FROM ResourceType INNER JOIN (Resource INNER JOIN ((ResourceEventMembership INNER JOIN ResourceEvent ON ResourceEventMembership.EventID = ResourceEvent.EventID) INNER JOIN Contact ON ResourceEventMembership.OwnerID = Contact.ContactID) ON Resource.ResourceID = ResourceEvent.ResourceID) ON ResourceType.ResourceTypeID = Resource.ResourceTypeID "
     "Where (((ResourceEvent.EventTypeID) = 8) And ((ResourceEvent.Visible) = 1))"},
    {"ProjectMessageSearch",
     "DROP TABLE ProjectMessageSearch",
     "CREATE VIEW ProjectMessageSearch AS "
     "SELECT ProjectEvent.ParentID, ProjectTask.visible, ProjectEvent.Int1, ProjectEvent.MessageTypeID, ProjectTask.Completed, ProjectTaskMaster.ProjectTaskMasterName, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.visible AS EventVisible, ProjectTask.StartDate, ProjectTask.EndDate FROM (ProjectTaskMaster RIGHT JOIN (ProjectEvent LEFT JOIN ProjectTask ON ProjectEvent.Int1 = ProjectTask.ProjectTaskID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID) LEFT JOIN ProjectNewFlag ON ProjectEvent.EventID = ProjectNewFlag.EventID Where (((ProjectTask.Visible) Is Null) And ((ProjectEvent.Visible) = Yes) And ((ProjectEvent.EventTypeID) = 3)) Or (((ProjectTask.Visible) = 1))"},
    {"ProjectAllTaskList",
     "DROP TABLE ProjectAllTaskList",
     "CREATE VIEW ProjectAllTaskList AS "
     "SELECT ProjectTask.ContactID, ProjectTask.ProjectTaskID, ProjectTask.ExpectedPersonHours, ProjectTask.EndDate, ProjectTask.StartDate, ProjectTask.SpentHoursTotal, ProjectTask.ParentID, ProjectEvent.Title, ProjectEvent.EndDate AS ProjectEndDate, ProjectTaskMaster.ProjectTaskMasterName, ProjectEvent.visible FROM ProjectTaskMaster INNER JOIN (ProjectTask LEFT JOIN ProjectEvent ON ProjectTask.ParentID = ProjectEvent.EventID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID WHERE (((ProjectEvent.visible)=Yes) AND ((ProjectTask.visible)=Yes) AND ((ProjectTask.Completed)=No))"},
    {"ProjectEventDisplay",
     "DROP TABLE ProjectEventDisplay",
     "CREATE VIEW ProjectEventDisplay AS "
     "SELECT ProjectEvent.ParentID, ProjectEvent.EventTypeID, ProjectEvent.CreateDate, ProjectEvent.MessageTypeID, ProjectEvent.EventID, ProjectEvent.ContactID, ProjectEvent.StartDate, ProjectEvent.StartTime, ProjectEvent.EndDate, ProjectEvent.EndTime, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.TimeTrack, Contact.FullName, ProjectEvent.Bit2, ProjectEvent.CompanyID, ProjectEvent.Bit1, ProjectTask.Completed, ProjectTask.CompletedDate, ProjectEvent.Int1 FROM (Contact RIGHT JOIN ProjectEvent ON Contact.ContactID = ProjectEvent.ContactID) INNER JOIN ProjectTask ON ProjectEvent.Int1 = ProjectTask.ProjectTaskID WHERE (((ProjectEvent.EventTypeID)=3))"},
    {"ProjectGeneralEventDisplay",
     "DROP TABLE ProjectGeneralEventDisplay",
     "CREATE VIEW ProjectGeneralEventDisplay AS "
     "SELECT ProjectEvent.EventID, ProjectEvent.MessageTypeID, ProjectEvent.ParentID, ProjectEvent.CompanyID, ProjectEvent.ContactID, ProjectEvent.CreateDate, ProjectEvent.StartDate, ProjectEvent.StartTime, ProjectEvent.EndDate, ProjectEvent.EndTime, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.TimeTrack, ProjectEvent.visible, ProjectEvent.Bit1, ProjectEvent.Bit2, ProjectEvent.Int1, Contact.FullName FROM Contact RIGHT JOIN ProjectEvent ON Contact.ContactID = ProjectEvent.ContactID WHERE (((ProjectEvent.Int1)=0) AND ((ProjectEvent.EventTypeID)=3))"},
    {"ProjectList",
     "DROP TABLE ProjectList",
     "CREATE VIEW ProjectList AS "
     "SELECT Company.CompanyName, Company.Furigana, ProjectEvent.Title, ProjectEvent.ParentID, ProjectEvent.EventID, ProjectEvent.CompanyID, ProjectEvent.StartDate, ProjectEvent.EndDate, ProjectEvent.Bit1, ProjectEventMembership.ContactID, ProjectEvent.visible, ProjectEventMembership.Visible AS MemberVisible, ProjectEvent.EventTypeID, ProjectEvent.MessageTypeID, ProjectEvent.CreateDate FROM (Company INNER JOIN ProjectEvent ON Company.CompanyID = ProjectEvent.CompanyID) INNER JOIN ProjectEventMembership ON ProjectEvent.ParentID = ProjectEventMembership.ParentID WHERE (((ProjectEvent.ParentID)=[EventID]) AND ((ProjectEventMembership.Visible)=Yes) AND ((ProjectEvent.EventTypeID)=3) AND ((ProjectEvent.MessageTypeID)=9))"},
    {"ProjectListAdmin",
     "DROP TABLE ProjectListAdmin",
     "CREATE VIEW ProjectListAdmin AS "
     "SELECT Company.CompanyName, Company.Furigana, ProjectEvent.Title, ProjectEvent.ParentID, ProjectEvent.EventID, ProjectEvent.CompanyID, ProjectEvent.StartDate, ProjectEvent.EndDate, ProjectEvent.Bit1, ProjectEvent.visible, ProjectEvent.CreateDate FROM Company INNER JOIN ProjectEvent ON Company.CompanyID = ProjectEvent.CompanyID WHERE (((ProjectEvent.ParentID)=[EventID]) AND ((ProjectEvent.EventTypeID)=3) AND ((ProjectEvent.MessageTypeID)=9))"},
    {"ProjectTaskList",
     "DROP TABLE ProjectTaskList",
     "CREATE VIEW ProjectTaskList AS "
     "SELECT ProjectTask.ParentID, ProjectTask.ContactID, ProjectTask.ExpectedPersonHours, ProjectTask.Completed, ProjectTask.CompletedDate, ProjectTask.SpentHoursTotal, ProjectTask.visible, ProjectTask.StartDate, ProjectTask.EndDate, ProjectTask.ProjectTaskID, ProjectTaskMaster.ProjectTaskMasterName, Contact.FullName, ProjectTask.ProjectTaskMasterID FROM ProjectTaskMaster INNER JOIN (Contact RIGHT JOIN ProjectTask ON Contact.ContactID = ProjectTask.ContactID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID"},
    {"DocEventDuplicate",
     "DROP TABLE DocEventDuplicate",
     "CREATE VIEW DocEventDuplicate AS "
     "SELECT DISTINCTROW DocEvent.Int3 From DocEvent GROUP BY DocEvent.Int3 HAVING (((DocEvent.Int3) In (SELECT [Int3] FROM [DocEvent] As Tmp GROUP BY [Int3] HAVING Count(*)>1 )))"},
    {"DocumentCheckedoutList",
     "DROP TABLE DocumentCheckedoutList",
     "CREATE VIEW DocumentCheckedoutList AS "
     "SELECT DocEvent_1.Title AS FolderTitle, DocEvent.Title, DocEvent.StartDate, DocEvent.ParentID, DocEvent.Int1, DocEvent.Custom4, DocEvent.EventID, DocEvent.Custom3, DocEvent.Custom1 FROM DocEvent INNER JOIN DocEvent AS DocEvent_1 ON DocEvent.ParentID = DocEvent_1.EventID WHERE (((DocEvent.visible)=Yes) AND ((DocEvent.Bit1)=Yes))"},
    {"ForumListAdmin",
     "DROP TABLE ForumListAdmin",
     "CREATE VIEW ForumListAdmin AS "
     "SELECT Company.CompanyName, Company.Furigana, ForumEvent.Title, ForumEvent.ParentID, ForumEvent.EventID, ForumEvent.CompanyID, ForumEvent.StartDate, ForumEvent.EndDate, ForumEvent.Bit1, ForumEvent.visible, ForumEvent.Int1 FROM Company INNER JOIN ForumEvent ON Company.CompanyID = ForumEvent.CompanyID WHERE (((ForumEvent.ParentID)=[EventID]) AND ((ForumEvent.Int1) Is Null) AND ((ForumEvent.EventTypeID)=6))"},
}};
// clang-format on

}  // namespace qv::migration

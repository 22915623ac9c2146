-- Main database of an older installation, before the current schema: the
-- event tables carry Public (with a PublicID index in the forum, project and
-- document tables) and Confirm where today's have Shared and Confirmation,
-- a few events hold values in them, obsolete views are still there, and the
-- fifteen server views have their older definitions.
--
-- SQLite index names are schema-wide, so the index that the older engine
-- called PublicID in table T is T_PublicID here.

-- Companies. Rows 1 to 3 come with every installation: 1 is the installing
-- company (its name is written at setup), 2 and 3 hold private and
-- unassigned contacts. Keys up to 3 never count as sample data.
CREATE TABLE Company (
  CompanyID INTEGER PRIMARY KEY AUTOINCREMENT,
  CompanyName TEXT(255),
  BizTypeID INTEGER,
  Address1 TEXT(255),
  Address2 TEXT(255),
  City TEXT(100),
  Province TEXT(100),
  Country TEXT(100),
  PostalCode TEXT(50),
  Phone1 TEXT(50),
  Phone2 TEXT(50),
  Fax TEXT(50),
  Email TEXT(255),
  Web TEXT(255),
  OwnerID INTEGER,
  StaffID INTEGER,
  Furigana TEXT(255),
  Visible SMALLINT DEFAULT 1,
  StationID INTEGER,
  AddressDisplay SMALLINT,
  SAddressDisplay SMALLINT
);

CREATE TABLE Contact (
  ContactID INTEGER PRIMARY KEY AUTOINCREMENT,
  CompanyID INTEGER,
  Salutation TEXT(50),
  FirstName TEXT(100),
  LastName TEXT(100),
  Sex SMALLINT,
  Title TEXT(255),
  Department TEXT(255),
  Division TEXT(255),
  Address1 TEXT(255),
  Address2 TEXT(255),
  City TEXT(100),
  Province TEXT(100),
  Country TEXT(100),
  PostalCode TEXT(50),
  WorkPhone TEXT(50),
  HomePhone TEXT(50),
  Fax TEXT(50),
  Cell TEXT(50),
  Email TEXT(255),
  Email2 TEXT(255),
  OwnerID INTEGER,
  AddressDisplay SMALLINT,
  HAddressDisplay SMALLINT,
  NameDisplay SMALLINT,
  FullName TEXT(255),
  FirstKana TEXT(100),
  LastKana TEXT(100),
  Furigana TEXT(255),
  Visible SMALLINT DEFAULT 1,
  StationID INTEGER
);

CREATE TABLE BusinessType (
  BizTypeID INTEGER PRIMARY KEY AUTOINCREMENT,
  BizTypeName TEXT(100),
  Description TEXT(255),
  StationID INTEGER
);

CREATE TABLE Groups (
  GroupID INTEGER PRIMARY KEY AUTOINCREMENT,
  GroupName TEXT(100),
  Visible SMALLINT DEFAULT 1,
  StationID INTEGER
);

CREATE TABLE EmailAdmin (
  DefaultSMTPServer TEXT(255),
  DefaultPOPServer TEXT(255)
);

-- Calendar.
CREATE TABLE ScheduleEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  IsReminder BIT,
  CreateDate DATETIME,
  StartDate DATETIME,
  EndDate DATETIME,
  Title TEXT(255),
  Body LONGTEXT,
  ContactID INTEGER,
  EmailNotification BIT,
  Confirm BIT,
  EventConfirmed BIT,
  WhenToNotify SMALLINT,
  Public LONG,
  Visible SMALLINT,
  StationID INTEGER
);

CREATE TABLE ScheduleMembership (
  EventID INTEGER,
  MemberID INTEGER
);

CREATE TABLE ScheduleEventMembership (
  EventID INTEGER,
  MemberID INTEGER,
  IsRead BIT DEFAULT 0,
  IsConfirmed BIT DEFAULT 0
);

-- Announcements and to-do items.
CREATE TABLE AnnounceEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  Int1 INTEGER,
  ContactID INTEGER,
  Title TEXT(255),
  Body LONGTEXT,
  Bit1 BIT,
  StartDate DATETIME,
  CreateDate DATETIME,
  GroupID LONG,
  Public LONG,
  Visible SMALLINT,
  StationID INTEGER
);

CREATE TABLE ToDoEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  Int1 INTEGER,
  ContactID INTEGER,
  Title TEXT(255),
  Body LONGTEXT,
  StartDate DATETIME,
  CreateDate DATETIME,
  GroupID LONG,
  Public LONG,
  Visible SMALLINT,
  StationID INTEGER
);

-- Discussion forum: thread heads, replies and polls share ForumEvent.
CREATE TABLE ForumEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  CompanyID INTEGER,
  ContactID INTEGER,
  ParentID INTEGER,
  StartDate DATETIME,
  EndDate DATETIME,
  CreateDate DATETIME,
  Title TEXT(255),
  Body LONGTEXT,
  Visible SMALLINT,
  Bit1 BIT,
  Bit2 BIT,
  Bit3 BIT,
  Int1 INTEGER,
  Int2 INTEGER,
  Int3 INTEGER,
  Custom1 TEXT(255),
  Custom2 TEXT(255),
  Public LONG,
  StationID INTEGER
);
CREATE INDEX ForumEvent_PublicID ON ForumEvent(Public);

CREATE TABLE ForumEventMembership (
  ParentID INTEGER,
  ContactID INTEGER,
  LeaderFlag BIT,
  Visible SMALLINT
);

CREATE TABLE ForumNewFlag (
  EventID INTEGER,
  ContactID INTEGER
);

CREATE TABLE ForumVoting (
  EventID INTEGER,
  ContactID INTEGER,
  VotingStatus SMALLINT
);

-- Projects: projects and their progress messages share ProjectEvent.
CREATE TABLE ProjectEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  MessageTypeID SMALLINT,
  CompanyID INTEGER,
  ContactID INTEGER,
  ParentID INTEGER,
  CreateDate DATETIME,
  StartDate DATETIME,
  StartTime DATETIME,
  EndDate DATETIME,
  EndTime DATETIME,
  Title TEXT(255),
  Body LONGTEXT,
  TimeTrack INTEGER,
  Visible BIT,
  Bit1 BIT,
  Bit2 BIT,
  Int1 INTEGER,
  Int2 INTEGER,
  Public LONG,
  StationID INTEGER
);
CREATE INDEX ProjectEvent_PublicID ON ProjectEvent(Public);

CREATE TABLE ProjectEventMembership (
  ParentID INTEGER,
  ContactID INTEGER,
  LeaderFlag BIT,
  Visible BIT DEFAULT 1
);

CREATE TABLE ProjectNewFlag (
  EventID INTEGER,
  ContactID INTEGER
);

-- A new task has booked no hours, is open and is shown.
CREATE TABLE ProjectTask (
  ProjectTaskID INTEGER PRIMARY KEY AUTOINCREMENT,
  ProjectTaskMasterID INTEGER,
  ParentID INTEGER,
  ContactID INTEGER,
  ExpectedPersonHours INTEGER,
  StartDate DATETIME,
  EndDate DATETIME,
  SpentHoursTotal INTEGER DEFAULT 0,
  Completed BIT DEFAULT 0,
  CompletedDate DATETIME,
  Visible BIT DEFAULT 1
);

CREATE TABLE ProjectTaskMaster (
  ProjectTaskMasterID INTEGER PRIMARY KEY AUTOINCREMENT,
  ProjectTaskMasterTypeID INTEGER,
  ProjectTaskMasterName TEXT(255),
  ExpectedPersonHours INTEGER,
  DaysToStart INTEGER,
  DaysToEnd INTEGER,
  Visible SMALLINT
);

CREATE TABLE ProjectTaskMasterType (
  ProjectTaskMasterTypeID INTEGER PRIMARY KEY AUTOINCREMENT,
  ProjectTaskMasterTypeName TEXT(255),
  Description TEXT(255)
);

-- Bookable resources.
CREATE TABLE Resource (
  ResourceID INTEGER PRIMARY KEY AUTOINCREMENT,
  ResourceTypeID INTEGER,
  CompanyID INTEGER,
  ResourceName TEXT(255),
  Description TEXT(255)
);

CREATE TABLE ResourceEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  EventTypeID SMALLINT,
  CreateDate DATETIME,
  StartDate DATETIME,
  EndDate DATETIME,
  Title TEXT(255),
  Body LONGTEXT,
  ResourceID INTEGER,
  Visible SMALLINT,
  Confirm BIT,
  EmailNotification BIT DEFAULT 0,
  EventConfirmed BIT DEFAULT 0,
  IsReminder BIT DEFAULT 0,
  StationID INTEGER
);

CREATE TABLE ResourceEventMembership (
  EventID INTEGER,
  OwnerID INTEGER,
  IsRead BIT DEFAULT 0,
  IsConfirmed BIT DEFAULT 0
);

CREATE TABLE ResourceType (
  ResourceTypeID INTEGER PRIMARY KEY AUTOINCREMENT,
  ResourceTypeEnglish TEXT(100),
  ResourceTypeJapanese TEXT(100),
  ResourceTypeFrench TEXT(100),
  ResourceTypeGerman TEXT(100)
);

-- Document library: folders and documents share DocEvent. Bit1 marks a
-- checked-out document.
CREATE TABLE DocEvent (
  EventID INTEGER PRIMARY KEY AUTOINCREMENT,
  GroupID INTEGER,
  CompanyID INTEGER,
  ContactID INTEGER,
  ParentID INTEGER,
  CreateDate DATETIME,
  StartDate DATETIME,
  Title TEXT(255),
  Body LONGTEXT,
  Visible BIT,
  Custom1 TEXT(255),
  Custom2 TEXT(255),
  Custom3 TEXT(255),
  Custom4 TEXT(255),
  Int1 INTEGER,
  Int2 INTEGER,
  Int3 INTEGER,
  Bit1 BIT DEFAULT 0,
  Bit2 BIT,
  Public LONG,
  StationID INTEGER
);
CREATE INDEX DocEvent_PublicID ON DocEvent(Public);

-- Rows every installation holds.
INSERT INTO Company (CompanyID, CompanyName, BizTypeID, Address1, Address2, City, Province, Country, PostalCode, Phone1, Phone2, Fax, Email, Web, OwnerID, StaffID, Furigana, Visible, StationID, AddressDisplay, SAddressDisplay) VALUES
  (1, 'My Company', 1, '', '', '', '', '', '', '', '', '', '', '', 1, 1, '', 1, 1, 1, 1),
  (2, 'Private Contacts', 6, '', '', '', '', '', '', '', '', '', '', '', 1, 1, '', 1, 1, 1, 1),
  (3, 'Unassigned Contacts', 6, '', '', '', '', '', '', '', '', '', '', '', 1, 1, '', 1, 1, 1, 1);

-- The installation's first users; Contact 1 is the administrator.
INSERT INTO Contact (ContactID, CompanyID, Salutation, FirstName, LastName, Sex, Title, Department, Division, Email, OwnerID, AddressDisplay, HAddressDisplay, NameDisplay, FullName, FirstKana, LastKana, Furigana, Visible, StationID) VALUES
  (1, 1, '', 'System', 'Administrator', 0, 'Administrator', '', '', 'admin@example.com', 1, 1, 1, 1, 'System Administrator', 'System', 'Administrator', 'Administrator', 1, 1),
  (2, 1, 'Ms.', 'Alice', 'Morgan', 1, 'Office Manager', '', '', 'alice.morgan@example.com', 1, 1, 1, 1, 'Alice Morgan', 'Alice', 'Morgan', 'Morgan', 1, 1),
  (3, 1, 'Mr.', 'Ben', 'Carter', 0, 'Project Lead', '', '', 'ben.carter@example.com', 1, 1, 1, 1, 'Ben Carter', 'Ben', 'Carter', 'Carter', 1, 1),
  (4, 1, 'Ms.', 'Chloe', 'Dubois', 1, 'Designer', '', '', 'chloe.dubois@example.com', 1, 1, 1, 1, 'Chloe Dubois', 'Chloe', 'Dubois', 'Dubois', 1, 1),
  (5, 1, 'Mr.', 'David', 'Kim', 0, 'Sales Representative', '', '', 'david.kim@example.com', 1, 1, 1, 1, 'David Kim', 'David', 'Kim', 'Kim', 1, 1);

-- Placeholder names until the setup names the business types.
INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) VALUES
  (1, 'Business Type 1', '', 1),
  (2, 'Business Type 2', '', 1),
  (3, 'Business Type 3', '', 1),
  (4, 'Business Type 4', '', 1),
  (5, 'Business Type 5', '', 1),
  (6, 'Business Type 6', '', 1);

INSERT INTO Groups (GroupID, GroupName, Visible, StationID) VALUES (1, 'Everyone', 1, 1);

INSERT INTO EmailAdmin (DefaultSMTPServer, DefaultPOPServer) VALUES ('', '');

-- Project templates and the tasks of template 1.
INSERT INTO ProjectTaskMasterType (ProjectTaskMasterTypeID, ProjectTaskMasterTypeName, Description) VALUES
  (1, 'Template 1', ''),
  (2, 'Template 2', ''),
  (3, 'Template 3', '');

INSERT INTO ProjectTaskMaster (ProjectTaskMasterID, ProjectTaskMasterTypeID, ProjectTaskMasterName, ExpectedPersonHours, DaysToStart, DaysToEnd, Visible) VALUES
  (1, 1, 'Task 1', 8, 0, 1, 1),
  (2, 1, 'Task 2', 8, 1, 2, 1),
  (3, 1, 'Task 3', 8, 2, 3, 1),
  (4, 1, 'Task 4', 8, 3, 4, 1),
  (5, 1, 'Task 5', 8, 4, 5, 1),
  (6, 1, 'Task 6', 8, 5, 6, 1);

INSERT INTO ResourceType (ResourceTypeID, ResourceTypeEnglish, ResourceTypeJapanese, ResourceTypeFrench, ResourceTypeGerman) VALUES
  (1, 'Equipment', '備品', 'Équipement', 'Ausrüstung'),
  (2, 'Room', '会議室', 'Salle', 'Raum');

-- Events written by the older version, with their Public and Confirm values.
INSERT INTO ScheduleEvent (EventID, EventTypeID, IsReminder, CreateDate, StartDate, EndDate, Title, Body, ContactID, EmailNotification, Confirm, EventConfirmed, WhenToNotify, Public, Visible, StationID) VALUES
  (1, 1, 0, '2009-04-01 08:00:00', '2009-04-02 05:00:00', '2009-04-02 06:30:00', 'Budget review', 'Quarterly figures', 1, 1, 1, 0, -1, 1, 1, 1),
  (2, 1, 1, '2009-04-01 08:00:00', '2009-04-03 12:00:00', NULL, 'Office move', NULL, 2, 1, 0, 0, -1, 0, 1, 1),
  (3, 1, 0, '2009-04-01 09:15:00', '2009-04-06 01:00:00', '2009-04-06 02:00:00', 'Team lunch', NULL, 3, 0, 1, 1, -1, 2, 1, 1);
INSERT INTO ScheduleMembership (EventID, MemberID) VALUES (1, 1), (1, 2), (2, 2), (3, 3), (3, 4);

INSERT INTO ForumEvent (EventID, EventTypeID, CompanyID, ContactID, ParentID, StartDate, CreateDate, Title, Body, Visible, Bit1, Bit2, Bit3, Int1, Public, StationID) VALUES
  (1, 6, 1, 2, 1, '2009-03-20 10:00:00', '2009-03-20 10:00:00', 'Parking', 'Where do visitors park?', 1, 1, 1, 0, NULL, 1, 1),
  (2, 6, NULL, 3, 1, '2009-03-21 11:30:00', '2009-03-21 11:30:00', 'Re: Parking', 'Behind the warehouse.', 1, 1, 0, 0, 2, 0, 1);
INSERT INTO ForumEventMembership (ParentID, ContactID, LeaderFlag, Visible) VALUES (1, 2, 1, 1), (1, 3, 0, 1);

INSERT INTO DocEvent (EventID, GroupID, CompanyID, ContactID, ParentID, CreateDate, Title, Body, Visible, Custom1, Custom2, Custom3, Custom4, Int2, Int3, Bit1, Bit2, Public, StationID) VALUES
  (1, 1, 1, 1, 1, '2009-02-02 09:00:00', 'Policies', 'Company policies', 1, NULL, NULL, NULL, NULL, NULL, NULL, 0, NULL, 1, 1),
  (2, NULL, 1, 1, 1, '2009-02-02 09:05:00', 'Handbook', 'Staff handbook', 1, '1', '1\handbook.txt', 'handbook.txt', 'txt', 2048, 2, 0, 1, 0, 1);

-- Views later versions no longer have.
CREATE VIEW NoticeAnnounce AS SELECT AnnounceEvent.EventID, AnnounceEvent.ContactID, AnnounceEvent.Title, AnnounceEvent.Body, AnnounceEvent.StartDate, AnnounceEvent.GroupID, AnnounceEvent.Public FROM AnnounceEvent WHERE (((AnnounceEvent.EventTypeID)=7) AND ((AnnounceEvent.Visible)=1));
CREATE VIEW WorkTrakerList AS SELECT ProjectTask.ProjectTaskID, ProjectTask.ParentID, ProjectTask.ContactID, ProjectTask.ExpectedPersonHours, ProjectTask.SpentHoursTotal, ProjectEvent.Title FROM ProjectTask INNER JOIN ProjectEvent ON ProjectTask.ParentID = ProjectEvent.EventID;
CREATE VIEW documentlist AS SELECT DocEvent.EventID, DocEvent.ParentID, DocEvent.Title, DocEvent.Custom2, DocEvent.Custom3, DocEvent.Public FROM DocEvent WHERE (((DocEvent.Visible)=1) AND ((DocEvent.ParentID)<>[EventID]));
CREATE VIEW DocumentHistory AS SELECT DocEvent.EventID, DocEvent.Int3, DocEvent.Title, DocEvent.CreateDate, Contact.FullName FROM DocEvent INNER JOIN Contact ON DocEvent.ContactID = Contact.ContactID;

-- The fifteen server views as older versions defined them: over Public and
-- Confirm instead of Shared and Confirmation, and without the columns added
-- since.
CREATE VIEW ScheduleEngine AS SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.ContactID AS OwnerID, ScheduleEvent.CreateDate, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.WhenToNotify, ScheduleEvent.Confirm, ScheduleEvent.EventConfirmed, ScheduleEventMembership.MemberID, ScheduleEventMembership.IsRead, ScheduleEventMembership.IsConfirmed, ScheduleEvent.Public FROM ScheduleEvent INNER JOIN ScheduleEventMembership ON ScheduleEvent.EventID = ScheduleEventMembership.EventID Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1));
CREATE VIEW ScheduleEngineDetail AS SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.ContactID AS OwnerID, Contact.FullName AS OwnerFullName, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, ScheduleEvent.CreateDate, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.WhenToNotify, ScheduleEvent.Confirm, ScheduleEvent.EventConfirmed, ScheduleEventMembership.MemberID, ScheduleEventMembership.IsRead, ScheduleEventMembership.IsConfirmed, Contact_1.FullName AS MemberFullName, Contact_1.Furigana, Contact_1.Email, Contact_1.Email2, Contact_1.FirstKana, Contact_1.LastKana, ScheduleEvent.Public FROM (ScheduleEvent INNER JOIN Contact ON ScheduleEvent.ContactID = Contact.ContactID) INNER JOIN (ScheduleEventMembership INNER JOIN Contact AS Contact_1 ON ScheduleEventMembership.MemberID = Contact_1.ContactID) ON ScheduleEvent.EventID = ScheduleEventMembership.EventID Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1));
CREATE VIEW ScheduleOwnership AS SELECT ScheduleEvent.EventID, ScheduleEvent.EventTypeID, ScheduleEvent.CreateDate, Contact.Email AS OwnerEmail, Contact.ContactID AS OwnerID, Contact.FullName AS OwnerFullName, ScheduleEvent.IsReminder, ScheduleEvent.StartDate, ScheduleEvent.EndDate, ScheduleEvent.Title, ScheduleEvent.Body, ScheduleEvent.visible, ScheduleEvent.EmailNotification, ScheduleEvent.Confirm, ScheduleEvent.EventConfirmed, ScheduleEvent.WhenToNotify, ScheduleEvent.Public FROM Contact INNER JOIN ScheduleEvent ON Contact.ContactID = ScheduleEvent.ContactID Where (((ScheduleEvent.EventTypeID) = 1) And ((ScheduleEvent.Visible) = 1));
CREATE VIEW ResourceEngine AS SELECT ResourceEvent.EventID, ResourceEvent.EventTypeID, ResourceEvent.ResourceID, ResourceEvent.CreateDate, ResourceEvent.StartDate, ResourceEvent.EndDate, ResourceEvent.Title, ResourceEvent.Body, ResourceEvent.visible, ResourceEventMembership.OwnerID, ResourceEvent.Confirm, ResourceEvent.EmailNotification, ResourceEvent.EventConfirmed, ResourceEventMembership.IsRead, ResourceEventMembership.IsConfirmed, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, Contact.FullName AS OwnerFullName, ResourceEvent.IsReminder, Resource.ResourceTypeID FROM Resource INNER JOIN ((ResourceEventMembership INNER JOIN ResourceEvent ON ResourceEventMembership.EventID = ResourceEvent.EventID) INNER JOIN Contact ON ResourceEventMembership.OwnerID = Contact.ContactID) ON Resource.ResourceID = ResourceEvent.ResourceID Where (((ResourceEvent.EventTypeID) = 8) And ((ResourceEvent.Visible) = 1));
CREATE VIEW ResourceEngineDetail AS SELECT ResourceEvent.EventID, ResourceEvent.EventTypeID, ResourceEvent.ResourceID, ResourceEvent.CreateDate, ResourceEvent.StartDate, ResourceEvent.EndDate, ResourceEvent.Title, ResourceEvent.Body, ResourceEvent.visible, ResourceEventMembership.OwnerID, ResourceEvent.Confirm, ResourceEvent.EmailNotification, ResourceEvent.EventConfirmed, ResourceEventMembership.IsRead, ResourceEventMembership.IsConfirmed, Contact.Email AS OwnerEmail, Contact.Email2 AS OwnerEmail2, Contact.FullName AS OwnerFullName, Resource.CompanyID, Resource.ResourceTypeID, Resource.ResourceName, ResourceEvent.IsReminder, ResourceType.ResourceTypeEnglish, ResourceType.ResourceTypeJapanese, Contact.LastKana, Contact.FirstKana, ResourceType.ResourceTypeFrench, ResourceType.ResourceTypeGerman FROM ResourceType INNER JOIN (Resource INNER JOIN ((ResourceEventMembership INNER JOIN ResourceEvent ON ResourceEventMembership.EventID = ResourceEvent.EventID) INNER JOIN Contact ON ResourceEventMembership.OwnerID = Contact.ContactID) ON Resource.ResourceID = ResourceEvent.ResourceID) ON ResourceType.ResourceTypeID = Resource.ResourceTypeID Where (((ResourceEvent.EventTypeID) = 8) And ((ResourceEvent.Visible) = 1));
CREATE VIEW ProjectMessageSearch AS SELECT ProjectEvent.ParentID, ProjectTask.visible, ProjectEvent.Int1, ProjectEvent.MessageTypeID, ProjectTask.Completed, ProjectTaskMaster.ProjectTaskMasterName, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.visible AS EventVisible, ProjectTask.StartDate FROM (ProjectTaskMaster RIGHT JOIN (ProjectEvent LEFT JOIN ProjectTask ON ProjectEvent.Int1 = ProjectTask.ProjectTaskID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID) LEFT JOIN ProjectNewFlag ON ProjectEvent.EventID = ProjectNewFlag.EventID Where (((ProjectTask.Visible) Is Null) And ((ProjectEvent.Visible) = 1) And ((ProjectEvent.EventTypeID) = 3)) Or (((ProjectTask.Visible) = 1));
CREATE VIEW ProjectAllTaskList AS SELECT ProjectTask.ContactID, ProjectTask.ProjectTaskID, ProjectTask.ExpectedPersonHours, ProjectTask.EndDate, ProjectTask.StartDate, ProjectTask.SpentHoursTotal, ProjectTask.ParentID, ProjectEvent.Title, ProjectEvent.EndDate AS ProjectEndDate, ProjectTaskMaster.ProjectTaskMasterName FROM ProjectTaskMaster INNER JOIN (ProjectTask LEFT JOIN ProjectEvent ON ProjectTask.ParentID = ProjectEvent.EventID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID WHERE (((ProjectEvent.visible)=1) AND ((ProjectTask.visible)=1) AND ((ProjectTask.Completed)=0));
CREATE VIEW ProjectEventDisplay AS SELECT ProjectEvent.ParentID, ProjectEvent.EventTypeID, ProjectEvent.CreateDate, ProjectEvent.MessageTypeID, ProjectEvent.EventID, ProjectEvent.ContactID, ProjectEvent.StartDate, ProjectEvent.StartTime, ProjectEvent.EndDate, ProjectEvent.EndTime, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.TimeTrack, Contact.FullName, ProjectEvent.Bit2, ProjectEvent.CompanyID, ProjectEvent.Bit1, ProjectTask.Completed, ProjectTask.CompletedDate FROM (Contact RIGHT JOIN ProjectEvent ON Contact.ContactID = ProjectEvent.ContactID) INNER JOIN ProjectTask ON ProjectEvent.Int1 = ProjectTask.ProjectTaskID WHERE (((ProjectEvent.EventTypeID)=3));
CREATE VIEW ProjectGeneralEventDisplay AS SELECT ProjectEvent.EventID, ProjectEvent.MessageTypeID, ProjectEvent.ParentID, ProjectEvent.CompanyID, ProjectEvent.ContactID, ProjectEvent.CreateDate, ProjectEvent.StartDate, ProjectEvent.StartTime, ProjectEvent.EndDate, ProjectEvent.EndTime, ProjectEvent.Title, ProjectEvent.Body, ProjectEvent.TimeTrack, ProjectEvent.visible, ProjectEvent.Bit1, ProjectEvent.Bit2, ProjectEvent.Int1 FROM Contact RIGHT JOIN ProjectEvent ON Contact.ContactID = ProjectEvent.ContactID WHERE (((ProjectEvent.Int1)=0) AND ((ProjectEvent.EventTypeID)=3));
CREATE VIEW ProjectList AS SELECT Company.CompanyName, Company.Furigana, ProjectEvent.Title, ProjectEvent.ParentID, ProjectEvent.EventID, ProjectEvent.CompanyID, ProjectEvent.StartDate, ProjectEvent.EndDate, ProjectEvent.Bit1, ProjectEventMembership.ContactID, ProjectEvent.visible, ProjectEventMembership.Visible AS MemberVisible, ProjectEvent.EventTypeID, ProjectEvent.MessageTypeID FROM (Company INNER JOIN ProjectEvent ON Company.CompanyID = ProjectEvent.CompanyID) INNER JOIN ProjectEventMembership ON ProjectEvent.ParentID = ProjectEventMembership.ParentID WHERE (((ProjectEvent.ParentID)=[EventID]) AND ((ProjectEventMembership.Visible)=1) AND ((ProjectEvent.EventTypeID)=3) AND ((ProjectEvent.MessageTypeID)=9));
CREATE VIEW ProjectListAdmin AS SELECT Company.CompanyName, Company.Furigana, ProjectEvent.Title, ProjectEvent.ParentID, ProjectEvent.EventID, ProjectEvent.CompanyID, ProjectEvent.StartDate, ProjectEvent.EndDate, ProjectEvent.Bit1, ProjectEvent.visible FROM Company INNER JOIN ProjectEvent ON Company.CompanyID = ProjectEvent.CompanyID WHERE (((ProjectEvent.ParentID)=[EventID]) AND ((ProjectEvent.EventTypeID)=3) AND ((ProjectEvent.MessageTypeID)=9));
CREATE VIEW ProjectTaskList AS SELECT ProjectTask.ParentID, ProjectTask.ContactID, ProjectTask.ExpectedPersonHours, ProjectTask.Completed, ProjectTask.CompletedDate, ProjectTask.SpentHoursTotal, ProjectTask.visible, ProjectTask.StartDate, ProjectTask.EndDate, ProjectTask.ProjectTaskID, ProjectTaskMaster.ProjectTaskMasterName, Contact.FullName FROM ProjectTaskMaster INNER JOIN (Contact RIGHT JOIN ProjectTask ON Contact.ContactID = ProjectTask.ContactID) ON ProjectTaskMaster.ProjectTaskMasterID = ProjectTask.ProjectTaskMasterID;
CREATE VIEW DocEventDuplicate AS SELECT DocEvent.Int3 FROM DocEvent GROUP BY DocEvent.Int3 HAVING Count(*)>1;
CREATE VIEW DocumentCheckedoutList AS SELECT DocEvent_1.Title AS FolderTitle, DocEvent.Title, DocEvent.StartDate, DocEvent.ParentID, DocEvent.Int1, DocEvent.Custom4, DocEvent.EventID, DocEvent.Custom3 FROM DocEvent INNER JOIN DocEvent AS DocEvent_1 ON DocEvent.ParentID = DocEvent_1.EventID WHERE (((DocEvent.visible)=1) AND ((DocEvent.Bit1)=1));
CREATE VIEW ForumListAdmin AS SELECT Company.CompanyName, Company.Furigana, ForumEvent.Title, ForumEvent.ParentID, ForumEvent.EventID, ForumEvent.CompanyID, ForumEvent.StartDate, ForumEvent.EndDate, ForumEvent.Bit1, ForumEvent.visible FROM Company INNER JOIN ForumEvent ON Company.CompanyID = ForumEvent.CompanyID WHERE (((ForumEvent.ParentID)=[EventID]) AND ((ForumEvent.Int1) Is Null) AND ((ForumEvent.EventTypeID)=6));

-- Security database of an older installation: users have no date and time
-- formats of their own yet; the installation-wide ones in GlobalPref (set by
-- the previous setup run) are what they will inherit.

CREATE TABLE GlobalPref (
  MainDir TEXT(255),
  StorageDir TEXT(255),
  MainURL TEXT(255),
  LanguageID SMALLINT,
  GMTTimeOffset SMALLINT,
  DateFormat TEXT(50),
  TimeFormat TEXT(50)
);

CREATE TABLE Install (
  InstallFlag SMALLINT
);

CREATE TABLE Users (
  UserID INTEGER PRIMARY KEY AUTOINCREMENT,
  LoginName TEXT(50),
  Password TEXT(50),
  ContactID INTEGER,
  GroupID INTEGER,
  IsAdmin BIT
);

INSERT INTO GlobalPref (MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset, DateFormat, TimeFormat) VALUES
  ('/srv/quorvia-previous', '/srv/quorvia-previous', 'http://intranet.example.com/quorvia/', 1, -5, 'mm/dd/yyyy', 'HH:mm');

INSERT INTO Install (InstallFlag) VALUES (1);

INSERT INTO Users (UserID, LoginName, Password, ContactID, GroupID, IsAdmin) VALUES
  (1, 'admin', 'quillmark', 1, 1, 1),
  (2, 'amorgan', '', 2, 1, 0),
  (3, 'bcarter', '', 3, 1, 0),
  (4, 'cdubois', '', 4, 1, 0),
  (5, 'dkim', '', 5, 1, 0);

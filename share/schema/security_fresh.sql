-- Security database of a fresh installation: installation-wide preferences,
-- the installation flag, and the users with their date and time formats.

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
  IsAdmin BIT,
  DateFormat TEXT(50) NULL,
  TimeFormat TEXT(50) NULL
);

INSERT INTO GlobalPref (MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset, DateFormat, TimeFormat) VALUES
  ('', '', '', 1, 0, 'yyyy/mm/dd', 'hh:mm tt');

INSERT INTO Install (InstallFlag) VALUES (0);

INSERT INTO Users (UserID, LoginName, Password, ContactID, GroupID, IsAdmin, DateFormat, TimeFormat) VALUES
  (1, 'admin', 'quillmark', 1, 1, 1, 'yyyy/mm/dd', 'hh:mm tt'),
  (2, 'amorgan', '', 2, 1, 0, 'yyyy/mm/dd', 'hh:mm tt'),
  (3, 'bcarter', '', 3, 1, 0, 'yyyy/mm/dd', 'hh:mm tt'),
  (4, 'cdubois', '', 4, 1, 0, 'yyyy/mm/dd', 'hh:mm tt'),
  (5, 'dkim', '', 5, 1, 0, 'yyyy/mm/dd', 'hh:mm tt');

-- Reference of the migration benchmark: what the engine itself needs to
-- replace Public and Confirm by Shared and Confirmation in an older
-- installation's main database, in one transaction, run by the sqlite3 shell:
--   sqlite3 -bail DIR/db/qv_main.mdb < bench/migration_reference.sql
-- The tables, statements and their order are those of the migration step:
-- per table, add the new column, copy the old values, drop the old column's
-- index where it has one, drop the old column. The engine refuses to drop a
-- column that a view uses, so the views of the older installation are
-- dropped first (the setup drops the same views and re-creates fifteen).
BEGIN;
DROP VIEW IF EXISTS NoticeAnnounce;
DROP VIEW IF EXISTS WorkTrakerList;
DROP VIEW IF EXISTS DocumentFoldersListSearch;
DROP VIEW IF EXISTS DocumentFolderListAdmin;
DROP VIEW IF EXISTS DocumentFolderListAdminPersonal;
DROP VIEW IF EXISTS DocumentList;
DROP VIEW IF EXISTS DocumentHistory;
DROP VIEW IF EXISTS ScheduleEngine;
DROP VIEW IF EXISTS ScheduleEngineDetail;
DROP VIEW IF EXISTS ScheduleOwnership;
DROP VIEW IF EXISTS ResourceEngine;
DROP VIEW IF EXISTS ResourceEngineDetail;
DROP VIEW IF EXISTS ProjectMessageSearch;
DROP VIEW IF EXISTS ProjectAllTaskList;
DROP VIEW IF EXISTS ProjectEventDisplay;
DROP VIEW IF EXISTS ProjectGeneralEventDisplay;
DROP VIEW IF EXISTS ProjectList;
DROP VIEW IF EXISTS ProjectListAdmin;
DROP VIEW IF EXISTS ProjectTaskList;
DROP VIEW IF EXISTS DocEventDuplicate;
DROP VIEW IF EXISTS DocumentCheckedoutList;
DROP VIEW IF EXISTS ForumListAdmin;

ALTER TABLE ScheduleEvent ADD COLUMN Shared LONG;
UPDATE ScheduleEvent SET Shared = Public;
ALTER TABLE ScheduleEvent DROP COLUMN Public;
ALTER TABLE ScheduleEvent ADD COLUMN Confirmation BIT;
UPDATE ScheduleEvent SET Confirmation = Confirm;
ALTER TABLE ScheduleEvent DROP COLUMN Confirm;

ALTER TABLE AnnounceEvent ADD COLUMN Shared LONG;
UPDATE AnnounceEvent SET Shared = Public;
ALTER TABLE AnnounceEvent DROP COLUMN Public;

ALTER TABLE ToDoEvent ADD COLUMN Shared LONG;
UPDATE ToDoEvent SET Shared = Public;
ALTER TABLE ToDoEvent DROP COLUMN Public;

ALTER TABLE ForumEvent ADD COLUMN Shared LONG;
UPDATE ForumEvent SET Shared = Public;
DROP INDEX ForumEvent_PublicID;
ALTER TABLE ForumEvent DROP COLUMN Public;

ALTER TABLE ProjectEvent ADD COLUMN Shared LONG;
UPDATE ProjectEvent SET Shared = Public;
DROP INDEX ProjectEvent_PublicID;
ALTER TABLE ProjectEvent DROP COLUMN Public;

ALTER TABLE ResourceEvent ADD COLUMN Confirmation BIT;
UPDATE ResourceEvent SET Confirmation = Confirm;
ALTER TABLE ResourceEvent DROP COLUMN Confirm;

ALTER TABLE DocEvent ADD COLUMN Shared LONG;
UPDATE DocEvent SET Shared = Public;
DROP INDEX DocEvent_PublicID;
ALTER TABLE DocEvent DROP COLUMN Public;
COMMIT;

-- The line database, run once by the server's administrator (psql as a superuser):
--     psql -v ON_ERROR_STOP=1 -f line-database.sql
-- then give each login role its password with psql's \password (never on a command line).
--
-- vrax_owner owns the tables: the first program that connects as it creates them (and later
-- upgrades them). Stations connect as a member of vrax_station, which may add records, reserve
-- and settle serial numbers and read approvals, only through the owner's functions, and nothing
-- else: the records are an append-only trail. Images are approved by a member of vrax_approver.
CREATE ROLE vrax_station NOLOGIN;
CREATE ROLE vrax_approver NOLOGIN;
CREATE ROLE vrax_owner LOGIN;
CREATE ROLE station LOGIN IN ROLE vrax_station;
CREATE ROLE approver LOGIN IN ROLE vrax_approver;
CREATE DATABASE vrax_line OWNER vrax_owner;
\connect vrax_line
-- Nobody else may create tables beside the owner's.
REVOKE ALL ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO vrax_station, vrax_approver;
ALTER SCHEMA public OWNER TO vrax_owner;

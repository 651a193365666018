#include "records/postgres/PostgresProductionRecords.h"

#include "device/HexText.h"
#include "programming/JobOutcome.h"
#include "records/RecordsLocation.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vrax {

namespace {

// The tables' indexes and functions spell the stored pass in their SQL, as stored files keep it.
static_assert(std::string_view(WritePassText) == "Write Pass");

// The key of pg_advisory_xact_lock for the schema's creation. The serial numbers of a product
// type are locked through the owner's table, which no station can lock.
constexpr int LockSpace = 0x56524158; // "VRAX"
constexpr int SchemaLock = -1;

// The owner's tables as version 1 made them; version 2 takes back every change a role could
// make itself.
constexpr const char* CreateVersion1 = R"(
CREATE TABLE vrax_schema (version integer NOT NULL);
INSERT INTO vrax_schema VALUES (1);
CREATE TABLE records (
    seq bigserial PRIMARY KEY,
    id text NOT NULL UNIQUE,
    time text NOT NULL,
    operation text NOT NULL,
    factory integer, line text, station integer, host text,
    ic_type text, vid integer, pid integer, path text,
    image_sha256 text, image_file text, format text,
    product_type integer, serial integer,
    verdict text, duration_ms bigint, error text,
    stored timestamptz NOT NULL DEFAULT now());
CREATE INDEX records_time ON records(time);
CREATE INDEX records_serial ON records(serial);
CREATE INDEX records_writes ON records(product_type, serial) WHERE operation = 'write';
CREATE INDEX records_passes ON records(serial, product_type, time)
    WHERE operation = 'write' AND verdict = 'Write Pass';
CREATE TABLE serials (
    product_type integer NOT NULL,
    serial integer NOT NULL,
    state text NOT NULL,
    time text NOT NULL,
    host text, process bigint, process_start text,
    PRIMARY KEY (product_type, serial));
CREATE INDEX serials_reserved ON serials(product_type, serial) WHERE state = 'reserved';
CREATE TABLE station_opens (
    time timestamptz NOT NULL DEFAULT now(),
    role text NOT NULL DEFAULT current_user,
    host text, process bigint);
CREATE TABLE approvals (
    seq bigserial PRIMARY KEY,
    product_type integer NOT NULL,
    image_sha256 text NOT NULL,
    image_file text NOT NULL,
    approver text NOT NULL,
    role text NOT NULL DEFAULT session_user,
    time text NOT NULL,
    UNIQUE (product_type, image_sha256));
GRANT SELECT ON vrax_schema TO vrax_station, vrax_approver;
GRANT SELECT ON approvals TO vrax_station;
GRANT SELECT, INSERT ON approvals TO vrax_approver;
GRANT USAGE ON SEQUENCE approvals_seq_seq TO vrax_approver;
GRANT SELECT, INSERT ON records TO vrax_station;
GRANT USAGE ON SEQUENCE records_seq_seq TO vrax_station;
GRANT SELECT, INSERT ON serials TO vrax_station;
GRANT UPDATE (state, time, host, process, process_start) ON serials TO vrax_station;
GRANT INSERT ON station_opens TO vrax_station;
GRANT SELECT ON records, serials TO vrax_approver;
)";

// Version 2: a reservation names the station (its outbox) that holds it, and one whose holder
// ended without its record is of unknown outcome, never released; rows carry the role that
// made them, and the roles change nothing but through the owner's functions.
constexpr const char* UpgradeTo2 = R"(
ALTER TABLE serials ADD COLUMN station text;
CREATE INDEX serials_unknown ON serials(product_type, serial) WHERE state = 'unknown';
ALTER TABLE records ADD COLUMN role text;
ALTER TABLE serials ADD COLUMN role text;
CREATE TABLE station_roles (
    factory integer NOT NULL, line text NOT NULL, station integer NOT NULL,
    role text NOT NULL,
    PRIMARY KEY (factory, line, station));
REVOKE INSERT, UPDATE ON records, serials, station_opens FROM vrax_station;
REVOKE USAGE ON SEQUENCE records_seq_seq FROM vrax_station;
REVOKE INSERT ON approvals FROM vrax_approver;
REVOKE USAGE ON SEQUENCE approvals_seq_seq FROM vrax_approver;
GRANT SELECT ON station_roles TO vrax_station, vrax_approver;
UPDATE vrax_schema SET version = 2;
)";

// Version 3: the product types' locks are rows of the owner's, and a record keeps the server's
// time, the station's beside it.
constexpr const char* UpgradeTo3 = R"(
CREATE TABLE product_type_locks (product_type integer PRIMARY KEY);
CREATE TABLE line_identity (id text NOT NULL);
-- A station that remembers a number the server no longer knows found it gone back in time (a
-- backup restored): reservations wait for the owner, and then start above what was remembered.
CREATE TABLE line_restores (
    seq bigserial PRIMARY KEY,
    product_type integer NOT NULL,
    remembered integer NOT NULL,
    remembered_at text NOT NULL,
    server_high integer,
    role text NOT NULL, host text, station text,
    time text NOT NULL,
    acknowledged text);
CREATE TABLE serial_floors (product_type integer PRIMARY KEY, floor integer NOT NULL);
GRANT SELECT ON line_restores TO vrax_station, vrax_approver;
INSERT INTO line_identity VALUES (gen_random_uuid()::text);
GRANT SELECT ON line_identity TO vrax_station, vrax_approver;
CREATE INDEX serials_lost ON serials(product_type, serial) WHERE state = 'lost';
ALTER TABLE records ADD COLUMN station_time text;
UPDATE vrax_schema SET version = 3;
)";

// Stations and approvers change the tables only through these, which run as the owner with a
// search path of the owner's, check what they are given, and take the role and the time from
// the session, never from the caller.
constexpr const char* OwnersFunctions = R"(
CREATE OR REPLACE FUNCTION vrax_now() RETURNS text LANGUAGE sql STABLE
SET search_path = pg_catalog, pg_temp AS $$
    SELECT to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"')
$$;

CREATE OR REPLACE FUNCTION vrax_number(p_product_type integer, p_serial integer) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT format('SN %s of product type %s', lpad(upper(to_hex(p_serial)), 6, '0'),
                  lpad(upper(to_hex(p_product_type)), 4, '0'))
$$;

CREATE OR REPLACE FUNCTION vrax_check_number(p_product_type integer, p_serial integer) RETURNS void
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF p_product_type IS NULL OR p_product_type NOT BETWEEN 0 AND 65535 THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001',
            MESSAGE = format('product type %s is not one of 0000 to FFFF', p_product_type);
    END IF;
    IF p_serial IS NULL OR p_serial NOT BETWEEN 0 AND 16777215 THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001',
            MESSAGE = format('serial number %s is not one of 000000 to FFFFFF', p_serial);
    END IF;
END
$$;

CREATE OR REPLACE FUNCTION vrax_open_station(p_host text, p_process bigint) RETURNS void
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    INSERT INTO station_opens (time, role, host, process)
    VALUES (now(), session_user, left(p_host, 255), p_process)
$$;

-- The product type's counter of serial numbers, a sequence made once under the product type's
-- lock at the highest number handed out or written; its name.
CREATE OR REPLACE FUNCTION vrax_counter(p_product_type integer) RETURNS text
LANGUAGE plpgsql SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    -- In the owner's schema: the functions' search path starts with the catalog's.
    v_name text := format('public.vrax_serials_%s', p_product_type);
    v_highest integer;
BEGIN
    IF to_regclass(v_name) IS NULL THEN
        PERFORM vrax_lock_product_type(p_product_type);
        IF to_regclass(v_name) IS NULL THEN
            EXECUTE format('CREATE SEQUENCE %s MINVALUE 0 START 1', v_name);
            SELECT greatest(vrax_highest(p_product_type),
                            (SELECT max(serial) FROM records
                              WHERE operation = 'write' AND product_type IS NULL))
              INTO v_highest;
            IF v_highest IS NOT NULL THEN
                PERFORM setval(v_name::regclass, v_highest);
            END IF;
        END IF;
    END IF;
    RETURN v_name;
END
$$;

-- What a claim or a floor puts above the counter's place moves the counter past it.
CREATE OR REPLACE FUNCTION vrax_counter_past(p_product_type integer, p_serial integer)
RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_name text := vrax_counter(p_product_type);
    v_last bigint;
BEGIN
    EXECUTE format('SELECT last_value FROM %s', v_name) INTO v_last;
    IF v_last < p_serial THEN
        PERFORM setval(v_name::regclass, p_serial);
    END IF;
END
$$;

CREATE OR REPLACE FUNCTION vrax_reserve(p_product_type integer, p_first integer, p_host text,
                             p_process bigint, p_start text, p_station text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_counter text := vrax_counter(p_product_type);
    v_serial bigint;
BEGIN
    PERFORM vrax_check_number(p_product_type, p_first);
    PERFORM vrax_refuse_while_restored();
    -- Numbers come from the product type's counter, which no reservation waits on: one commit
    -- never waits for another's flush. A number the counter gives that is taken already (a
    -- claim, a jump to a station's first number) is passed over; the serial numbers' key
    -- keeps any number from two reservations.
    LOOP
        v_serial := nextval(v_counter::regclass);
        IF v_serial < p_first THEN
            PERFORM setval(v_counter::regclass, p_first);
            v_serial := p_first;
        END IF;
        IF v_serial > 16777215 THEN
            RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
                'no serial number left for product type %s: the next one would not fit 24 bits (FFFFFF)',
                lpad(upper(to_hex(p_product_type)), 4, '0'));
        END IF;
        INSERT INTO serials (product_type, serial, state, time, host, process, process_start,
                             station, role)
        VALUES (p_product_type, v_serial, 'reserved', vrax_now(), left(p_host, 255), p_process,
                left(p_start, 255), nullif(left(p_station, 64), ''), session_user)
        ON CONFLICT (product_type, serial) DO NOTHING;
        IF FOUND THEN
            RETURN v_serial;
        END IF;
    END LOOP;
END
$$;

CREATE OR REPLACE FUNCTION vrax_claim(p_product_type integer, p_serial integer, p_host text,
                           p_process bigint, p_start text, p_station text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_number text := vrax_number(p_product_type, p_serial);
    v_nothing text := '; nothing was written. Set "SN" to a serial number not yet stamped.';
    v_pass record;
    v_held record;
BEGIN
    PERFORM vrax_check_number(p_product_type, p_serial);
    PERFORM vrax_refuse_while_restored();
    PERFORM vrax_lock_product_type(p_product_type);
    SELECT time, factory, line, station, host, path INTO v_pass FROM records
     WHERE operation = 'write' AND verdict = 'Write Pass' AND serial = p_serial
       AND (product_type = p_product_type OR product_type IS NULL)
     ORDER BY seq LIMIT 1;
    IF FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s is already stamped: Write Pass on %s at station %s-%s-%s (host %s, %s)%s',
            v_number, v_pass.time, v_pass.factory, v_pass.line, v_pass.station, v_pass.host,
            v_pass.path, v_nothing);
    END IF;
    SELECT state, time, host, process INTO v_held FROM serials
     WHERE product_type = p_product_type AND serial = p_serial;
    IF FOUND AND v_held.state IN ('stamped', 'lost') THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s is already stamped (settled so on %s%s)%s', v_number, v_held.time,
            CASE WHEN v_held.state = 'lost' THEN ', its record lost' ELSE '' END, v_nothing);
    ELSIF FOUND AND v_held.state = 'unknown' THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s may already be on a mouse: its write ended without a record (process %s on '
            'host %s, reserved %s)%s', v_number, v_held.process, v_held.host, v_held.time,
            v_nothing);
    ELSIF FOUND AND v_held.state = 'reserved' THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s is reserved by another write (process %s on host %s since %s)%s', v_number,
            v_held.process, v_held.host, v_held.time, v_nothing);
    END IF;
    INSERT INTO serials (product_type, serial, state, time, host, process, process_start,
                         station, role)
    VALUES (p_product_type, p_serial, 'reserved', vrax_now(), left(p_host, 255), p_process,
            left(p_start, 255), nullif(left(p_station, 64), ''), session_user)
    ON CONFLICT (product_type, serial) DO UPDATE SET state = 'reserved', time = excluded.time,
        host = excluded.host, process = excluded.process,
        process_start = excluded.process_start, station = excluded.station,
        role = excluded.role
        WHERE serials.state = 'released';
    -- A reservation took it meanwhile: reservations do not wait on the product type's lock.
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s is reserved by another write%s', v_number, v_nothing);
    END IF;
    PERFORM vrax_counter_past(p_product_type, p_serial);
END
$$;

-- Only the role that holds a reservation settles it; a number of unknown outcome is never
-- released.
CREATE OR REPLACE FUNCTION vrax_settle(p_product_type integer, p_serial integer, p_stamped boolean)
RETURNS void
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    UPDATE serials SET state = CASE WHEN p_stamped THEN 'stamped' ELSE 'released' END
     WHERE product_type = p_product_type AND serial = p_serial
       AND (role = session_user OR role IS NULL)
       AND (state = 'reserved' OR (p_stamped AND state = 'unknown'))
$$;

CREATE OR REPLACE FUNCTION vrax_settle_abandoned(p_product_type integer, p_serial integer) RETURNS void
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    UPDATE serials SET state = CASE WHEN EXISTS (
            SELECT 1 FROM records WHERE operation = 'write' AND verdict = 'Write Pass'
               AND serial = p_serial
               AND (product_type = p_product_type OR product_type IS NULL))
        THEN 'stamped' ELSE 'unknown' END
     WHERE product_type = p_product_type AND serial = p_serial AND state = 'reserved'
       AND (role = session_user OR role IS NULL)
$$;

-- A record comes with the role that sent it and the server's time (the station's own is kept
-- beside it: a station's clock may be years off); a station number belongs to
-- the first role that records under it; a write's serial number must be one its role holds, so
-- no record can push the numbers handed out past FFFFFF.
CREATE OR REPLACE FUNCTION vrax_add_record(p_id text, p_time text, p_operation text, p_factory integer,
                                p_line text, p_station integer, p_host text, p_ic_type text,
                                p_vid integer, p_pid integer, p_path text, p_image_sha256 text,
                                p_image_file text, p_format text, p_serial integer,
                                p_verdict text, p_duration_ms bigint, p_error text,
                                p_product_type integer) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_owner text;
BEGIN
    IF p_id IS NULL OR length(p_id) NOT BETWEEN 1 AND 64
       OR p_time IS NULL OR p_time !~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?Z$'
       OR p_operation IS NULL OR p_operation !~ '^[a-z-]{1,32}$'
       OR p_line IS NULL OR length(p_line) <> 1 OR p_factory IS NULL OR p_station IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            'a record needs an id, a UTC time, an operation and its station (got %s, %s, %s, %s-%s-%s)',
            p_id, p_time, p_operation, p_factory, p_line, p_station);
    END IF;
    INSERT INTO station_roles VALUES (p_factory, p_line, p_station, session_user)
        ON CONFLICT DO NOTHING;
    SELECT role INTO v_owner FROM station_roles
     WHERE factory = p_factory AND line = p_line AND station = p_station;
    IF v_owner <> session_user THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            'station %s-%s-%s records as role %s, not %s', p_factory, p_line, p_station,
            v_owner, session_user);
    END IF;
    IF p_serial IS NOT NULL THEN
        PERFORM vrax_check_number(coalesce(p_product_type, 0), p_serial);
    END IF;
    IF p_operation = 'write' AND p_serial IS NOT NULL AND NOT EXISTS (
            SELECT 1 FROM serials WHERE product_type = p_product_type AND serial = p_serial
               AND (role = session_user OR role IS NULL)) THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            '%s was not reserved by role %s: its write cannot be recorded',
            vrax_number(coalesce(p_product_type, 0), p_serial), session_user);
    END IF;
    INSERT INTO records (id, time, operation, factory, line, station, host, ic_type, vid, pid,
                         path, image_sha256, image_file, format, serial, verdict, duration_ms,
                         error, product_type, role, stored, station_time)
    VALUES (p_id, vrax_now(), p_operation, p_factory, p_line, p_station, p_host, p_ic_type,
            p_vid, p_pid, p_path, p_image_sha256, p_image_file, p_format, p_serial, p_verdict,
            p_duration_ms, p_error, p_product_type, session_user, now(), p_time)
    ON CONFLICT (id) DO NOTHING;
END
$$;

-- The approver is the role that approves, the time the server's; approved twice, the first
-- approval stands.
CREATE OR REPLACE FUNCTION vrax_approve(p_product_type integer, p_image_sha256 text, p_image_file text)
RETURNS TABLE (product_type integer, image_sha256 text, image_file text, approver text,
               "time" text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
#variable_conflict use_column
BEGIN
    IF p_product_type IS NULL OR p_product_type NOT BETWEEN 0 AND 65535
       OR p_image_sha256 IS NULL OR p_image_sha256 !~ '^[0-9a-f]{64}$'
       OR p_image_file IS NULL OR length(p_image_file) NOT BETWEEN 1 AND 4096 THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            'an approval needs a product type, an image''s SHA-256 and its file (got %s, %s)',
            p_product_type, p_image_sha256);
    END IF;
    INSERT INTO approvals AS a (product_type, image_sha256, image_file, approver, role, time)
    VALUES (p_product_type, p_image_sha256, p_image_file, session_user, session_user, vrax_now())
    ON CONFLICT ON CONSTRAINT approvals_product_type_image_sha256_key DO NOTHING;
    RETURN QUERY SELECT a.product_type, a.image_sha256, a.image_file, a.approver, a.time
                   FROM approvals a
                  WHERE a.product_type = p_product_type AND a.image_sha256 = p_image_sha256;
END
$$;

-- The highest number of the product type handed out, written or put out of reach after a
-- restore: what a station's memory of the line is held against.
CREATE OR REPLACE FUNCTION vrax_highest(p_product_type integer) RETURNS integer
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    SELECT greatest((SELECT max(serial) FROM serials WHERE product_type = p_product_type),
                    (SELECT max(serial) FROM records
                      WHERE operation = 'write' AND product_type = p_product_type),
                    (SELECT floor FROM serial_floors WHERE product_type = p_product_type))
$$;

CREATE OR REPLACE FUNCTION vrax_refuse_while_restored() RETURNS void
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_found record;
BEGIN
    SELECT product_type, remembered, server_high, role, host, time INTO v_found
      FROM line_restores WHERE acknowledged IS NULL ORDER BY seq LIMIT 1;
    IF FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'VX003', MESSAGE = format(
            'the line database went back in time (restored from a backup?): on %s a station of '
            'role %s (host %s) remembered %s, where the server knew up to %s. No serial number '
            'is handed out until its owner acknowledges it: records --acknowledge-restore as '
            'vrax_owner; nothing was written', v_found.time, v_found.role, v_found.host,
            vrax_number(v_found.product_type, v_found.remembered),
            coalesce(lpad(upper(to_hex(v_found.server_high)), 6, '0'), 'none'));
    END IF;
END
$$;

-- A station's word that it saw the product type's numbers up to p_remembered on this server.
CREATE OR REPLACE FUNCTION vrax_report_restore(p_product_type integer, p_remembered integer,
                                               p_remembered_at text, p_host text,
                                               p_station text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
BEGIN
    PERFORM vrax_check_number(p_product_type, p_remembered);
    IF p_remembered_at IS NULL OR p_remembered_at !~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z$' THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = 'a restore needs the UTC time the '
            'number was seen taken';
    END IF;
    IF coalesce(vrax_highest(p_product_type), -1) >= p_remembered THEN
        RETURN;
    END IF;
    INSERT INTO line_restores (product_type, remembered, remembered_at, server_high, role, host,
                               station, time)
    SELECT p_product_type, p_remembered, p_remembered_at, vrax_highest(p_product_type),
           session_user, left(p_host, 255), left(p_station, 64), vrax_now()
     WHERE NOT EXISTS (SELECT 1 FROM line_restores
                        WHERE acknowledged IS NULL AND product_type = p_product_type
                          AND remembered >= p_remembered);
END
$$;

-- The owner's acknowledgement: every number a station remembered stays out of reach.
CREATE OR REPLACE FUNCTION vrax_acknowledge_restores()
RETURNS TABLE (product_type integer, remembered integer, server_high integer, role text,
               host text, "time" text)
LANGUAGE plpgsql SET search_path = pg_catalog, public, pg_temp AS $$
#variable_conflict use_column
BEGIN
    INSERT INTO serial_floors AS f (product_type, floor)
    SELECT r.product_type, max(r.remembered) FROM line_restores r
     WHERE r.acknowledged IS NULL GROUP BY 1
    ON CONFLICT (product_type) DO UPDATE SET floor = greatest(f.floor, excluded.floor);
    PERFORM vrax_counter_past(f.product_type, f.floor) FROM serial_floors f;
    RETURN QUERY UPDATE line_restores r SET acknowledged = vrax_now()
                  WHERE r.acknowledged IS NULL
              RETURNING r.product_type, r.remembered, r.server_high, r.role, r.host, r.time;
END
$$;

-- A mouse that passed with the number and whose record could not be stored.
CREATE OR REPLACE FUNCTION vrax_settle_lost(p_product_type integer, p_serial integer)
RETURNS void
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    UPDATE serials SET state = 'lost'
     WHERE product_type = p_product_type AND serial = p_serial
       AND (role = session_user OR role IS NULL) AND state IN ('reserved', 'unknown')
$$;

-- A claim of a product type's number at a time, through a row no station may lock itself (any
-- login can take an advisory lock). No block catches the wait's end, so that the lock is the
-- transaction's own and vrax_lock_holders can name its holder.
CREATE OR REPLACE FUNCTION vrax_lock_product_type(p_product_type integer) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, public, pg_temp AS $$
BEGIN
    INSERT INTO product_type_locks VALUES (p_product_type) ON CONFLICT DO NOTHING;
    -- Within the station's own wait for the call: it then asks who held the lock.
    PERFORM set_config('lock_timeout', '8s', true);
    PERFORM 1 FROM product_type_locks WHERE product_type = p_product_type FOR UPDATE;
END
$$;

CREATE OR REPLACE FUNCTION vrax_lock_holders(p_product_type integer) RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
    SELECT coalesce(string_agg(format('role %s (server process %s, %s)', a.usename, a.pid,
                                      coalesce(nullif(a.application_name, ''),
                                               'no program named')), '; '),
                    'a session that has ended')
      FROM product_type_locks t
      JOIN pg_locks l ON l.locktype = 'transactionid' AND l.granted
                     AND l.mode = 'ExclusiveLock' AND l.transactionid = t.xmax
      JOIN pg_stat_activity a ON a.pid = l.pid
     WHERE t.product_type = p_product_type
$$;

-- A station proves before its first mouse that it may record under its station number.
CREATE OR REPLACE FUNCTION vrax_prove_station(p_factory integer, p_line text, p_station integer)
RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, public, pg_temp AS $$
DECLARE
    v_owner text;
BEGIN
    INSERT INTO station_roles VALUES (p_factory, p_line, p_station, session_user)
        ON CONFLICT DO NOTHING;
    SELECT role INTO v_owner FROM station_roles
     WHERE factory = p_factory AND line = p_line AND station = p_station;
    IF v_owner <> session_user THEN
        RAISE EXCEPTION USING ERRCODE = 'VX001', MESSAGE = format(
            'station %s-%s-%s records as role %s, not %s: set this station''s own number (no '
            'mouse was touched)', p_factory, p_line, p_station, v_owner, session_user);
    END IF;
END
$$;

REVOKE ALL ON FUNCTION vrax_now, vrax_number, vrax_check_number, vrax_open_station,
    vrax_reserve, vrax_claim, vrax_settle, vrax_settle_abandoned, vrax_add_record, vrax_approve,
    vrax_lock_product_type, vrax_prove_station, vrax_settle_lost, vrax_highest,
    vrax_refuse_while_restored, vrax_report_restore, vrax_acknowledge_restores, vrax_counter,
    vrax_counter_past, vrax_lock_holders FROM PUBLIC;
GRANT EXECUTE ON FUNCTION vrax_open_station, vrax_reserve, vrax_claim, vrax_settle,
    vrax_settle_abandoned, vrax_add_record, vrax_prove_station, vrax_settle_lost, vrax_highest,
    vrax_report_restore, vrax_lock_holders TO vrax_station;
GRANT EXECUTE ON FUNCTION vrax_approve TO vrax_approver;
)";

constexpr const char* RecordCounts = R"(
-- The highest number written without a product type, one step down its own index.
CREATE INDEX records_untyped_writes ON records(serial)
    WHERE operation = 'write' AND product_type IS NULL;
-- What the duplicate check and the summaries ask, kept as records arrive, so that each answer
-- costs what it holds: the passes per serial number and product type (-1: none), and the
-- writes per UTC hour, station and IC type.
CREATE TABLE passed_serials (
    serial integer NOT NULL,
    product_type integer NOT NULL,
    passes bigint NOT NULL,
    last text NOT NULL,
    repeated boolean NOT NULL DEFAULT false,
    PRIMARY KEY (serial, product_type));
CREATE INDEX passed_serials_repeated ON passed_serials(serial) WHERE repeated;
CREATE TABLE write_tallies (
    hour text NOT NULL,
    factory integer NOT NULL, line text NOT NULL, station integer NOT NULL,
    ic_type text NOT NULL,
    passes bigint NOT NULL, fails bigint NOT NULL,
    first text NOT NULL, last text NOT NULL,
    PRIMARY KEY (hour, factory, line, station, ic_type));
GRANT SELECT ON passed_serials, write_tallies TO vrax_station, vrax_approver;

CREATE FUNCTION vrax_count_records() RETURNS trigger
LANGUAGE plpgsql SET search_path = pg_catalog, public, pg_temp AS $$
BEGIN
    INSERT INTO write_tallies AS t
    SELECT substr(time, 1, 13), coalesce(factory, 0), coalesce(line, ''), coalesce(station, 0),
           coalesce(ic_type, ''), count(*) FILTER (WHERE verdict = 'Write Pass'),
           count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass'), min(time), max(time)
      FROM inserted WHERE operation = 'write' GROUP BY 1, 2, 3, 4, 5
    ON CONFLICT (hour, factory, line, station, ic_type) DO UPDATE
       SET passes = t.passes + excluded.passes, fails = t.fails + excluded.fails,
           first = least(t.first, excluded.first), last = greatest(t.last, excluded.last);
    INSERT INTO passed_serials AS p (serial, product_type, passes, last)
    SELECT serial, coalesce(product_type, -1), count(*), max(time) FROM inserted
     WHERE operation = 'write' AND verdict = 'Write Pass' AND serial IS NOT NULL GROUP BY 1, 2
    ON CONFLICT (serial, product_type) DO UPDATE
       SET passes = p.passes + excluded.passes, last = greatest(p.last, excluded.last);
    -- Twice for one product type, or once without one beside any other pass. Stations record
    -- no pass without a product type, so two of those never race.
    UPDATE passed_serials p SET repeated = true
      FROM (SELECT q.serial FROM passed_serials q
             WHERE q.serial IN (SELECT serial FROM inserted WHERE operation = 'write'
                                   AND verdict = 'Write Pass' AND serial IS NOT NULL)
             GROUP BY q.serial
            HAVING max(q.passes) > 1 OR (bool_or(q.product_type = -1) AND sum(q.passes) > 1)) r
     WHERE p.serial = r.serial AND NOT p.repeated;
    RETURN NULL;
END
$$;
CREATE TRIGGER records_counted AFTER INSERT ON records REFERENCING NEW TABLE AS inserted
    FOR EACH STATEMENT EXECUTE FUNCTION vrax_count_records();
-- What earlier versions stored, counted once.
INSERT INTO write_tallies
SELECT substr(time, 1, 13), coalesce(factory, 0), coalesce(line, ''), coalesce(station, 0),
       coalesce(ic_type, ''), count(*) FILTER (WHERE verdict = 'Write Pass'),
       count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass'), min(time), max(time)
  FROM records WHERE operation = 'write' GROUP BY 1, 2, 3, 4, 5;
INSERT INTO passed_serials (serial, product_type, passes, last)
SELECT serial, coalesce(product_type, -1), count(*), max(time) FROM records
 WHERE operation = 'write' AND verdict = 'Write Pass' AND serial IS NOT NULL GROUP BY 1, 2;
UPDATE passed_serials p SET repeated = true
  FROM (SELECT serial FROM passed_serials GROUP BY serial
        HAVING max(passes) > 1 OR (bool_or(product_type = -1) AND sum(passes) > 1)) r
 WHERE p.serial = r.serial;
)";

constexpr const char* RecordColumns =
    "time, operation, factory, line, station, host, ic_type, vid, pid, path, image_sha256, "
    "image_file, format, serial, verdict, duration_ms, error, product_type, id";

constexpr const char* PassWhere = "operation = 'write' AND verdict = 'Write Pass'";

// The writes at or after $1 within its UTC hour, through the time's index: the later hours'
// are counted in write_tallies.
constexpr const char* SinceHourWhere =
    "$1 <> '' AND operation = 'write' AND time >= $1 AND time < substr($1, 1, 13) || ';'";

// What the owner's functions raise when they refuse a call.
constexpr const char* RefusalState = "VX001";

// libpq's messages end in a new line and may run over several.
std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Encrypted to a server whose certificate names the host it was asked for, or a local socket
// that never leaves this PC.
bool Protected(PGconn* connection) {
    const char* host = PQhost(connection);
    if (host != nullptr && (host[0] == '/' || host[0] == '@')) {
        return true;
    }
    if (PQsslInUse(connection) == 0) {
        return false;
    }
    bool verified = false;
    PQconninfoOption* options = PQconninfo(connection);
    for (PQconninfoOption* option = options; option && option->keyword != nullptr; ++option) {
        if (std::string(option->keyword) == "sslmode") {
            verified = option->val != nullptr && std::string(option->val) == "verify-full";
        }
    }
    PQconninfoFree(options);
    return verified;
}

// Failures inside a call, before the store adds its server and what it was doing.
struct ServerLost {
    std::string message;
};
struct ServerRefused {
    ServerRefused(std::string text, std::string code = {})
        : message(std::move(text)), state(std::move(code)) {}
    std::string message;
    std::string state; // the server's SQLSTATE, when it gave one
};

// Data exceptions and broken table rules: the refusal is for what was sent, not for the station.
bool RefusedForContent(const std::string& state) {
    return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0;
}

// A full disk, no memory or connections left, a shutdown under way, an I/O error: the server
// cannot store anything now, whatever it is sent, and will again later.
bool CannotStoreNow(const std::string& state) {
    return state.rfind("53", 0) == 0 || state.rfind("57P", 0) == 0 || state.rfind("58", 0) == 0;
}

std::map<std::string, std::string> OptionsGiven(PQconninfoOption* options) {
    std::map<std::string, std::string> given;
    for (PQconninfoOption* option = options; option && option->keyword != nullptr; ++option) {
        if (option->val != nullptr && *option->val != '\0') {
            given[option->keyword] = option->val;
        }
    }
    PQconninfoFree(options);
    return given;
}

// "host:port/database". Of a list of hosts the first, whichever answered: the key stays when
// the line fails over.
std::string ServerKey(std::map<std::string, std::string>& given) {
    const auto first = [](const std::string& list) { return list.substr(0, list.find(',')); };
    const std::string host = first(given.count("host") ? given["host"] : given["hostaddr"]);
    const std::string port = first(given["port"]);
    return host + ":" + (port.empty() ? "5432" : port) + "/" + given["dbname"];
}

bool WaitReadable(PGconn* connection, int milliseconds) {
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(PQsocket(connection));
    entry.events = POLLRDNORM;
    return WSAPoll(&entry, 1, milliseconds) > 0;
#else
    pollfd entry{};
    entry.fd = PQsocket(connection);
    entry.events = POLLIN;
    return poll(&entry, 1, milliseconds) > 0;
#endif
}

class Result {
public:
    explicit Result(PGresult* result) : result_(result, PQclear) {}
    int Rows() const { return PQntuples(result_.get()); }
    bool Null(int row, int column) const { return PQgetisnull(result_.get(), row, column) == 1; }
    std::string Text(int row, int column) const { return PQgetvalue(result_.get(), row, column); }
    long long Integer(int row, int column) const {
        return Null(row, column) ? 0 : std::stoll(Text(row, column));
    }
    std::optional<int> OptionalInteger(int row, int column) const {
        if (Null(row, column)) {
            return std::nullopt;
        }
        return static_cast<int>(std::stoll(Text(row, column)));
    }

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

// Query parameters as text, as libpq takes them; nullopt is SQL's NULL.
class Parameters {
public:
    Parameters& Add(const std::string& text) {
        values_.emplace_back(text);
        return *this;
    }
    Parameters& Add(long long value) { return Add(std::to_string(value)); }
    Parameters& Add(int value) { return Add(std::to_string(value)); }
    Parameters& Add(const std::optional<int>& value) {
        if (value) {
            return Add(*value);
        }
        values_.emplace_back(std::nullopt);
        return *this;
    }
    std::vector<const char*> Pointers() const {
        std::vector<const char*> pointers;
        for (const auto& value : values_) {
            pointers.push_back(value ? value->c_str() : nullptr);
        }
        return pointers;
    }

private:
    std::vector<std::optional<std::string>> values_;
};

// Whether the owner's tables hold this one: a report may read tables of an earlier version.
// Generic: the session's class is the store's own.
const auto HasTable = [](auto& session, const std::string& table) {
    return session.Run("SELECT to_regclass('public." + table + "') IS NOT NULL").Text(0, 0) == "t";
};

ProductionRecord RecordOfRow(const Result& rows, int row) {
    ProductionRecord record;
    record.time = rows.Text(row, 0);
    record.operation = rows.Text(row, 1);
    record.factory = static_cast<int>(rows.Integer(row, 2));
    const std::string line = rows.Text(row, 3);
    record.line = line.empty() ? '?' : line[0];
    record.station = static_cast<int>(rows.Integer(row, 4));
    record.host = rows.Text(row, 5);
    record.icType = rows.Text(row, 6);
    record.vendorId = static_cast<int>(rows.Integer(row, 7));
    record.productId = static_cast<int>(rows.Integer(row, 8));
    record.devicePath = rows.Text(row, 9);
    record.imageSha256 = rows.Text(row, 10);
    record.imageFile = rows.Text(row, 11);
    record.format = rows.Text(row, 12);
    record.serialNumber = rows.OptionalInteger(row, 13);
    record.verdict = rows.Text(row, 14);
    record.durationMs = rows.Integer(row, 15);
    record.error = rows.Text(row, 16);
    record.productType = rows.OptionalInteger(row, 17);
    record.id = rows.Text(row, 18);
    return record;
}

} // namespace

// One call's use of the connection: its queries wait at most until the call's deadline.
class PostgresProductionRecords::Session {
public:
    Session(PGconn* connection, Steady::time_point deadline, const CallGate& gate)
        : connection_(connection), deadline_(deadline), gate_(gate) {}

    Result Run(const std::string& sql, const Parameters& parameters = {}) {
        const std::vector<const char*> values = parameters.Pointers();
        // Without parameters several statements may go at once (the tables' creation).
        const int sent =
            values.empty()
                ? PQsendQuery(connection_, sql.c_str())
                : PQsendQueryParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                    nullptr, values.data(), nullptr, nullptr, 0);
        if (!sent) {
            throw ServerLost{Trimmed(PQerrorMessage(connection_))};
        }
        while (PQisBusy(connection_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min(deadline_, gate_.Stop()) - Steady::now());
            if (left.count() <= 0) {
                throw ServerLost{"the server gave no answer in time"};
            }
            if (WaitReadable(connection_,
                             static_cast<int>(std::min<long long>(left.count(), 50))) &&
                !PQconsumeInput(connection_)) {
                throw ServerLost{Trimmed(PQerrorMessage(connection_))};
            }
        }
        std::optional<Result> last;
        std::string error;
        std::string state;
        while (PGresult* result = PQgetResult(connection_)) {
            const ExecStatusType status = PQresultStatus(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && error.empty()) {
                const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
                state = code ? code : "";
                // The owner's functions refuse in words meant for the operator.
                error = Trimmed(state.rfind("VX", 0) == 0
                                    ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)
                                    : PQresultErrorMessage(result));
            }
            last.emplace(result);
        }
        if (PQstatus(connection_) != CONNECTION_OK) {
            throw ServerLost{error.empty() ? Trimmed(PQerrorMessage(connection_)) : error};
        }
        if (!error.empty() || !last) {
            throw ServerRefused{error.empty() ? "no result" : error, state};
        }
        return std::move(*last);
    }

    void AllowUpTo(Steady::duration wait) { deadline_ = Steady::now() + wait; }

    // Commits unless body throws; then rolls back, when the connection is still there.
    void Transaction(const std::function<void()>& body) {
        Run("BEGIN");
        try {
            body();
        } catch (const ServerRefused&) {
            // A lost server rolls back by itself once the connection is dropped.
            Run("ROLLBACK");
            throw;
        }
        Run("COMMIT");
    }

private:
    PGconn* connection_;
    Steady::time_point deadline_;
    const CallGate& gate_;
};

PostgresProductionRecords::PostgresProductionRecords(const std::string& address,
                                                     [[maybe_unused]] Access access,
                                                     std::chrono::milliseconds waitLimit,
                                                     Notices notices)
    : address_(ShownAddress(address)), self_(ThisProcess()), waitLimit_(waitLimit),
      notices_(std::move(notices)) {
    if (!notices_) {
        notices_ = [](LineDatabaseNotice, const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
        };
    }
    const std::string name = "Line database \"" + address_ + "\": ";
    const std::string text = LineDatabaseConnectionText(address);
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
    if (options == nullptr) {
        const std::string cause =
            error ? WithoutAddressSecrets(Trimmed(error), text) : "out of memory";
        PQfreemem(error);
        throw RecordsError(name + "not a valid address: " + cause);
    }
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val != nullptr && *option->val != '\0') {
            settings_[option->keyword] = option->val;
        }
    }
    PQconninfoFree(options);
    // The address shows up in the process list. One that only may hold a password (a '/' in
    // the user's part) is refused too: libpq's words about it could show the password.
    if (settings_.count("password") != 0 || address_ != address) {
        throw RecordsError(name + "the address holds a password: keep it in the password file "
                                  "(PGPASSFILE) or a service file (PGSERVICEFILE) instead, never "
                                  "on a command line");
    }
    try {
        Call("connect", [&](Session& session) { CreateOrUpgrade(session); });
        // As libpq resolved the address: service file, environment and defaults included.
        std::map<std::string, std::string> used = OptionsGiven(PQconninfo(connection_));
        used.emplace("host", PQhost(connection_));
        used["dbname"] = PQdb(connection_);
        addressKey_ = ServerKey(used);
        server_ = addressKey_;
        Call("connect", [&](Session& session) {
            if (!HasTable(session, "line_identity")) {
                return;
            }
            const Result identity = session.Run("SELECT id FROM line_identity");
            if (identity.Rows() == 1) {
                server_ = "line " + identity.Text(0, 0);
            }
        });
    } catch (...) {
        // No destructor runs for an object whose constructor threw.
        PQfinish(connection_);
        connection_ = nullptr;
        throw;
    }
}

PostgresProductionRecords::~PostgresProductionRecords() {
    PQfinish(connection_);
}

void PostgresProductionRecords::Connect(Steady::time_point deadline) {
    const std::string name = "Line database \"" + address_ + "\": ";
    if (Steady::now() < retryAfter_) {
        throw RecordsUnreachable(name + "cannot connect to the server (" + lastFailure_ + ")");
    }
    PQfinish(connection_);
    connection_ = nullptr;
    std::map<std::string, std::string> settings = settings_;
    const auto left =
        std::chrono::duration_cast<std::chrono::seconds>(deadline - Steady::now()).count();
    // libpq takes whole seconds and treats 1 as 2.
    settings["connect_timeout"] = std::to_string(std::max<long long>(2, left));
    settings.emplace("application_name", "vrax-bin-writer");
    // A server that stops answering (a cable pulled) is noticed within the wait limit; the
    // server drops a station stuck inside a transaction.
    settings.emplace("keepalives_idle", "5");
    settings.emplace("keepalives_interval", "2");
    settings.emplace("keepalives_count", "3");
    settings.emplace("tcp_user_timeout", std::to_string(waitLimit_.count()));
    settings.emplace("options", "-c lock_timeout=" + std::to_string(waitLimit_.count()) +
                                    " -c idle_in_transaction_session_timeout=60000");
    std::vector<const char*> keywords;
    std::vector<const char*> values;
    for (const auto& [keyword, value] : settings) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 0);
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        lastFailure_ = connection ? Trimmed(PQerrorMessage(connection)) : "out of memory";
        if (connection != nullptr && PQconnectionNeedsPassword(connection)) {
            lastFailure_ += "; the password file (PGPASSFILE, else ~/.pgpass or "
                            "%APPDATA%\\postgresql\\pgpass.conf) holds no password for this role";
        }
        PQfinish(connection);
        retryAfter_ = Steady::now() + std::chrono::seconds(2);
        throw RecordsUnreachable(name + "cannot connect to the server (" + lastFailure_ + ")");
    }
    connection_ = connection;
    PQsetNoticeProcessor(connection_, &PostgresProductionRecords::ServerNotice, this);
    if (!toldClock_) {
        TellClockOffset();
    }
    if (!toldUnprotected_ && !Protected(connection_)) {
        toldUnprotected_ = true;
        notices_(LineDatabaseNotice::Unprotected,
                 name + "the connection is not encrypted with a verified server: anyone on the "
                        "network between here and the server can read or change the records. "
                        "Give the address sslmode=verify-full and the server's CA (sslrootcert).");
    }
}

// Records keep the server's time; a station whose own clock is off says so once, as it may
// also mislead the operator's reading of the window and the logs.
void PostgresProductionRecords::TellClockOffset() {
    const auto asked = std::chrono::system_clock::now();
    PGresult* result = PQexec(connection_, "SELECT extract(epoch FROM clock_timestamp())");
    const auto answered = std::chrono::system_clock::now();
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
        const double server = std::strtod(PQgetvalue(result, 0, 0), nullptr);
        const double here =
            std::chrono::duration<double>((asked + (answered - asked) / 2).time_since_epoch())
                .count();
        const double off = here - server;
        if (std::abs(off) > 60) {
            toldClock_ = true;
            const double seconds = std::abs(off);
            char amount[32];
            if (seconds >= 2 * 86400) {
                std::snprintf(amount, sizeof amount, "%.0f days", seconds / 86400);
            } else if (seconds >= 2 * 3600) {
                std::snprintf(amount, sizeof amount, "%.1f h", seconds / 3600);
            } else {
                std::snprintf(amount, sizeof amount, "%.0f min", seconds / 60);
            }
            notices_(LineDatabaseNotice::Clock,
                     "Line database \"" + address_ + "\": this PC's clock is " + amount +
                         (off > 0 ? " ahead of" : " behind") +
                         " the server's; the records keep the server's time. Set this PC's "
                         "clock right.");
        }
    }
    PQclear(result);
}

void PostgresProductionRecords::ServerNotice(void* self, const char* message) {
    auto& records = *static_cast<PostgresProductionRecords*>(self);
    records.notices_(LineDatabaseNotice::Server,
                     "Line database \"" + records.address_ + "\": " + Trimmed(message));
}

void PostgresProductionRecords::Call(const char* what, const std::function<void(Session&)>& body) {
    const auto start = Steady::now();
    const std::string name = "Line database \"" + address_ + "\": ";
    const CallGate::Held held = gate_.Enter(start + waitLimit_, [&](Steady::time_point) {
        throw RecordsUnreachable(name + "cannot " + what + ": the server gave no answer in time");
    });
    const Steady::time_point deadline = start + waitLimit_;
    if (connection_ == nullptr || PQstatus(connection_) != CONNECTION_OK) {
        Connect(deadline);
    }
    Session session(connection_, deadline, gate_);
    try {
        body(session);
    } catch (const ServerLost& lost) {
        // The connection is dropped: the server rolls back what it held, and the next call
        // connects again.
        PQfinish(connection_);
        connection_ = nullptr;
        // The calls queued behind this one go to the outbox at once instead of each waiting
        // out a server that does not answer.
        lastFailure_ = lost.message;
        retryAfter_ = Steady::now() + std::chrono::seconds(2);
        throw RecordsUnreachable(name + "cannot " + what + ": the server was lost (" +
                                 lost.message + ")");
    } catch (const ServerRefused& refused) {
        if (CannotStoreNow(refused.state)) {
            throw RecordsUnreachable(name + "cannot " + what +
                                     ": the server cannot store it now (" + refused.message + ")");
        }
        // The owner's checks refuse a call for what it holds (a number not reserved, a station
        // number of another role): sent again, it would be refused again.
        if (RefusedForContent(refused.state) || refused.state == RefusalState) {
            throw RecordRefused(name + "cannot " + what + ": " + refused.message);
        }
        throw RecordsError(name + "cannot " + what + ": " + refused.message);
    }
}

std::string PostgresProductionRecords::ServerOfAddress(const std::string& address) {
    std::map<std::string, std::string> given =
        OptionsGiven(PQconninfoParse(LineDatabaseConnectionText(address).c_str(), nullptr));
    // What a service file or the environment would add is not known here.
    if ((given.count("host") == 0 && given.count("hostaddr") == 0) || given.count("dbname") == 0 ||
        given.count("service") != 0) {
        return {};
    }
    return ServerKey(given);
}

void PostgresProductionRecords::StopWaiting() {
    gate_.StopWaiting();
}

void PostgresProductionRecords::CreateOrUpgrade(Session& session) {
    const auto version = [&]() -> int {
        // Read from the catalog's table, not its cache: after the lock below, a cache may
        // not yet know the tables that another station just made.
        if (session
                .Run("SELECT count(*) FROM pg_catalog.pg_class WHERE relname = "
                     "'vrax_schema' AND relnamespace = 'public'::regnamespace")
                .Text(0, 0) == "0") {
            return 0;
        }
        const Result rows = session.Run("SELECT version FROM vrax_schema");
        if (rows.Rows() != 1) {
            throw ServerRefused{rows.Rows() == 0 ? "its schema version is missing"
                                                 : "it holds more than one schema version"};
        }
        return static_cast<int>(rows.Integer(0, 0));
    };
    const int found = version();
    if (found > SchemaVersion) {
        throw ServerRefused{"made by a newer program (schema version " + std::to_string(found) +
                            ")"};
    }
    if (found == SchemaVersion) {
        return;
    }
    session.Transaction([&] {
        // Two stations starting at once: the second waits here, then finds the tables made.
        session.Run("SELECT pg_advisory_xact_lock($1, $2)",
                    Parameters().Add(LockSpace).Add(SchemaLock));
        const int now = version();
        if (now == SchemaVersion) {
            return;
        }
        if (now == 0 &&
            session.Run("SELECT has_schema_privilege('public', 'CREATE')").Text(0, 0) != "t") {
            throw ServerRefused{"it has no tables yet, and this role may not make them: connect "
                                "once as the database's owner (vrax_owner) to create them"};
        }
        // Only the tables' owner may change them; the program of an older version keeps
        // working until it does, and this one waits for it.
        if (now > 0 && session.Run("SELECT pg_has_role(relowner, 'USAGE') FROM pg_catalog.pg_class "
                                   "WHERE oid = 'public.records'::regclass")
                               .Text(0, 0) != "t") {
            throw ServerRefused{"its tables are of an older version (" + std::to_string(now) +
                                "): look at it once as the database's owner (vrax_owner), e.g. "
                                "records --summary, to upgrade them"};
        }
        if (now == 0) {
            session.Run(CreateVersion1);
        }
        // Counting a big table's records once may take longer than a call.
        session.AllowUpTo(std::chrono::minutes(30));
        if (now <= 1) {
            session.Run(UpgradeTo2);
        }
        if (now <= 2) {
            session.Run(UpgradeTo3);
            session.Run(OwnersFunctions);
        }
        if (now <= 1) {
            session.Run(RecordCounts);
        }
    });
}

void PostgresProductionRecords::ProveWritable() {
    // A real insert committed: a role that may only read, or a server that cannot write,
    // refuses the station here.
    Call("write", [&](Session& session) {
        session.Run("SELECT vrax_open_station($1, $2)",
                    Parameters().Add(self_.host).Add(self_.process));
    });
}

void PostgresProductionRecords::ProveStation(int factory, char line, int station) {
    const std::string number =
        std::to_string(factory) + "-" + std::string(1, line) + "-" + std::to_string(station);
    {
        std::lock_guard lock(provenLock_);
        if (proven_.count(number) != 0) {
            return;
        }
    }
    const std::string what = "record as station " + number;
    Call(what.c_str(), [&](Session& session) {
        session.Run("SELECT vrax_prove_station($1, $2, $3)",
                    Parameters().Add(factory).Add(std::string(1, line)).Add(station));
    });
    std::lock_guard lock(provenLock_);
    proven_.insert(number);
}

namespace {

constexpr const char* RestoreColumns =
    "SELECT product_type, remembered, server_high, role, coalesce(host, '?'), time";

std::string RestoreLine(const Result& rows, int row) {
    const std::optional<int> known = rows.OptionalInteger(row, 2);
    const std::string high = known ? HexText(static_cast<unsigned>(*known), 6) : "none";
    return "Product type " + HexText(static_cast<unsigned>(rows.Integer(row, 0)), 4) + ": on " +
           rows.Text(row, 5) + " a station of role " + rows.Text(row, 3) + " (host " +
           rows.Text(row, 4) + ") remembered SN " +
           HexText(static_cast<unsigned>(rows.Integer(row, 1)), 6) +
           ", where the server knew up to " + high;
}

} // namespace

std::vector<std::string> PostgresProductionRecords::RestoreFindings() {
    std::vector<std::string> lines;
    Call("read", [&](Session& session) {
        if (!HasTable(session, "line_restores")) {
            return;
        }
        const Result rows =
            session.Run(std::string(RestoreColumns) +
                        " FROM line_restores WHERE acknowledged IS NULL ORDER BY seq");
        for (int row = 0; row < rows.Rows(); ++row) {
            lines.push_back(RestoreLine(rows, row));
        }
    });
    return lines;
}

std::vector<std::string> PostgresProductionRecords::AcknowledgeRestores() {
    std::vector<std::string> lines;
    Call("acknowledge the restore", [&](Session& session) {
        const Result rows =
            session.Run(std::string(RestoreColumns) + " FROM vrax_acknowledge_restores()");
        for (int row = 0; row < rows.Rows(); ++row) {
            lines.push_back(RestoreLine(rows, row));
        }
    });
    return lines;
}

std::vector<ProductionRecord> PostgresProductionRecords::PassesInRestoreGaps() {
    std::vector<ProductionRecord> records;
    Call("read", [&](Session& session) {
        if (!HasTable(session, "line_restores")) {
            return;
        }
        const Result rows = session.Run(
            std::string("SELECT ") + RecordColumns + " FROM records WHERE " + PassWhere +
            " AND EXISTS (SELECT 1 FROM line_restores x JOIN serials s ON s.product_type = "
            "x.product_type WHERE x.product_type = records.product_type AND s.serial = "
            "records.serial AND records.serial <= x.remembered AND s.time > x.remembered_at) "
            "ORDER BY serial, seq");
        for (int row = 0; row < rows.Rows(); ++row) {
            records.push_back(RecordOfRow(rows, row));
        }
    });
    return records;
}

int PostgresProductionRecords::HighestSerialNumber(int productType) {
    int highest = -1;
    Call("read", [&](Session& session) {
        highest = session.Run("SELECT vrax_highest($1)", Parameters().Add(productType))
                      .OptionalInteger(0, 0)
                      .value_or(-1);
    });
    return highest;
}

void PostgresProductionRecords::ReportRestore(int productType, int remembered,
                                              const std::string& rememberedAt) {
    Call("report the server gone back in time", [&](Session& session) {
        session.Run("SELECT vrax_report_restore($1, $2, $3, $4, $5)", Parameters()
                                                                          .Add(productType)
                                                                          .Add(remembered)
                                                                          .Add(rememberedAt)
                                                                          .Add(self_.host)
                                                                          .Add(self_.station));
    });
}

int PostgresProductionRecords::SettleAbandonedReservations() {
    int settled = 0;
    Call("settle abandoned reservations", [&](Session& session) {
        // This station's own, whose passes its outbox has sent by now; those of a version 1
        // program, which named no station, by this machine's name. Only this machine's
        // processes can be looked at.
        const Result rows = session.Run(
            "SELECT product_type, serial, host, process, process_start FROM serials WHERE "
            "state = 'reserved' AND (station = $1 OR (station IS NULL AND host = $2))",
            Parameters().Add(self_.station).Add(self_.host));
        for (int row = 0; row < rows.Rows(); ++row) {
            const ProcessIdentity holder{
                rows.Text(row, 2), rows.Integer(row, 3), rows.Text(row, 4), {}};
            if (!ProcessHasEnded(holder)) {
                continue;
            }
            // Without its pass the mouse may still have been written: never released.
            session.Run("SELECT vrax_settle_abandoned($1, $2)",
                        Parameters().Add(rows.Integer(row, 0)).Add(rows.Integer(row, 1)));
            ++settled;
        }
    });
    return settled;
}

void PostgresProductionRecords::Append(const ProductionRecord& record) {
    Call("append", [&](Session& session) {
        // A record sent again (after an answer that was lost) is stored once.
        session.Run("SELECT vrax_add_record($19, $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
                    "$12, $13, $14, $15, $16, $17, $18)",
                    Parameters()
                        .Add(record.time)
                        .Add(record.operation)
                        .Add(record.factory)
                        .Add(std::string(1, record.line))
                        .Add(record.station)
                        .Add(record.host)
                        .Add(record.icType)
                        .Add(record.vendorId)
                        .Add(record.productId)
                        .Add(record.devicePath)
                        .Add(record.imageSha256)
                        .Add(record.imageFile)
                        .Add(record.format)
                        .Add(record.serialNumber)
                        .Add(record.verdict)
                        .Add(record.durationMs)
                        .Add(record.error)
                        .Add(record.productType)
                        .Add(record.id.empty() ? NewRecordId() : record.id));
    });
}

std::vector<ProductionRecord> PostgresProductionRecords::Find(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(std::string("SELECT ") + RecordColumns +
                                            " FROM records WHERE time >= $1 AND ($2::integer IS "
                                            "NULL OR serial = $2) ORDER BY seq",
                                        Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            records.push_back(RecordOfRow(rows, row));
        }
    });
    return records;
}

std::vector<WriteTally> PostgresProductionRecords::SummarizeWrites(const RecordFilter& filter) {
    std::vector<WriteTally> tallies;
    Call("read", [&](Session& session) {
        // One serial number's through its index; otherwise the hours' counts, and the records
        // of the hour that since cuts.
        const Result rows = session.Run(
            filter.serialNumber
                ? "SELECT ic_type, substr(time, 1, 13) AS hour, "
                  "count(*) FILTER (WHERE verdict = 'Write Pass'), "
                  "count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass') "
                  "FROM records WHERE operation = 'write' AND time >= $1 AND serial = $2 "
                  "GROUP BY 1, 2 ORDER BY 1, 2"
                : std::string("SELECT ic_type, hour, sum(passes), sum(fails) FROM (SELECT "
                              "ic_type, hour, passes, fails FROM write_tallies WHERE hour > "
                              "substr($1, 1, 13) UNION ALL SELECT coalesce(ic_type, ''), "
                              "substr(time, 1, 13), count(*) FILTER (WHERE verdict = 'Write "
                              "Pass'), count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write "
                              "Pass') FROM records WHERE ") +
                      SinceHourWhere +
                      " AND $2::integer IS NULL GROUP BY 1, 2) w GROUP BY 1, 2 ORDER BY 1, 2",
            Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            tallies.push_back({rows.Text(row, 0), rows.Text(row, 1),
                               static_cast<long>(rows.Integer(row, 2)),
                               static_cast<long>(rows.Integer(row, 3))});
        }
    });
    return tallies;
}

std::vector<ProductionRecord>
PostgresProductionRecords::FindRepeatedPasses(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read", [&](Session& session) {
        // The numbers passed more than once are marked as the passes arrive.
        const std::string repeated =
            "SELECT serial FROM passed_serials WHERE repeated AND ($2::integer IS NULL OR "
            "serial = $2) GROUP BY serial HAVING max(last) >= $1";
        const Result rows =
            session.Run(std::string("SELECT ") + RecordColumns + " FROM records WHERE " +
                            PassWhere + " AND serial IN (" + repeated + ") ORDER BY serial, seq",
                        Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            records.push_back(RecordOfRow(rows, row));
        }
    });
    return records;
}

std::vector<Reservation> PostgresProductionRecords::FindReservations() {
    std::vector<Reservation> reservations;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT product_type, serial, time, host, process, state FROM serials WHERE state = "
            "'reserved' UNION ALL SELECT product_type, serial, time, host, process, state FROM "
            "serials WHERE state = 'unknown' UNION ALL SELECT product_type, serial, time, host, "
            "process, state FROM serials WHERE state = 'lost' ORDER BY 1, 2");
        for (int row = 0; row < rows.Rows(); ++row) {
            reservations.push_back({static_cast<int>(rows.Integer(row, 0)),
                                    static_cast<int>(rows.Integer(row, 1)), rows.Text(row, 2),
                                    rows.Text(row, 3), rows.Integer(row, 4),
                                    rows.Text(row, 5) != "reserved", rows.Text(row, 5) == "lost"});
        }
    });
    return reservations;
}

namespace {

// A product type's lock that stayed taken: the server ends the wait, then says who holds it.
// Generic: the session's class is the store's own.
const auto RunWithLockOf = [](auto& session, int productType, const char* sql,
                              const Parameters& parameters) -> Result {
    try {
        return session.Run(sql, parameters);
    } catch (const ServerRefused& refused) {
        if (refused.state != "55P03") {
            throw;
        }
        const std::string holders =
            session.Run("SELECT vrax_lock_holders($1)", Parameters().Add(productType)).Text(0, 0);
        throw ServerRefused{"waited 8 s for the lock on the serial numbers of product type " +
                                HexText(static_cast<unsigned>(productType), 4) + ", held by " +
                                holders,
                            refused.state};
    }
};

} // namespace

// The reservation's own time as the server stamped it: the statement's transaction's.
constexpr const char* TakenAt =
    "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";

int PostgresProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    return ReserveSerialNumber(productType, firstSerial, nullptr);
}

int PostgresProductionRecords::ReserveSerialNumber(int productType, int firstSerial,
                                                   std::string* takenAt) {
    long long serial = 0;
    Call("reserve a serial number", [&](Session& session) {
        const Result taken = RunWithLockOf(
            session, productType,
            (std::string("SELECT vrax_reserve($1, $2, $3, $4, $5, $6), ") + TakenAt).c_str(),
            Parameters()
                .Add(productType)
                .Add(firstSerial)
                .Add(self_.host)
                .Add(self_.process)
                .Add(self_.start)
                .Add(self_.station));
        serial = taken.Integer(0, 0);
        if (takenAt != nullptr) {
            *takenAt = taken.Text(0, 1);
        }
    });
    return static_cast<int>(serial);
}

void PostgresProductionRecords::ClaimSerialNumber(int productType, int serialNumber) {
    ClaimSerialNumber(productType, serialNumber, nullptr);
}

void PostgresProductionRecords::ClaimSerialNumber(int productType, int serialNumber,
                                                  std::string* takenAt) {
    Call("reserve a serial number", [&](Session& session) {
        const Result taken = RunWithLockOf(
            session, productType,
            (std::string("SELECT vrax_claim($1, $2, $3, $4, $5, $6), ") + TakenAt).c_str(),
            Parameters()
                .Add(productType)
                .Add(serialNumber)
                .Add(self_.host)
                .Add(self_.process)
                .Add(self_.start)
                .Add(self_.station));
        if (takenAt != nullptr) {
            *takenAt = taken.Text(0, 1);
        }
    });
}

void PostgresProductionRecords::SettleRecordLost(int productType, int serialNumber) {
    Call("settle a serial number", [&](Session& session) {
        session.Run("SELECT vrax_settle_lost($1, $2)",
                    Parameters().Add(productType).Add(serialNumber));
    });
}

void PostgresProductionRecords::SettleSerialNumber(int productType, int serialNumber,
                                                   bool stamped) {
    Call("settle a serial number", [&](Session& session) {
        session.Run(
            "SELECT vrax_settle($1, $2, $3)",
            Parameters().Add(productType).Add(serialNumber).Add(std::string(stamped ? "t" : "f")));
    });
}

ImageApproval PostgresProductionRecords::ApproveImage(const ImageApproval& approval) {
    ImageApproval stored;
    Call("approve an image", [&](Session& session) {
        // The approver and the time are the server's: the role and its clock.
        const Result rows =
            session.Run("SELECT * FROM vrax_approve($1, $2, $3)", Parameters()
                                                                      .Add(approval.productType)
                                                                      .Add(approval.imageSha256)
                                                                      .Add(approval.imageFile));
        stored = {static_cast<int>(rows.Integer(0, 0)), rows.Text(0, 1), rows.Text(0, 2),
                  rows.Text(0, 3), rows.Text(0, 4)};
    });
    return stored;
}

std::vector<ImageApproval>
PostgresProductionRecords::FindApprovals(std::optional<int> productType) {
    std::vector<ImageApproval> approvals;
    Call("read the approvals", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT product_type, image_sha256, image_file, approver, time FROM approvals "
            "WHERE $1::integer IS NULL OR product_type = $1 ORDER BY product_type, seq",
            Parameters().Add(productType));
        for (int row = 0; row < rows.Rows(); ++row) {
            approvals.push_back({static_cast<int>(rows.Integer(row, 0)), rows.Text(row, 1),
                                 rows.Text(row, 2), rows.Text(row, 3), rows.Text(row, 4)});
        }
    });
    return approvals;
}

std::vector<StationTally> PostgresProductionRecords::SummarizeStations(const RecordFilter& filter) {
    std::vector<StationTally> tallies;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(
            filter.serialNumber
                ? "SELECT factory, line, station, substr(time, 1, 13) AS hour, "
                  "count(*) FILTER (WHERE verdict = 'Write Pass'), "
                  "count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass'), min(time), "
                  "max(time) FROM records WHERE operation = 'write' AND time >= $1 AND "
                  "serial = $2 GROUP BY 1, 2, 3, 4 ORDER BY 1, 2, 3, 4"
                : std::string("SELECT factory, line, station, hour, sum(passes), sum(fails), "
                              "min(first), max(last) FROM (SELECT factory, line, station, hour, "
                              "passes, fails, first, last FROM write_tallies WHERE hour > "
                              "substr($1, 1, 13) UNION ALL SELECT coalesce(factory, 0), "
                              "coalesce(line, ''), coalesce(station, 0), substr(time, 1, 13), "
                              "count(*) FILTER (WHERE verdict = 'Write Pass'), count(*) FILTER "
                              "(WHERE verdict IS DISTINCT FROM 'Write Pass'), min(time), "
                              "max(time) FROM records WHERE ") +
                      SinceHourWhere +
                      " AND $2::integer IS NULL GROUP BY 1, 2, 3, 4) w GROUP BY 1, 2, 3, 4 "
                      "ORDER BY 1, 2, 3, 4",
            Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            const std::string line = rows.Text(row, 1);
            tallies.push_back({static_cast<int>(rows.Integer(row, 0)), line.empty() ? '?' : line[0],
                               static_cast<int>(rows.Integer(row, 2)), rows.Text(row, 3),
                               static_cast<long>(rows.Integer(row, 4)),
                               static_cast<long>(rows.Integer(row, 5)), rows.Text(row, 6),
                               rows.Text(row, 7)});
        }
    });
    return tallies;
}

std::vector<FailureReason>
PostgresProductionRecords::CountFailureReasons(const RecordFilter& filter, int limit) {
    std::vector<FailureReason> reasons;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT operation, verdict, error, count(*) AS n, max(time) FROM records "
            "WHERE time >= $1 AND ($2::integer IS NULL OR serial = $2) AND (verdict IS NULL OR "
            "verdict NOT IN ('Write Pass', 'Verify Pass', 'Save Pass', 'Read Ok')) "
            "GROUP BY operation, verdict, error ORDER BY n DESC, operation, verdict, error "
            "LIMIT $3",
            Parameters().Add(filter.since).Add(filter.serialNumber).Add(limit));
        for (int row = 0; row < rows.Rows(); ++row) {
            reasons.push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2),
                               static_cast<long>(rows.Integer(row, 3)), rows.Text(row, 4)});
        }
    });
    return reasons;
}

std::vector<SerialNumberRun>
PostgresProductionRecords::FindStampedRuns(const RecordFilter& filter) {
    std::vector<SerialNumberRun> runs;
    Call("read", [&](Session& session) {
        // Consecutive numbers keep one difference to their rank: each difference is a run.
        const Result rows = session.Run(
            std::string("WITH passes AS (SELECT DISTINCT product_type AS type, serial FROM "
                        "records WHERE ") +
                PassWhere +
                " AND serial IS NOT NULL AND time >= $1 AND ($2::integer IS NULL OR "
                "serial = $2)), ranked AS (SELECT type, serial, serial - row_number() OVER "
                "(PARTITION BY type ORDER BY serial) AS run FROM passes) SELECT type, "
                "min(serial) AS first, max(serial) FROM ranked GROUP BY type, run "
                "ORDER BY type NULLS LAST, first",
            Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            runs.push_back({rows.OptionalInteger(row, 0), static_cast<int>(rows.Integer(row, 1)),
                            static_cast<int>(rows.Integer(row, 2))});
        }
    });
    return runs;
}

} // namespace vrax

#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests and for trying the line database by hand: its
# own data folder, run by an unprivileged user, listening on a free port of 127.0.0.1 only,
# set up as a factory would with packaging/postgresql/line-database.sql.
#   pg-server.sh start DIR     DIR/owner.uri, station.uri, station2.uri, approver.uri; DIR/passfile;
#                              TLS with a certificate for "localhost" from DIR/ca.crt, a test CA
#                              (DIR/other-ca.crt is one the server's certificate is not from)
#   pg-server.sh stop DIR      pg_ctl stop -m immediate: as if the server were lost
#   pg-server.sh resume DIR    start the stopped server again on its port
#   pg-server.sh remove DIR    stop and delete it
# The tests run it with fsync off; VRAX_PG_FSYNC=on keeps a real server's durability (the
# benchmark).
set -euo pipefail
COMMAND=${1:?usage: $0 start|stop|resume|remove DIR}
DIR=$(realpath -m "${2:?usage: $0 start|stop|resume|remove DIR}")
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$BIN/postgres" ] || { echo "pg-server.sh: no PostgreSQL server (./dev setup installs it)" >&2; exit 1; }
USER_NAME=vrax-test-db

# PostgreSQL refuses to run as root: root runs it as an unprivileged user of its own.
as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$USER_NAME" -- "$@"
    else
        "$@"
    fi
}

# The server's own files (data, log, key) where its user can reach them: beside the rest in
# DIR, or under /tmp when DIR lies inside a folder closed to others (a checkout in /root).
SERVER=$DIR
locate_server() {
    SERVER=$DIR
    if [ "$(id -u)" -eq 0 ] && ! runuser -u "$USER_NAME" -- test -x "$DIR" 2>/dev/null; then
        SERVER=/tmp/vrax-test-db-$(printf '%s' "$DIR" | sha256sum | cut -c1-16)
    fi
}

ctl() {
    as_server "$BIN/pg_ctl" -D "$SERVER/data" -l "$SERVER/server.log" -w -t 60 "$@" >/dev/null
}

# A test CA, the server's certificate from it for the name "localhost" only, and a second CA
# that vouches for nothing here. Elliptic-curve keys: quick to make and to shake hands with.
certificates() {
    local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${key[@]}" -keyout "$DIR/ca.key" -out "$DIR/ca.crt" -days 30 \
        -subj "/CN=VRAX test line database CA" 2>/dev/null
    openssl req -x509 "${key[@]}" -keyout "$DIR/other-ca.key" -out "$DIR/other-ca.crt" -days 30 \
        -subj "/CN=VRAX test line database CA" 2>/dev/null
    openssl req -new "${key[@]}" -keyout "$SERVER/data/server.key" -out "$DIR/server.csr" \
        -subj "/CN=localhost" 2>/dev/null
    printf 'subjectAltName = DNS:localhost\n' >"$DIR/server.ext"
    openssl x509 -req -in "$DIR/server.csr" -CA "$DIR/ca.crt" -CAkey "$DIR/ca.key" \
        -CAcreateserial -days 30 -extfile "$DIR/server.ext" -out "$SERVER/data/server.crt" 2>/dev/null
    chmod 600 "$SERVER/data/server.key"
    if [ "$(id -u)" -eq 0 ]; then
        chown "$USER_NAME" "$SERVER/data/server.key" "$SERVER/data/server.crt"
    fi
}

start() {
    if id "$USER_NAME" >/dev/null 2>&1; then
        locate_server
        if [ -f "$SERVER/data/postmaster.pid" ]; then
            ctl stop -m immediate || true
        fi
    fi
    rm -rf "$DIR"
    mkdir -p "$DIR"
    if [ "$(id -u)" -eq 0 ]; then
        id "$USER_NAME" >/dev/null 2>&1 ||
            useradd --system --no-create-home --shell /usr/sbin/nologin "$USER_NAME"
        locate_server
        if [ "$SERVER" != "$DIR" ]; then
            rm -rf "$SERVER"
            mkdir -p "$SERVER"
        fi
        chown "$USER_NAME" "$SERVER"
    fi
    local port
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_server "$BIN/initdb" -D "$SERVER/data" -U postgres --auth-local=trust \
        --auth-host=scram-sha-256 --encoding=UTF8 --locale=C >/dev/null
    certificates
    cat >>"$SERVER/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$SERVER/data'
fsync = ${VRAX_PG_FSYNC:-off}
max_connections = 200
ssl = on
ssl_cert_file = '$SERVER/data/server.crt'
ssl_key_file = '$SERVER/data/server.key'
CONF
    ctl start
    echo "$port" >"$DIR/port"
    local sql=(as_server "$BIN/psql" -X -q -h "$SERVER/data" -p "$port" -U postgres -v ON_ERROR_STOP=1)
    # Read by this shell: the server's user may not reach the checkout.
    "${sql[@]}" -d postgres <"$HERE/../../packaging/postgresql/line-database.sql" >/dev/null
    # A second station's role, as a factory adds one per PC.
    "${sql[@]}" -d postgres -c "CREATE ROLE station2 LOGIN IN ROLE vrax_station" >/dev/null
    : >"$DIR/passfile"
    chmod 600 "$DIR/passfile"
    local role password
    # The superuser by TCP and password as well: programs under Wine have no Unix sockets.
    for role in vrax_owner station station2 approver postgres; do
        password=$(head -c 18 /dev/urandom | base64 | tr '+/' 'xy')
        "${sql[@]}" -d postgres -c "ALTER ROLE $role PASSWORD '$password'" >/dev/null
        echo "127.0.0.1:$port:*:$role:$password" >>"$DIR/passfile"
        echo "localhost:$port:*:$role:$password" >>"$DIR/passfile"
        echo "postgresql://$role@127.0.0.1:$port/vrax_line" >"$DIR/${role#vrax_}.uri"
    done
    mv "$DIR/postgres.uri" "$DIR/admin.uri"
    cat "$DIR/owner.uri"
}

case "$COMMAND" in
start) start ;;
stop) locate_server; ctl stop -m immediate ;;
resume) locate_server; ctl start ;;
remove)
    locate_server
    [ -f "$SERVER/data/postmaster.pid" ] && ctl stop -m immediate || true
    rm -rf "$DIR" "$SERVER"
    ;;
*) echo "usage: $0 start|stop|resume|remove DIR" >&2; exit 2 ;;
esac

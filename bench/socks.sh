#!/bin/bash
# SOCKS 5 throughput on loopback, every figure measured in this one run, against an nginx
# origin:
#   - one stream: a 256 MiB object fetched with curl (BENCH_STREAM_RUNS times per row, rows
#     taking turns, the best run counts), MiB/s;
#   - short connections: 16 clients (bench/socks_load.cpp), each opening connection after
#     connection for BENCH_DURATION seconds to fetch a 1 KiB object with "GET ... HTTP/1.0"
#     (SOCKS 5 greeting, its answer, CONNECT by address, its answer, then the request, as curl
#     does), connections per second;
# each directly (the baseline), through Norvane's SOCKS service (this checkout, optimised build
# in build-bench/) and through dante (Debian's dante-server, configured here), printed with its
# ratio to direct and Norvane's ratio to dante.
#
# Missing programs (nginx, dante-server, curl and the build tools) are installed with apt-get
# when run as root; otherwise the one command to run is printed. Every server runs in a
# temporary folder on free high ports and is ended when the script ends, however it ends.
#
# Environment: BENCH_DURATION seconds per short-connection figure (10), BENCH_STREAM_RUNS
# (3), BENCH_KEEP=1 keeps the temporary folder (logs, configurations) and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"

duration=${BENCH_DURATION:-10}
stream_runs=${BENCH_STREAM_RUNS:-3}
clients=16
rows=(direct norvane dante)
declare -A row_label=([direct]="direct (nginx)" [norvane]="Norvane SOCKS 5" [dante]="dante")

.ci/deps.sh
install_missing nginx dante-server curl
build_engine
bench_workdir
echo "Building the load generator ..."
"${CXX:-g++}" -O2 -std=c++17 -pthread -o "$work/socks_load" "$root/bench/socks_load.cpp"

read -r origin_port nv_port nv_remote_port dante_port < <(free_ports 4)

mkdir -p "$work/www"
head -c 1024 /dev/urandom >"$work/www/1k.bin"
head -c $((256 * 1048576)) /dev/urandom >"$work/www/256m.bin"
start_nginx "$origin_port"
origin_url="http://127.0.0.1:$origin_port"

# --- the proxies ----------------------------------------------------------------------------

start_norvane() {
    reg_head "$nv_remote_port" >"$nv/bench.reg"
    cat >>"$nv/bench.reg" <<EOF

[$nv_root\\Services\\SOCKS]
"ServiceType"="CSOCKSService"
"Name"="SOCKS"
"Description"="SOCKS Proxy server"
"PortNumber"=dword:$(printf %08x "$nv_port")
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
EOF
    install_engine "$nv/bench.reg"
    start_engine
    wait_port "$nv_remote_port" 20 && wait_port "$nv_port" 5
}

start_dante() {
    mkdir -p "$work/dante"
    local users=""
    [[ $(id -u) -eq 0 ]] && users=$'user.privileged: root\nuser.unprivileged: nobody'
    cat >"$work/dante/danted.conf" <<EOF
logoutput: $work/dante/danted.log
internal: 127.0.0.1 port = $dante_port
external: 127.0.0.1
socksmethod: none
clientmethod: none
$users
client pass {
    from: 127.0.0.0/8 to: 0.0.0.0/0
}
socks pass {
    from: 127.0.0.0/8 to: 0.0.0.0/0
    command: connect
}
EOF
    danted -f "$work/dante/danted.conf" -p "$work/dante/danted.pid" >"$work/dante/stderr.log" 2>&1 &
    started+=($!)
    wait_port "$dante_port" 10
}

# --- measuring --------------------------------------------------------------------------------

declare -A proxy_args=([direct]="" [norvane]="" [dante]="")
declare -A stream_mibs short_cps short_errors note

# fetch_checks ROW: both objects once through the row, byte for byte.
fetch_checks() {
    local size
    for size in 1k 256m; do
        # shellcheck disable=SC2086
        if ! curl -sf --max-time 60 ${proxy_args[$1]} -o "$work/fetched.bin" "$origin_url/$size.bin" ||
            ! cmp -s "$work/fetched.bin" "$work/www/$size.bin"; then
            note[$1]="a fetch through it failed or differed ($size)"
            return 1
        fi
    done
    rm -f "$work/fetched.bin"
}

# stream_run ROW: one 256 MiB fetch; keeps the row's best MiB/s.
stream_run() {
    local speed
    # shellcheck disable=SC2086
    speed=$(curl -sf --max-time 120 ${proxy_args[$1]} -o /dev/null -w '%{speed_download}' \
        "$origin_url/256m.bin") || return 0
    speed=$(awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }')
    if [[ -z ${stream_mibs[$1]:-} ]] || awk -v a="$speed" -v b="${stream_mibs[$1]}" 'BEGIN { exit !(a > b) }'; then
        stream_mibs[$1]=$speed
    fi
}

# short_run ROW MODE [PROXY-PORT]
short_run() {
    local out us n errors
    out=$("$work/socks_load" "$2" "$origin_port" /1k.bin "$clients" "$duration" "${3:-0}" 1024) || true
    if ! read -r _ us n _ errors < <(grep '^RESULT ' <<<"$out"); then
        note[$1]="the load generator failed: $(head -c 200 <<<"$out")"
        return
    fi
    short_cps[$1]=$(awk -v n="$n" -v us="$us" 'BEGIN { printf "%.1f", n * 1e6 / us }')
    short_errors[$1]=$errors
}

load_before
echo "Measuring ..."
measured=(direct)
if start_norvane; then
    proxy_args[norvane]="--socks5 127.0.0.1:$nv_port"
    fetch_checks norvane && measured+=(norvane)
else
    note[norvane]="no SOCKS service answered on its port"
fi
if start_dante; then
    proxy_args[dante]="--socks5 127.0.0.1:$dante_port"
    fetch_checks dante && measured+=(dante)
else
    note[dante]="dante did not start: $(tail -1 "$work/dante/danted.log" 2>/dev/null)"
fi

for ((run = 1; run <= stream_runs; ++run)); do
    echo "  stream, round $run of $stream_runs ..."
    for row in "${measured[@]}"; do stream_run "$row"; done
done
echo "  short connections, ${row_label[direct]} ..."
short_run direct direct
for row in "${measured[@]:1}"; do
    echo "  short connections, ${row_label[$row]} ..."
    port=$nv_port
    [[ $row == dante ]] && port=$dante_port
    short_run "$row" socks5 "$port"
done

# --- the table ------------------------------------------------------------------------------

echo
echo "SOCKS 5 on loopback: one 256 MiB stream (best of $stream_runs), and $clients clients making" \
    "short connections for a 1 KiB object (${duration} s)"
echo "origin nginx $(nginx -v 2>&1 | sed 's|.*/||'), dante $(dpkg-query -W -f='${Version}' dante-server)," \
    "Norvane $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "?") (Release)," \
    "$(nproc) CPUs, load average $load_before before the run"
load_note
echo
format="%-18s %12s %8s  %12s %8s %7s\n"
# shellcheck disable=SC2059
printf "$format" row "stream MiB/s" xdirect "short conn/s" xdirect errors
declare -a notes=()
for row in "${rows[@]}"; do
    # shellcheck disable=SC2059
    printf "$format" "${row_label[$row]}" "${stream_mibs[$row]:-n/a}" \
        "$(ratio "${stream_mibs[$row]:-}" "${stream_mibs[direct]:-}")" "${short_cps[$row]:-n/a}" \
        "$(ratio "${short_cps[$row]:-}" "${short_cps[direct]:-}")" "${short_errors[$row]:--}"
    [[ -n ${note[$row]:-} ]] && notes+=("${row_label[$row]}: ${note[$row]}")
done
echo
echo "Norvane / dante: stream $(ratio "${stream_mibs[norvane]:-}" "${stream_mibs[dante]:-}")," \
    "short connections $(ratio "${short_cps[norvane]:-}" "${short_cps[dante]:-}")"
cat <<'EOF'
xdirect: ratio to the direct row. errors: short connections that failed or ended before the
whole object came (not counted in conn/s).
EOF
for line in "${notes[@]}"; do echo "n/a  $line"; done

#!/bin/bash
# Web proxy throughput on loopback, every figure measured in this one run.
#
# For a 1 KiB and a 1 MiB object served by nginx, wrk (16 connections, bench/absolute.lua:
# absolute-URI requests with "Connection: close", so one new connection per request) measures
# requests per second and transfer rate
#   - direct to the nginx origin (the baseline),
#   - through Norvane (this checkout, optimised build in build-bench/): cache off; cache on with
#     every request a reload ("Pragma: no-cache"), so each is a miss whose response is stored;
#     and cache hits,
#   - through tinyproxy, and through squid with its cache off and on (cache hits),
# and prints each figure with its ratio to direct and to the best peer of the same kind, beside
# each Norvane 1 MiB row the engine's CPU time per MiB relayed (all its threads, from
# /proc/PID/stat over the same run), and, for each Norvane row, the engine's system calls per
# 1 KiB request (strace -c over a short extra run, so the figures above are measured without
# it).
#
# Missing programs (wrk, nginx, tinyproxy, squid and the build tools) are installed with apt-get
# when run as root; otherwise the one command to run is printed. Every server runs as the
# current user (squid, which refuses root, as "proxy" when run as root) in a temporary folder,
# on free high ports, and is ended when the script ends, however it ends.
#
# Environment: BENCH_DURATION seconds per figure (10), BENCH_THREADS wrk threads (4),
# BENCH_KEEP=1 keeps the temporary folder (logs, configurations) and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

duration=${BENCH_DURATION:-10}
threads=${BENCH_THREADS:-4}
connections=16
lua=$root/bench/absolute.lua

rows=(direct norvane-off norvane-store norvane-hit tinyproxy squid-off squid-hit)
declare -A row_label=(
    [direct]="direct (nginx)"
    [norvane-off]="Norvane, cache off"
    [norvane-store]="Norvane, cache stores"
    [norvane-hit]="Norvane, cache hits"
    [tinyproxy]="tinyproxy"
    [squid-off]="squid, cache off"
    [squid-hit]="squid, cache hits"
)
# The peers a row is compared with: forwarding rows with the forwarding peers, cache-hit rows
# with the best any peer does when the object is asked for again (tinyproxy has no cache).
declare -A row_peers=(
    [direct]="tinyproxy squid-off"
    [norvane-off]="tinyproxy squid-off"
    [norvane-store]="tinyproxy squid-off"
    [tinyproxy]="tinyproxy squid-off"
    [squid-off]="tinyproxy squid-off"
    [norvane-hit]="tinyproxy squid-hit"
    [squid-hit]="tinyproxy squid-hit"
)
# Header lines a row adds to every request: the storing row reloads, so every request is a
# miss that replaces the stored copy.
declare -A row_headers=([norvane-store]="Pragma: no-cache")
sizes=(1k 1m)
declare -A size_bytes=([1k]=1024 [1m]=1048576)
declare -A size_label=([1k]="1 KiB" [1m]="1 MiB")

# --- programs and the temporary folder -----------------------------------------------------

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
.ci/deps.sh
install_missing wrk nginx tinyproxy squid strace
build_engine
bench_workdir

read -r origin_port tiny_port squid_port nv_port nv_store_port nv_hit_port nv_remote_port < <(free_ports 7)

# --- the origin -----------------------------------------------------------------------------

mkdir -p "$work/www"
for size in "${sizes[@]}"; do
    head -c "${size_bytes[$size]}" /dev/urandom >"$work/www/$size.bin"
done
origin_url="http://127.0.0.1:$origin_port"

start_nginx "$origin_port"

# --- measuring --------------------------------------------------------------------------------

declare -A rps mibs errors read_errors origin_share note syscalls top_syscalls cpu_per_mib

# The CPU time the engine `pid` has used so far, every thread's (ended ones too), in clock ticks.
engine_cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }

# measure ROW SIZE PORT: first one fetch through 127.0.0.1:PORT (the origin's port for the
# direct row) that must be byte-identical to the object, then wrk for BENCH_DURATION seconds.
measure() {
    local row=$1 size=$2 port=$3 url="$origin_url/$2.bin" key="$1/$2"
    local fetched="$work/fetched.bin"
    rm -f "$fetched"
    if ! curl -sf --max-time 10 --proxy "http://127.0.0.1:$port" -o "$fetched" "$url" ||
        ! cmp -s "$fetched" "$work/www/$size.bin"; then
        note[$key]="fetch through it failed or differed"
        return
    fi
    local before after out line
    local -a extra=()
    [[ -n ${row_headers[$row]:-} ]] && extra=("${row_headers[$row]}")
    local pid="" cpu_before=""
    if [[ $row == norvane-* && $size == 1m ]] && pid=$(engine_pid); then
        cpu_before=$(engine_cpu_ticks "$pid")
    fi
    before=$(origin_requests)
    out=$(wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout 10s -s "$lua" \
        "http://127.0.0.1:$port/" -- "$url" "${extra[@]}" 2>&1) || true
    after=$(origin_requests)
    local cpu_after=""
    [[ -n $cpu_before ]] && cpu_after=$(engine_cpu_ticks "$pid")
    line=$(grep '^RESULT ' <<<"$out" || true)
    if [[ -z $line ]]; then
        note[$key]="wrk failed: $(head -c 200 <<<"$out")"
        return
    fi
    local us responses bytes connect read write status timeout
    read -r _ us responses bytes connect read write status timeout <<<"$line"
    # Responses other than 2xx/3xx are no service: they do not count as requests served.
    rps[$key]=$(awk -v n="$((responses - status))" -v us="$us" 'BEGIN { printf "%.1f", n * 1e6 / us }')
    mibs[$key]=$(awk -v b="$bytes" -v us="$us" 'BEGIN { printf "%.1f", b * 1e6 / us / 1048576 }')
    errors[$key]=$((connect + write + status + timeout))
    if [[ -n $cpu_before && -n $cpu_after ]] && ((bytes > 0)); then
        cpu_per_mib[$key]=$(awk -v t="$((cpu_after - cpu_before))" -v hz="$(getconf CLK_TCK)" \
            -v b="$bytes" 'BEGIN { printf "%.3f", t * 1000 / hz / (b / 1048576) }')
    fi
    read_errors[$key]=$read
    origin_share[$key]=$(awk -v o="$((after - before))" -v n="$responses" \
        'BEGIN { printf "%.2f", n ? o / n : 0 }')
    if [[ $row == *-hit ]] && awk -v s="${origin_share[$key]}" 'BEGIN { exit !(s > 0.1) }'; then
        note[$key]="requests reached the origin: not answered from the cache"
        unset "rps[$key]" "mibs[$key]"
    fi
    if [[ $row == norvane-store ]] && ! compgen -G "$nv/cache/*.nvc" >/dev/null; then
        note[$key]="nothing was stored in the cache"
        unset "rps[$key]" "mibs[$key]"
    fi
}

# count_syscalls ROW PORT: the engine's system calls per request for the 1 KiB object, counted
# by strace -c on every thread of the engine during a short run of wrk (strace slows the engine
# down, so this run's rate is not reported). Fills syscalls[ROW] and top_syscalls[ROW].
count_syscalls() {
    local row=$1 port=$2 pid tids out line responses calls
    command -v strace >/dev/null || return 0
    pid=$(engine_pid) || return 0
    tids=$(ls "/proc/$pid/task" | paste -sd,)
    local trace="$work/strace-$row.txt"
    local -a extra=()
    [[ -n ${row_headers[$row]:-} ]] && extra=("${row_headers[$row]}")
    strace -f -c -q -o "$trace" -p "$tids" 2>/dev/null &
    local strace_pid=$!
    sleep 1
    out=$(wrk -t1 -c4 -d3s --timeout 10s -s "$lua" "http://127.0.0.1:$port/" -- \
        "$origin_url/1k.bin" "${extra[@]}" 2>&1) || true
    kill -INT "$strace_pid" 2>/dev/null || true
    wait "$strace_pid" 2>/dev/null || true
    line=$(grep '^RESULT ' <<<"$out" || true)
    [[ -n $line && -s $trace ]] || return 0
    read -r _ _ responses _ <<<"$line"
    calls=$(awk '$NF == "total" { print $4 }' "$trace")
    [[ -n $calls ]] && ((responses > 0)) || return 0
    syscalls[$row]=$(awk -v c="$calls" -v n="$responses" 'BEGIN { printf "%.1f", c / n }')
    top_syscalls[$row]=$(awk -v n="$responses" '
        /^-/ || /^%/ || $NF == "total" { next }
        { printf "%s %.1f\n", $NF, $4 / n }' \
        "$trace" | sort -k2 -rn | head -8 | awk '{ printf "%s%s %s", sep, $1, $2; sep = ", " }')
}

# measure_all ROW PORT [warm]: both sizes; with warm, each object is fetched twice first so the
# proxy's cache holds it.
measure_all() {
    local row=$1 port=$2 size
    for size in "${sizes[@]}"; do
        if [[ ${3:-} == warm ]]; then
            curl -sf --max-time 10 --proxy "http://127.0.0.1:$port" -o /dev/null "$origin_url/$size.bin" || true
            curl -sf --max-time 10 --proxy "http://127.0.0.1:$port" -o /dev/null "$origin_url/$size.bin" || true
        fi
        echo "  ${row_label[$row]}, ${size_label[$size]} ..."
        measure "$row" "$size" "$port"
    done
}

not_available() {  # not_available ROW REASON
    local size
    for size in "${sizes[@]}"; do note[$1/$size]=$2; done
}

# --- tinyproxy ------------------------------------------------------------------------------

start_tinyproxy() {
    mkdir -p "$work/tinyproxy"
    cat >"$work/tinyproxy/tinyproxy.conf" <<EOF
Port $tiny_port
Listen 127.0.0.1
Timeout 600
MaxClients 1024
LogFile "$work/tinyproxy/tinyproxy.log"
# Notices and worse only: at Info this tinyproxy writes and syncs several lines per request,
# which caps it far below what it relays with logging out of the way.
LogLevel Notice
PidFile "$work/tinyproxy/tinyproxy.pid"
Allow 127.0.0.1
EOF
    tinyproxy -d -c "$work/tinyproxy/tinyproxy.conf" >"$work/tinyproxy/stderr.log" 2>&1 &
    tiny_pid=$!
    started+=("$tiny_pid")
    wait_port "$tiny_port" 10
}

# --- squid ----------------------------------------------------------------------------------

# start_squid on|off: one squid with its memory cache in use or refused for everything.
start_squid() {
    local dir="$work/squid-$1" policy="cache deny all"
    [[ $1 == on ]] && policy="cache allow all"
    mkdir -p "$dir"
    local user_line=""
    if [[ $(id -u) -eq 0 ]]; then
        user_line="cache_effective_user proxy"
        chown proxy: "$dir"
    fi
    cat >"$dir/squid.conf" <<EOF
http_port 127.0.0.1:$squid_port
visible_hostname norvane-bench
$user_line
pid_filename $dir/squid.pid
cache_log $dir/cache.log
access_log stdio:$dir/access.log
cache_store_log none
netdb_filename none
coredump_dir $dir
shutdown_lifetime 0 seconds
max_filedescriptors 8192
http_access allow localhost
http_access deny all
$policy
cache_mem 256 MB
maximum_object_size_in_memory 2 MB
# nginx sends no expiry: its objects are fresh for an hour after they were fetched.
refresh_pattern . 60 50% 1440
EOF
    squid -N -f "$dir/squid.conf" >"$dir/stderr.log" 2>&1 &
    squid_pid=$!
    started+=("$squid_pid")
    wait_port "$squid_port" 20
}

# --- Norvane --------------------------------------------------------------------------------

# start_norvane CACHE-OPTIONS PORT: the web proxy service on PORT with the cache's option bits
# (0: neither store nor answer; 3: both); the installation is made at the first start. Each
# start takes a port of its own: the previous one is still held by the connections the engine
# closed, and the service binds without address reuse.
start_norvane() {
    if [[ ! -e $nv/state/machine.db ]]; then
        mkdir -p "$nv/cache"
        { reg_head "$nv_remote_port"; cat; } >"$nv/bench.reg" <<EOF

[$nv_root\\Services\\Web Proxy]
"ServiceType"="CWWWService"
"Name"="Web Proxy"
"Description"="WWW Proxy server"
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"

[$nv_root\\Cache]
"CacheDirectory"="$nv/cache"
EOF
        install_engine "$nv/bench.reg"
    fi
    in_norvane "$nvreg" set "$nv_root\\Cache" CacheOptions dword "$1" >/dev/null
    in_norvane "$nvreg" set "$nv_root\\Services\\Web Proxy" PortNumber dword "$2" >/dev/null
    start_engine
    wait_port "$nv_remote_port" 20 && wait_port "$2" 5
}

norvane_failure() {
    local reason="no web proxy service answered on its port"
    [[ -s $nv/events.log ]] && reason+=" (engine events: $(tail -1 "$nv/events.log" | cut -f5))"
    echo "$reason"
}

# --- the run --------------------------------------------------------------------------------

load_before
echo "Measuring, ${duration} s per figure ..."
measure_all direct "$origin_port"

if start_norvane 0 "$nv_port"; then
    measure_all norvane-off "$nv_port"
    count_syscalls norvane-off "$nv_port"
else
    not_available norvane-off "$(norvane_failure)"
fi
stop_norvane
if start_norvane 3 "$nv_store_port"; then
    measure_all norvane-store "$nv_store_port"
    count_syscalls norvane-store "$nv_store_port"
else
    not_available norvane-store "$(norvane_failure)"
fi
stop_norvane
if start_norvane 3 "$nv_hit_port"; then
    measure_all norvane-hit "$nv_hit_port" warm
    count_syscalls norvane-hit "$nv_hit_port"
else
    not_available norvane-hit "$(norvane_failure)"
fi
stop_norvane

if start_tinyproxy; then
    measure_all tinyproxy "$tiny_port"
else
    not_available tinyproxy "tinyproxy did not start: $(tail -1 "$work/tinyproxy/stderr.log")"
fi
stop_pid "$tiny_pid"

for mode in off on; do
    row=squid-$mode
    [[ $mode == on ]] && row=squid-hit
    if start_squid "$mode"; then
        measure_all "$row" "$squid_port" "$([[ $mode == on ]] && echo warm)"
    else
        not_available "$row" "squid did not start: $(tail -1 "$work/squid-$mode/cache.log" 2>/dev/null)"
    fi
    stop_pid "$squid_pid"
done

# --- the table ------------------------------------------------------------------------------

best_peer() {  # best_peer ROW SIZE FIGURE-ARRAY-NAME: the highest figure of the row's peers
    local -n figures=$3
    local peer best=""
    for peer in ${row_peers[$1]}; do
        local value=${figures[$peer/$2]:-}
        [[ -z $value ]] && continue
        if [[ -z $best ]] || awk -v a="$value" -v b="$best" 'BEGIN { exit !(a > b) }'; then
            best=$value
        fi
    done
    echo "$best"
}

echo
echo "Web proxy throughput on loopback: $connections clients ($threads wrk threads), ${duration} s per" \
    "figure, one new connection per request (absolute URI, \"Connection: close\")"
echo "origin nginx $(nginx -v 2>&1 | sed 's|.*/||'), tinyproxy $(dpkg-query -W -f='${Version}' tinyproxy)," \
    "squid $(dpkg-query -W -f='${Version}' squid), Norvane $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "?") (Release)," \
    "$(nproc) CPUs, load average $load_before before the run"
load_note
echo
format="%-6s  %-20s %10s %8s %8s  %8s %8s %8s  %6s %6s %6s  %8s\n"
# shellcheck disable=SC2059
printf "$format" object row req/s xdirect xpeer MiB/s xdirect xpeer origin errors read "ms/MiB"
declare -a notes=()
for size in "${sizes[@]}"; do
    for row in "${rows[@]}"; do
        key=$row/$size
        if [[ -z ${rps[$key]:-} ]]; then
            # shellcheck disable=SC2059
            printf "$format" "${size_label[$size]}" "${row_label[$row]}" n/a - - n/a - - - - - -
            notes+=("${size_label[$size]}, ${row_label[$row]}: ${note[$key]:-not measured}")
            continue
        fi
        # shellcheck disable=SC2059
        printf "$format" "${size_label[$size]}" "${row_label[$row]}" \
            "${rps[$key]}" "$(ratio "${rps[$key]}" "${rps[direct/$size]:-}")" \
            "$(ratio "${rps[$key]}" "$(best_peer "$row" "$size" rps)")" \
            "${mibs[$key]}" "$(ratio "${mibs[$key]}" "${mibs[direct/$size]:-}")" \
            "$(ratio "${mibs[$key]}" "$(best_peer "$row" "$size" mibs)")" \
            "${origin_share[$key]}" "${errors[$key]}" "${read_errors[$key]}" \
            "${cpu_per_mib[$key]:--}"
    done
done
echo
cat <<'EOF'
xdirect: ratio to the direct row. xpeer: ratio to the best peer of the same kind (forwarding
rows: tinyproxy, squid cache off; cache-hit rows: tinyproxy, squid cache hits). origin:
requests reaching nginx per response. errors: wrk's connect, write and time-out errors and
responses other than 2xx/3xx (those are not counted in req/s). read: wrk's read errors, which
also count a connection closed after a complete response that did not announce the close
(an HTTP/1.1 response without "Connection: close"); the response itself is counted.
ms/MiB: the engine's CPU time (every thread, user and system) per MiB it relayed in that
run, for Norvane's 1 MiB rows: what a large body costs, whatever share of the CPUs it got.
EOF
for line in "${notes[@]}"; do echo "n/a  $line"; done
echo
echo "Norvane's system calls per request (1 KiB object, every engine thread, strace -c over a"
echo "separate 3 s run at 4 clients; the most frequent calls after the total):"
for row in norvane-off norvane-store norvane-hit; do
    if [[ -n ${syscalls[$row]:-} ]]; then
        printf "  %-22s %6s   %s\n" "${row_label[$row]}" "${syscalls[$row]}" "${top_syscalls[$row]}"
    else
        printf "  %-22s %6s\n" "${row_label[$row]}" "n/a"
    fi
done

#!/bin/bash
# DNS service throughput on loopback, every figure measured in this one run.
#
# dnsperf (8 clients, as many queries in flight as it keeps by default) sends A queries for the
# IPv4 names of /etc/hosts, in turn, for BENCH_DURATION seconds
#   - to Norvane's DNS service (this checkout, optimised build in build-bench/, the service's
#     default settings: its log on, each name looked up through the system resolver),
#   - to dnsmasq answering from the same /etc/hosts (its cache of that file, no upstream),
# and prints queries per second, the average and largest latency, lost queries and the share of
# NOERROR answers, with Norvane's ratio to dnsmasq.
#
# Missing programs (dnsperf, dnsmasq and the build tools) are installed with apt-get when run as
# root; otherwise the one command to run is printed. Both servers run in a temporary folder on
# free high ports and are ended when the script ends, however it ends.
#
# Environment: BENCH_DURATION seconds per figure (10), BENCH_KEEP=1 keeps the temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
duration=${BENCH_DURATION:-10}
clients=8

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
.ci/deps.sh
install_missing dnsperf dnsmasq-base bind9-dnsutils
build_engine
bench_workdir

read -r nv_port nv_remote_port dm_port < <(free_ports 3 udp)

# --- the names ----------------------------------------------------------------------------

awk '!/^[[:space:]]*#/ && $1 ~ /^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$/ {
        for (i = 2; i <= NF && $i !~ /^#/; i++) print $i " A" }' /etc/hosts | sort -u >"$work/queries"
if [[ ! -s $work/queries ]]; then
    echo "/etc/hosts names no IPv4 host: nothing to ask for" >&2
    exit 1
fi
first_name=$(head -1 "$work/queries" | cut -d' ' -f1)

# --- measuring ------------------------------------------------------------------------------

declare -A qps latency max_latency lost noerror note

# answers PORT: whether the server on PORT answers the first name, within 10 s of starting.
answers() {
    local tries=50
    while ((tries-- > 0)); do
        dig @127.0.0.1 -p "$1" +tries=1 +time=1 "$first_name" A 2>/dev/null |
            grep -q "status: NOERROR" && return 0
        sleep 0.2
    done
    return 1
}

# measure ROW PORT: the first name must be answered, then dnsperf.
measure() {
    local row=$1 port=$2 out
    if ! answers "$port"; then
        note[$row]="no answer for $first_name"
        return
    fi
    echo "  $row ..."
    out=$(dnsperf -s 127.0.0.1 -p "$port" -d "$work/queries" -c "$clients" -l "$duration" 2>&1) || true
    qps[$row]=$(awk '/Queries per second:/ { printf "%.0f", $4 }' <<<"$out")
    latency[$row]=$(awk '/Average Latency \(s\):/ { printf "%.3f", $4 * 1000 }' <<<"$out")
    max_latency[$row]=$(awk '/Average Latency \(s\):/ { gsub(/\)/, "", $8); printf "%.1f", $8 * 1000 }' <<<"$out")
    lost[$row]=$(awk '/Queries lost:/ { print $3 }' <<<"$out")
    noerror[$row]=$(awk '/Queries completed:/ { c = $3 } /Response codes:/ { for (i = 3; i < NF; i++)
        if ($i == "NOERROR") n = $(i + 1) } END { printf "%.3f", c ? n / c : 0 }' <<<"$out")
    if [[ -z ${qps[$row]} ]]; then
        note[$row]="dnsperf failed: $(head -c 200 <<<"$out")"
        unset "qps[$row]"
    fi
}

# --- Norvane --------------------------------------------------------------------------------

{ reg_head "$nv_remote_port"; cat; } >"$nv/bench.reg" <<EOF

[$nv_root\\Services\\DNS server]
"ServiceType"="CDNSService"
"Name"="DNS server"
"Description"="DNS server"
"PortNumber"=dword:$(printf %08x "$nv_port")
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
EOF

load_before
echo "Measuring, ${duration} s per figure ..."
install_engine "$nv/bench.reg"
start_engine
if wait_port "$nv_remote_port" 20; then
    measure norvane "$nv_port"
else
    note[norvane]="the engine did not start"
fi
stop_norvane

# --- dnsmasq --------------------------------------------------------------------------------

mkdir -p "$work/dnsmasq"
dnsmasq --keep-in-foreground --conf-file=/dev/null --port="$dm_port" --listen-address=127.0.0.1 \
    --bind-interfaces --no-resolv --no-hosts --addn-hosts=/etc/hosts --user="$(id -un)" \
    --pid-file="$work/dnsmasq/dnsmasq.pid" >"$work/dnsmasq/stderr.log" 2>&1 &
dm_pid=$!
started+=("$dm_pid")
measure dnsmasq "$dm_port"
stop_pid "$dm_pid"

# --- the table ------------------------------------------------------------------------------

echo
echo "DNS service throughput on loopback: dnsperf with $clients clients, ${duration} s per figure," \
    "A queries for the $(wc -l <"$work/queries") IPv4 names of /etc/hosts"
echo "dnsperf $(dpkg-query -W -f='${Version}' dnsperf), dnsmasq $(dpkg-query -W -f='${Version}' dnsmasq-base)," \
    "Norvane $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "?") (Release)," \
    "$(nproc) CPUs, load average $load_before before the run"
load_note
echo
format="%-20s %10s %12s %12s %8s %8s %10s\n"
# shellcheck disable=SC2059
printf "$format" server queries/s "avg ms" "max ms" lost noerror xdnsmasq
declare -A label=([norvane]="Norvane DNS service" [dnsmasq]="dnsmasq")
for row in norvane dnsmasq; do
    if [[ -z ${qps[$row]:-} ]]; then
        # shellcheck disable=SC2059
        printf "$format" "${label[$row]}" n/a - - - - -
        continue
    fi
    # shellcheck disable=SC2059
    printf "$format" "${label[$row]}" "${qps[$row]}" "${latency[$row]}" "${max_latency[$row]}" \
        "${lost[$row]}" "${noerror[$row]}" "$(ratio "${qps[$row]}" "${qps[dnsmasq]:-}")"
done
echo
echo "noerror: share of completed queries answered NOERROR. xdnsmasq: queries per second over dnsmasq's."
for row in norvane dnsmasq; do
    [[ -n ${note[$row]:-} ]] && echo "n/a  ${label[$row]}: ${note[$row]}"
done
exit 0

# Helpers shared by the benchmarks; sourced by bench/*.sh after `set -euo pipefail`, with the
# checkout as the current folder.
#
#   install_missing PKG...   installs missing Debian packages (root), or prints the command
#   build_engine             the optimised engine and nvreg in build-bench/ ($engine, $nvreg)
#   bench_workdir            a temporary folder ($work, with the installation's folder $nv and
#                            its log folder), removed at exit unless BENCH_KEEP=1;
#                            servers whose pids are added to `started` are ended at exit, and
#                            the engine started with start_engine too
#   free_ports N [udp]       N free ports on 127.0.0.1 below the ephemeral range (TCP, and UDP
#                            as well with "udp"), all different
#   wait_port PORT SECONDS   waits until a TCP port accepts connections
#   start_nginx PORT         nginx serving $work/www on 127.0.0.1:PORT, one access-log line per
#                            request (origin_requests counts them)
#   stop_pid PID             SIGTERM, then SIGKILL after 5 s
#   in_norvane CMD...        runs CMD with the benchmark installation's state folder ($nv)
#   reg_head REMOTE-PORT     the start of an installation's configuration: the log folder
#                            ($nv/logs) and the remote-control service on REMOTE-PORT
#   install_engine REG       imports the configuration and installs the engine, once
#   start_engine / stop_norvane   starts / ends the installation's engine
#   engine_pid               the process id of the installation's running engine
#   ratio A B                A/B with two decimals, "-" when either is missing or B is 0
#   load_before / load_note  the load average before the run, and a warning when it was high

root=$PWD
build=$root/build-bench
engine=$build/engine/NorvaneEngine
nvreg=$build/tools/nvreg/nvreg
nv_root='HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2'
started=()
norvane_up=0

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true) == "install ok installed" ]] ||
            missing+=("$pkg")
    done
    ((${#missing[@]} == 0)) && return 0
    if [[ $(id -u) -ne 0 ]]; then
        echo "Missing packages. Run:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # The packages' own services are not wanted: keep their start-up scripts from running.
    local policy=/usr/sbin/policy-rc.d added_policy=0
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && added_policy=1
    fi
    apt-get install -y -qq --no-install-recommends "${missing[@]}" || {
        ((added_policy)) && rm -f "$policy"
        exit 1
    }
    ((added_policy)) && rm -f "$policy"
    return 0
}

build_engine() {
    echo "Building the engine (Release) in build-bench/ ..."
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVANE_TESTS=OFF \
        -DNORVANE_GUI=OFF >"$root/build-bench.log" 2>&1 &&
        cmake --build "$build" -j "$(nproc)" --target NorvaneEngine nvreg >>"$root/build-bench.log" 2>&1 ||
        { tail -30 "$root/build-bench.log" >&2; exit 1; }
    rm -f "$root/build-bench.log"
}

stop_pid() {
    local pid=$1 tries=100
    kill -TERM "$pid" 2>/dev/null || return 0
    while kill -0 "$pid" 2>/dev/null && ((tries-- > 0)); do sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

bench_cleanup() {
    local status=$?
    trap - EXIT INT TERM
    stop_norvane
    local pid
    for pid in "${started[@]}"; do stop_pid "$pid"; done
    if [[ ${BENCH_KEEP:-0} == 1 ]]; then
        echo "Temporary folder kept: $work"
    else
        rm -rf "$work"
    fi
    exit "$status"
}

bench_workdir() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/norvane-bench.XXXXXX")
    chmod 755 "$work"
    nv=$work/norvane
    mkdir -p "$nv/logs"
    trap bench_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# Ports held all at once while they are chosen, so none repeats; below the ephemeral range, so
# the many short connections of a run never take one as their local port before its server
# binds it.
free_ports() {
    python3 - "$1" "${2:-tcp}" <<'EOF'
import random, socket, sys
with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
    ephemeral_low = int(f.read().split()[0])
top = ephemeral_low if ephemeral_low > 11000 else 65536
kinds = [socket.SOCK_STREAM] + ([socket.SOCK_DGRAM] if sys.argv[2] == "udp" else [])
held = []
while len(held) < int(sys.argv[1]):
    port = random.randrange(10000, top)
    sockets = []
    try:
        for kind in kinds:
            s = socket.socket(socket.AF_INET, kind)
            sockets.append(s)
            s.bind(("127.0.0.1", port))
        held.append(sockets)
    except OSError:
        for s in sockets:
            s.close()
print(" ".join(str(sockets[0].getsockname()[1]) for sockets in held))
EOF
}

wait_port() {  # wait_port PORT SECONDS
    local tries=$(($2 * 20))
    while ((tries-- > 0)); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

start_nginx() {
    local nginx_user=""
    mkdir -p "$work/nginx"
    [[ $(id -u) -eq 0 ]] && nginx_user="user $(id -un) $(id -gn);"
    cat >"$work/nginx/nginx.conf" <<EOF
$nginx_user
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 4096; }
http {
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    # One line per request reaching the origin: how cache hits are told from forwarding.
    access_log $work/nginx/access.log;
    server {
        listen 127.0.0.1:$1;
        root $work/www;
    }
}
EOF
    nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" -g "daemon off;" &
    started+=($!)
    wait_port "$1" 10 || { echo "nginx did not start:" >&2; cat "$work/nginx/error.log" >&2; exit 1; }
}

origin_requests() { wc -l <"$work/nginx/access.log"; }

# Runs a program with the benchmark installation's state folder and files.
in_norvane() {
    env NORVANE_STATE_DIR="$nv/state" XDG_CONFIG_HOME="$nv/config" \
        NORVANE_EVENTLOG_FILE="$nv/events.log" NORVANE_TRACE_FILE="$nv/trace.log" "$@"
}

reg_head() {
    cat <<EOF
REGEDIT4

[$nv_root\\Settings]
"LogFileDirectory"="$nv/logs"

[$nv_root\\Services\\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:$(printf %08x "$1")
EOF
}

# install_engine REG-FILE: a new installation with that configuration, which must name the
# remote-control service's port (808 needs root and may be taken). Nothing when it exists.
install_engine() {
    [[ -e $nv/state/machine.db ]] && return 0
    in_norvane "$nvreg" import "$1" >/dev/null
    in_norvane "$engine" -i >/dev/null
}

start_engine() {
    in_norvane "$engine" -start >/dev/null
    norvane_up=1
}

# Ends the engine, and whatever else still runs with its state folder.
stop_norvane() {
    ((norvane_up)) || return 0
    norvane_up=0
    in_norvane "$engine" -stop >/dev/null 2>&1 || true
    local environ pid
    for environ in $(grep -lzxF "NORVANE_STATE_DIR=$nv/state" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [[ $pid != "$$" ]] && stop_pid "$pid"
    done
}

engine_pid() {
    local environ pid
    for environ in $(grep -lzxF "NORVANE_STATE_DIR=$nv/state" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == NorvaneEngine ]]; then
            echo "$pid"
            return 0
        fi
    done
    return 1
}

ratio() {
    if [[ -z $1 || -z $2 ]] || awk -v b="$2" 'BEGIN { exit !(b == 0) }'; then
        echo "-"
    else
        awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
    fi
}

# The one-minute load average before anything is measured: other work on the machine.
load_before() { read -r load_before _ </proc/loadavg; }
load_note() {
    if awk -v l="$load_before" -v n="$(nproc)" 'BEGIN { exit !(l > n / 2) }'; then
        echo "The machine was busy besides this run: every figure is lower and less steady than on an idle one."
    fi
}

# Helpers the benchmarks share. A benchmark script runs `set -euo pipefail`, changes to the
# checkout's root and sources this file, which sets:
#   root, build, engine, nvreg   the checkout, build-bench/ and its two programs
#   work                         a temporary folder (mode 755), removed when the script ends
#                                unless BENCH_KEEP=1, which prints its path instead
#   started                      pids of servers the script starts; each is ended at exit
# and offers:
#   install_missing PKG...       installs missing Debian packages with apt-get when run as root
#                                (their own services kept from starting), else prints the one
#                                command to run and exits
#   build_engine                 NorvaneEngine and nvreg, optimised, in build-bench/
#   stop_pid PID                 SIGTERM, then SIGKILL after 5 s
#   free_ports N                 N free TCP ports on 127.0.0.1 below the ephemeral range
#   wait_port PORT SECONDS       waits until 127.0.0.1:PORT accepts connections
#   start_nginx PORT             nginx serving $work/www on 127.0.0.1:PORT, one access-log
#                                line per request ($work/nginx/access.log); origin_requests
#                                counts them
#   in_norvane CMD...            runs CMD with the temporary engine installation's state
#                                folder ($work/norvane) and files
#   norvane_reg_head PORT        the start of the installation's configuration: its log folder
#                                ($nv/logs) and the remote-control service on PORT
#   install_norvane REG-FILE     imports the configuration and installs the service, once
#   stop_norvane                 stops the engine and ends whatever runs with its state folder
#   note_load                    keeps the one-minute load average in load_before
#   describe_load                the line that says the machine was busy, when it was
#   ratio A B                    A/B with two decimals, "-" when either is missing or B is 0

root=$PWD
build=$root/build-bench
engine=$build/engine/NorvaneEngine
nvreg=$build/tools/nvreg/nvreg
nv=""
nv_root='HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2'
norvane_up=0
started=()

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

# --- the temporary folder and clean-up ------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/norvane-bench.XXXXXX")
chmod 755 "$work"
nv=$work/norvane
mkdir -p "$nv/logs"

stop_pid() {
    local pid=$1 tries=100
    kill -TERM "$pid" 2>/dev/null || return 0
    while kill -0 "$pid" 2>/dev/null && ((tries-- > 0)); do sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
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
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- ports ----------------------------------------------------------------------------------

# Free TCP ports on 127.0.0.1 below the ephemeral range (so that the many short connections
# of a run never take one as their local port before its server binds it), all held at once
# while they are chosen so none repeats.
free_ports() {
    python3 - "$1" <<'EOF'
import random, socket, sys
with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
    ephemeral_low = int(f.read().split()[0])
top = ephemeral_low if ephemeral_low > 11000 else 65536
held = []
while len(held) < int(sys.argv[1]):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", random.randrange(10000, top)))
        held.append(s)
    except OSError:
        s.close()
print(" ".join(str(s.getsockname()[1]) for s in held))
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

# --- the origin -----------------------------------------------------------------------------

start_nginx() {
    local port=$1 nginx_user=""
    mkdir -p "$work/www" "$work/nginx"
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
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
EOF
    nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" -g "daemon off;" &
    started+=($!)
    wait_port "$port" 10 || { echo "nginx did not start:" >&2; cat "$work/nginx/error.log" >&2; exit 1; }
}

origin_requests() { wc -l <"$work/nginx/access.log"; }

# --- Norvane --------------------------------------------------------------------------------

in_norvane() {
    env NORVANE_STATE_DIR="$nv/state" XDG_CONFIG_HOME="$nv/config" \
        NORVANE_EVENTLOG_FILE="$nv/events.log" NORVANE_TRACE_FILE="$nv/trace.log" "$@"
}

norvane_reg_head() {
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

install_norvane() {
    [[ -e $nv/state/machine.db ]] && return 0
    in_norvane "$nvreg" import "$1" >/dev/null
    in_norvane "$engine" -i >/dev/null
}

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

# --- reporting ------------------------------------------------------------------------------

note_load() { read -r load_before _ </proc/loadavg; }

describe_load() {
    if awk -v l="$load_before" -v n="$(nproc)" 'BEGIN { exit !(l > n / 2) }'; then
        echo "The machine was busy besides this run: every figure is lower and less steady than on an idle one."
    fi
}

ratio() {
    if [[ -z $1 || -z $2 ]] || awk -v b="$2" 'BEGIN { exit !(b == 0) }'; then
        echo "-"
    else
        awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
    fi
}

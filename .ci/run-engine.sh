#!/bin/bash
# `make run` and `make stop`: the engine of this checkout, with everything it writes in ./var.
#   run-engine.sh start   imports engine/starter.reg into a fresh ./var (with ./var's absolute
#                         path for its folders and this host's name server as the UDP
#                         mapping's target), installs the service (again, if it was
#                         installed from another checkout), starts it and says where its files
#                         are
#   run-engine.sh stop    stops it
#   run-engine.sh console starts the console with the same state folder and settings
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
engine=$root/build/engine/NorvaneEngine
console=$root/build/console/Wardenhall
nvreg=$root/build/tools/nvreg/nvreg

var=$root/var
export NORVANE_STATE_DIR=$var
export XDG_CONFIG_HOME=$var/config
export NORVANE_EVENTLOG_FILE=$var/events.log
export NORVANE_TRACE_FILE=$var/trace.log
service_key='HKLM\SYSTEM\CurrentControlSet\Services\NorvaneEngine'
product='HKLM\SOFTWARE\Urvo Software\Norvane 2'

# The value $2 of the configuration key $1 (below the product key), or $3 when it is not set.
setting() {
    "$nvreg" get "$product\\$1" "$2" 2>/dev/null || printf '%s\n' "$3"
}

# A folder of the configuration as the engine finds it (a relative one lies in its program
# folder), shown relative to the checkout when it lies inside.
folder() {
    local path
    path=$(setting "$1" "$2" "$3")
    [[ $path == /* ]] || path=$root/build/engine/$path
    printf '%s' "${path#"$root"/}"
}

case "${1:-}" in
start)
    mkdir -p "$var"
    chmod 700 "$var"
    if [[ ! -e $var/machine.db ]]; then
        # In .reg strings a backslash and a double quote are escaped with a backslash.
        escaped=${var//\\/\\\\}
        escaped=${escaped//\"/\\\"}
        # The UDP mapping's target: this host's first IPv4 name server.
        nameserver=$(awk '$1 == "nameserver" && $2 ~ /^[0-9.]+$/ { print $2; exit }' /etc/resolv.conf 2>/dev/null || true)
        starter=$(<"$root/engine/starter.reg")
        starter=${starter//@VAR@/"$escaped"}
        printf '%s\n' "${starter//@NAMESERVER@/"${nameserver:-127.0.0.1}"}" | "$nvreg" import -
        echo "Imported engine/starter.reg into ./var"
    fi
    recorded=$("$nvreg" get "$service_key" ImagePath 2>/dev/null || true)
    if [[ -n $recorded && $recorded != "$engine" ]]; then
        "$engine" -stop >/dev/null || true
        "$engine" -u >/dev/null
    fi
    if [[ $recorded != "$engine" ]]; then
        "$engine" -i
    fi
    "$engine" -start
    cat <<INFO
The engine runs from build/engine; what it writes is here:
  store         var/machine.db (the whole configuration; the console's settings: var/config)
  events        var/events.log (also syslog, ident NorvaneEngine)
  traces        var/trace.log
  service logs  $(folder Settings LogFileDirectory Logs) (<service name>.log, and the dialer's Dialer.log)
  audit logs    $(folder Settings AuditDirectory Audit) (<user name>.log, for users whose auditing is on)
  web cache     $(folder Cache CacheDirectory cache) (cache.idx and the content files)
Services:
INFO
    # Each service of the store with its address ("*": every address of this host) and port.
    "$nvreg" list "$product\\Services" | sed -n 's/\\$//p' | while IFS= read -r name; do
        address='*'
        if [[ $(setting "Services\\$name" SpecifiedInterfaceAddress 0) == 1 ]]; then
            address=$(setting "Services\\$name" InterfaceAddress '*')
        fi
        printf '  %-24s %s:%s\n' "$name" "$address" "$(setting "Services\\$name" PortNumber 0)"
    done
    cat <<INFO
Read or change the configuration with nvreg (the engine reads it when it starts: make stop,
then make run; the console changes it while the engine runs):
  export NORVANE_STATE_DIR=$var
  build/tools/nvreg/nvreg list '$product\Services'
  build/tools/nvreg/nvreg get '$product\Services\WWW Proxy server' PortNumber
  build/tools/nvreg/nvreg set '$product\Services\WWW Proxy server' PortNumber dword 8090
  build/tools/nvreg/nvreg export > norvane.reg   (nvreg import norvane.reg applies a file)
Stop it with: make stop
Administer it with: make console (user Administrator, no password until you set one)
The remote-control service listens on port 808, below 1024: the engine needs root or the
CAP_NET_BIND_SERVICE capability for it (sudo setcap cap_net_bind_service=+ep $engine).
INFO
    ;;
stop)
    if [[ ! -x $engine ]]; then
        echo "There is no engine program in build/: nothing runs."
        exit 0
    fi
    "$engine" -stop
    ;;
console)
    if [[ ! -x $console ]]; then
        echo "There is no console program in build/ (it needs Qt 6: NORVANE_GUI=ON)." >&2
        exit 1
    fi
    mkdir -p "$XDG_CONFIG_HOME"
    exec "$console" "${@:2}"
    ;;
*)
    echo "usage: $0 start|stop|console" >&2
    exit 2
    ;;
esac

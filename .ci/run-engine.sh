#!/bin/bash
# `make run` and `make stop`: the engine of this checkout, with its state in ./var.
#   run-engine.sh start   imports engine/starter.reg into a fresh ./var, installs the service
#                         (again, if it was installed from another checkout) and starts it
#   run-engine.sh stop    stops it
#   run-engine.sh console starts the console with the same state folder and settings
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
engine=$root/build/engine/NorvaneEngine
console=$root/build/console/Wardenhall
nvreg=$root/build/tools/nvreg/nvreg

export NORVANE_STATE_DIR=$root/var
export XDG_CONFIG_HOME=$root/var/config
export NORVANE_EVENTLOG_FILE=$root/var/events.log
export NORVANE_TRACE_FILE=$root/var/trace.log
service_key='HKLM\SYSTEM\CurrentControlSet\Services\NorvaneEngine'

case "${1:-}" in
start)
    mkdir -p "$NORVANE_STATE_DIR"
    chmod 700 "$NORVANE_STATE_DIR"
    if [[ ! -e $NORVANE_STATE_DIR/machine.db ]]; then
        "$nvreg" import "$root/engine/starter.reg"
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
The engine runs with its state in ./var:
  events      var/events.log      (also syslog, ident NorvaneEngine)
  traces      var/trace.log
  settings    build/tools/nvreg/nvreg with NORVANE_STATE_DIR=$root/var
Stop it with: make stop
Administer it with: make console
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

#!/usr/bin/env bash
# Installs the peer packages into a venv of their own (never the project's
# .venv): $PEERS_HOME/venv, /tmp/tarnwell-peers/venv by default. Each pip requirement
# is dry-run first and refused if it would pull anything outside
# check_pull.py's allow-list. RESET=1 recreates the venv.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
PEERS_HOME="${PEERS_HOME:-/tmp/tarnwell-peers}"
VENV="$PEERS_HOME/venv"
LOG="$PEERS_HOME/install.log"
mkdir -p "$PEERS_HOME"
: > "$LOG"
if [ "${RESET:-0}" = 1 ]; then rm -rf "$VENV"; fi
[ -x "$VENV/bin/python" ] || python3 -m venv "$VENV"
PIP="$VENV/bin/pip"
"$PIP" install -q --upgrade pip >> "$LOG" 2>&1

install_spec() {  # install_spec NAME [pip args...]: dry-run, check, install
  local name="$1"; shift
  local report="$PEERS_HOME/dry_${name}.json"
  if ! "$PIP" install --dry-run --report "$report" "$@" >> "$LOG" 2>&1; then
    echo "$name: dry-run failed (see $LOG)"; return 1
  fi
  if ! "$VENV/bin/python" "$HERE/check_pull.py" "$report" | tee -a "$LOG"; then
    echo "$name: NOT installed"; return 1
  fi
  "$PIP" install "$@" >> "$LOG" 2>&1 && echo "$name: installed"
}

# Cython < 3 and --no-build-isolation: changepoint-cython's setup.py needs
# Cython at build time without declaring it, and its sources use implicit
# relative cimports that Cython 3 rejects. skchange only with its numba extra:
# its test and development extras pull in packages this project must not install.
install_spec base "numpy==2.4.6" "cython==0.29.37" setuptools wheel
install_spec skchange "skchange[numba]==0.18.0" "numpy==2.4.6"
install_spec fastcpd "fastcpd==1.3.1" "numpy==2.4.6"
install_spec changepoint-cython --no-build-isolation "changepoint-cython==0.1.3" "numpy==2.4.6"
"$PIP" list 2>/dev/null > "$PEERS_HOME/pip_list.txt"

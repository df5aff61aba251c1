#!/usr/bin/env bash
# The main job on the host: builds the setup program over the simulated
# Windows and runs it on the built-in default profile (an elevated
# administrator on a machine with the agent installed), then once more as the
# local system account, the way a deployment tool runs it: only that account
# may start the tray program in the console user's session. The host program
# prints what happened (message boxes, processes started, files written);
# this adds the service calls and the file operations from the trace and the
# sandbox's files, and leaves the sandbox behind.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake --preset host
cmake --build --preset host --target SablewickAgentSetup -j "$(nproc)"

demo_run() {
  local title=$1 profile=$2
  local run_dir sandbox trace status=0
  run_dir=$(mktemp -d "${TMPDIR:-/tmp}/sablewick-demo.XXXXXX")
  sandbox=$run_dir/sandbox
  trace=$run_dir/trace.jsonl

  echo
  echo "==== $title"
  if [ -n "$profile" ]; then
    WINSIM_PROFILE=$profile WINSIM_ROOT=$sandbox WINSIM_TRACE=$trace ./build/host/SablewickAgentSetup || status=$?
  else
    WINSIM_ROOT=$sandbox WINSIM_TRACE=$trace ./build/host/SablewickAgentSetup || status=$?
  fi
  echo "exit code: $status"

  echo
  if [ ! -s "$trace" ]; then
    echo "no trace was written to $trace"
  else
    echo "==== Service control, from the trace"
    # lastError counts only when the call failed; a success leaves an older one.
    jq -r 'def outcome: " -> " + (.result | tostring)
                        + (if .result == 0 or .result == false or .result == null
                           then " (failed, last error " + (.lastError | tostring) + ")" else "" end);
           if .call == "OpenServiceW" then "  OpenServiceW " + (.args.lpServiceName | tostring) + outcome
           elif .call == "ControlService" then "  ControlService dwControl=" + (.args.dwControl | tostring) + outcome
           elif .call == "StartServiceW" then "  StartServiceW" + outcome
           else empty end' "$trace"
    echo "  QueryServiceStatusEx polls: $(jq -r 'select(.call == "QueryServiceStatusEx") | .call' "$trace" | wc -l)"

    echo
    echo "==== File operations in the sandbox, from the trace (existence tests left out)"
    jq -r 'select(has("errno") and .call != "stat")
           | "  " + .call + " " + .args.path
             + (if .args.newPath then " -> " + .args.newPath else "" end)
             + (if .call == "write" then " (" + (.result | tostring) + " bytes)" else "" end)
             + (if .errno then " failed: " + .errno else "" end)' "$trace"

    echo
    echo "==== Trace: $(wc -l < "$trace") calls and file operations in $trace"
  fi

  echo
  echo "==== Files in the sandbox after the run"
  if [ -d "$sandbox" ]; then
    (cd "$sandbox" && find . -type f -printf '  %10s  %P\n' | sort -k2)
  else
    echo "  (no sandbox was made)"
  fi

  echo
  echo "Sandbox left in place: $sandbox"
}

demo_run "Running build/host/SablewickAgentSetup (default profile: an elevated administrator)" ""
demo_run "The same first installation as the local system account (examples/profiles/local-system.json)" examples/profiles/local-system.json

#!/usr/bin/env bash
# The main job on the host: builds the setup program over the simulated
# Windows and runs it once on the built-in default profile (an elevated
# administrator on a machine with the agent installed). Prints what the
# program did and leaves the sandbox, the simulated machine's files, behind.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake --preset host
cmake --build --preset host --target SablewickAgentSetup -j "$(nproc)"

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/sablewick-demo.XXXXXX")
sandbox=$run_dir/sandbox
trace=$run_dir/trace.jsonl

echo
echo "==== Running build/host/SablewickAgentSetup"
status=0
WINSIM_ROOT=$sandbox WINSIM_TRACE=$trace ./build/host/SablewickAgentSetup || status=$?
echo "exit code: $status"

echo
if [ ! -s "$trace" ]; then
  echo "no trace was written to $trace"
else
  echo "==== Message boxes"
  jq -r 'select(.call == "MessageBoxW")
         | "  [" + (.args.lpCaption // "" | tostring) + "] "
           + (.args.lpText // "" | tostring | gsub("\r\n"; "\n    "))' "$trace"

  echo
  echo "==== Processes started"
  jq -r 'def words: map(select(. != null and . != "") | tostring) | join(" ");
         def outcome: if .result == false or .result == 0 or .result == null
                      then "failed, last error " + (.lastError | tostring) else "ok" end;
         if .call == "ShellExecuteExW" then
           ([.args | .. | objects | select(has("lpFile"))][0] // {}) as $i
           | "  " + ([.call, $i.lpVerb, $i.lpFile, $i.lpParameters] | words) + "  (" + outcome + ")"
         elif .call == "CreateProcessAsUserW" or .call == "CreateProcessW" then
           "  " + ([.call, .args.lpApplicationName, .args.lpCommandLine] | words) + "  (" + outcome + ")"
         else empty end' "$trace"

  echo
  echo "==== Service control"
  jq -r 'select(.call == "OpenServiceW" or .call == "ControlService" or .call == "StartServiceW")
         | "  " + .call + " " + (.args | tojson | .[0:160])' "$trace"

  echo
  echo "==== Trace: $(wc -l < "$trace") calls in $trace"
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

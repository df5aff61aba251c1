#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine: SablewickAgentSetup.exe,
# built with MinGW-w64 around the test agent's package (tests/wine/agent), is
# run in a fresh Wine prefix as an administrator would run it, against Wine's
# own Windows Installer and service control manager. Each scenario judges the
# run by what it left on the Windows disk, in the service manager and among
# the running processes, never by what the program says. Last, the host
# build runs the first installation on a simulated machine with the values
# Wine reported, and both must write the same files, byte for byte; then the
# company-id cases, which must end as they ended under Wine.
#
#   bash tests/wine/run.sh          # builds what it needs, then runs
#
# WINE_TEST_JOBS: build parallelism (default: every processor).
# WINE_TEST_KEEP=1 keeps the prefix and the logs (kept anyway on a failure).
# Prints "wine e2e: <n> scenarios, <n> checks, <n> failures"; exits non-zero
# on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
jobs=${WINE_TEST_JOBS:-$(nproc)}
toolchain=$root/cmake/toolchain-mingw-w64-x86_64-posix.cmake
agent_build=$root/build/wine-agent
setup_build=$root/build/windows-mingw-wine
host_program=$root/build/host/SablewickAgentSetup

# ------------------------------------------------------------------ build
build() {
  local boost
  boost=$(bash scripts/build-boost-mingw.sh) || return 1
  cmake -S tests/wine/agent -B "$agent_build" -G Ninja --toolchain "$toolchain" >/dev/null &&
    cmake --build "$agent_build" -j "$jobs" >/dev/null &&
    cmake -S . -B "$setup_build" -G Ninja --toolchain "$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DSABLEWICK_TESTS=OFF -DBoost_ROOT="$boost" \
      -DSABLEWICK_MSI="$agent_build/SablewickRemote.msi" >/dev/null &&
    cmake --build "$setup_build" -j "$jobs" >/dev/null &&
    cmake --preset host >/dev/null &&
    cmake --build --preset host -j "$jobs" --target SablewickAgentSetup >/dev/null
}
if ! build; then
  echo "wine e2e: the build failed" >&2
  exit 1
fi

# ------------------------------------------------------------------ the prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/sablewick-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer prompts; no display at all.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

scenarios=0 checks=0 failures=0
finish() {
  wineserver -k >/dev/null 2>&1
  if [ "$failures" -eq 0 ] && [ "${WINE_TEST_KEEP:-0}" != 1 ]; then
    rm -rf "$work"
  else
    echo "wine e2e: prefix and logs kept in $work"
  fi
}
trap finish EXIT

drive_c=$WINEPREFIX/drive_c
data_dir="$drive_c/ProgramData/Sablewick/Sablewick Remote"
cfg="$data_dir/SablewickRemote.cfg"
dat="$data_dir/SablewickRemote.dat"
msi_log="$data_dir/SablewickRemote Msi/log_v1.0.45.1871.log"
records=$drive_c/ProgramData/SablewickAgentTest
agent_dir_win='C:\Program Files\Sablewick\Sablewick Remote'
setup_win='C:\users\Public\Downloads\SablewickAgentSetup.exe'
# What the test agent's installer step leaves in the configuration file
# (tests/wine/agent/service.cpp), and the marker file that makes it take the
# line out instead.
installed_tray_port_line='tray-port = 27015'
no_tray_port_marker=$records/installer-leaves-no-tray-port
template=$root/resources/SablewickRemote.cfg
nil_id=00000000-0000-0000-0000-000000000000

# Nothing Wine does may hold CI up: every call has a time limit.
quiet() { timeout 300 "$@" >>"$work/wine.log" 2>&1; }

start=$SECONDS
# The first boot of a prefix takes its time; wineserver -w waits until every
# service of the boot has settled, or later service starts race with it.
quiet wineboot -i
quiet wineserver -w
# The C: volume serial Wine reports is this file's hex text; it is read
# when the server starts, so it is written before the server that the suite
# keeps running (one server for all runs: service starts race otherwise).
printf 'f2c84e61\n' >"$drive_c/.windows-serial"
wineserver -p
# Wine's .msi association drops the parameters; Windows passes them on.
msi_open_key='HKCR\Msi.Package\shell\Open\command'
msi_open_command='C:\windows\system32\msiexec.exe /i "%1" %*'
quiet wine reg add "$msi_open_key" /ve /f /d "$msi_open_command"
mkdir -p "$drive_c/users/Public/Downloads"
cp "$setup_build/SablewickAgentSetup.exe" "$drive_c/users/Public/Downloads/"
echo "wine e2e: prefix ready in $((SECONDS - start)) s"

# ------------------------------------------------------------------ machine values
# The computer identity is computed here from what Wine reports, apart from
# the program: the first Ethernet adapter with a 6-byte address in
# GetAdaptersInfo's order, the C: volume serial in decimal, MachineGuid as
# reg query prints it, and the company id in lower case.
adapters=$(timeout 60 wine "$agent_build/machine_values.exe" 2>>"$work/wine.log" | tr -d '\r')
mac=$(awk '$1 == "adapter" && $2 == 6 && split($3, b, ":") == 6 { gsub(":", "", $3); print $3; exit }' <<<"$adapters")
mac=${mac:-000000000000}
serial=$((16#$(tr -d '\r\n' <"$drive_c/.windows-serial")))
machine_guid=$(timeout 60 wine reg query 'HKLM\SOFTWARE\Microsoft\Cryptography' /v MachineGuid 2>>"$work/wine.log" |
  tr -d '\r' | awk '$1 == "MachineGuid" { print $3 }')

computer_id() {  # company id (lower case)
  local hex
  hex=$(printf '%s' "$mac$serial$machine_guid$1" | sha1sum | cut -c1-32)
  echo "${hex:0:8}-${hex:8:4}-${hex:12:4}-${hex:16:4}-${hex:20:12}"
}
settings_record() {  # company id (lower case) -> the 146-byte settings file
  printf '22 serialization::archive 19 0 2 %s %s 1 %s\n' "$1" "$(computer_id "$1")" "$nil_id"
}
# The text with its "tray-port" line (from the first "tray-port" to the line
# feed) replaced by the given line; unchanged when it has none.
with_tray_port_line() {  # file line
  LINE=$2 perl -0777 -pe 's/tray-port[^\n]*/$ENV{LINE}/' "$1"
}
tray_port_line() {  # file -> its tray-port line, line feed excluded
  perl -0777 -ne 'print $1 if /(tray-port[^\n]*)/' "$1"
}
# The file as a user edits it: another server address, the given tray-port
# line (none when empty) and one more line after it, each ending in CR LF.
hand_edited() {  # file [tray-port line]
  perl -0777 -pe 's/server-address = [^\r\n]*/server-address = edited.example.com/' "$1"
  [ -n "${2:-}" ] && printf '%s\r\n' "$2"
  printf 'log-level = debug\r\n'
}
# The file as the test agent's installer step leaves it: its line replaces
# the tray-port line up to a carriage return before the line feed, or is
# appended.
after_installer_step() {  # file
  if grep -q tray-port "$1"; then
    LINE=$installed_tray_port_line perl -0777 -pe 's/tray-port[^\n]*?(?=\r?(?:\n|\z))/$ENV{LINE}/' "$1"
  else
    cat "$1"
    printf '%s\r\n' "$installed_tray_port_line"
  fi
}

# ------------------------------------------------------------------ state readers
# The service's command line as the service manager keeps it.
service_image_path() {
  timeout 60 wine reg query 'HKLM\System\CurrentControlSet\Services\SablewickRemote' /v ImagePath \
    2>>"$work/wine.log" | tr -d '\r' | sed -n 's/^ *ImagePath *REG_SZ *//p'
}
service_state() {
  timeout 60 wine sc query SablewickRemote 2>>"$work/wine.log" | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
}
record_lines() {  # record name [pattern]
  local file=$records/$1.log
  [ -f "$file" ] || { echo 0; return; }
  grep -c -- "${2:-}" "$file"
}
# Processes of this prefix running the named program.
running() {  # image name
  local pid count=0
  for pid in $(pgrep -f -- "$1" 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
      count=$((count + 1))
  done
  echo "$count"
}
temporary_packages() {
  find "$drive_c" -name 'sablewick_remote_*.msi' 2>/dev/null | wc -l
}

# ------------------------------------------------------------------ checks
scenario=""
# Each scenario's figures, as the fault sweep prints its roads'.
end_scenario() {
  [ -n "$scenario" ] &&
    echo "wine e2e: $scenario: $((checks - scenario_checks)) checks, $((failures - scenario_failures)) failures"
}
begin() {
  end_scenario
  scenario=$1
  scenario_checks=$checks
  scenario_failures=$failures
  scenarios=$((scenarios + 1))
  starts_before=$(record_lines SablewickRemote '^start ')
  installs_before=$(record_lines SablewickRemote '^installer')
  trays_before=$(record_lines SablewickTrayAgent)
  service_before=$(service_state)
}
check() {  # description command...
  local what=$1
  shift
  checks=$((checks + 1))
  if ! "$@"; then
    failures=$((failures + 1))
    echo "wine e2e: $scenario: FAILED: $what"
  fi
}
same() { cmp -s "$1" "$2"; }
equal() { [ "$1" = "$2" ]; }
# The setup program does not wait for what it starts: the tray program and
# the service write their records a moment after it has ended.
wait_until() {  # seconds command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}
new_lines() {  # record pattern before
  echo $(($(record_lines "$1" "$2") - $3))
}

run_setup() {  # arguments...
  local code
  timeout 300 wine "$setup_win" "$@" >>"$work/setup-$scenarios.log" 2>&1
  code=$?
  check "exit code 0 (was $code)" equal "$code" 0
}

check_installer_ran() {  # expected UILevel
  check "installer ran once" equal "$(new_lines SablewickRemote '^installer' "$installs_before")" 1
  check "installer got TRAY_MODE, ONETIME_MODE and ONETIME_ID" equal \
    "$(grep '^installer' "$records/SablewickRemote.log" | tail -n 1 | tr -d '\r')" \
    "installer install manytimes $nil_id"
  check "installer log under SablewickRemote Msi" test -s "$msi_log"
  check "installer log: UILevel $1" grep -aq "UILevel = $1" "$msi_log"
}
check_installer_not_run() {
  check "installer not run" equal "$(record_lines SablewickRemote '^installer')" "$installs_before"
  check "no installer log" test ! -e "$msi_log"
}
# restarted: stopped and started by the run, and running.
# untouched: not started, in the state it had before the run.
# stopped-by-installer: not started; the package's ServiceControl stops the
#   service during the installation and nothing starts it again.
check_service() {  # restarted|untouched|stopped-by-installer
  if [ "$1" = restarted ]; then
    wait_until 10 service_started
    check "service restarted once" equal "$(new_lines SablewickRemote '^start ' "$starts_before")" 1
    check "service running" equal "$(service_state)" RUNNING
    return
  fi
  check "service not started" equal "$(new_lines SablewickRemote '^start ' "$starts_before")" 0
  if [ "$1" = untouched ]; then
    check "service state as before ($service_before)" equal "$(service_state)" "$service_before"
  else
    check "service stopped by the installer, left stopped" equal "$(service_state)" STOPPED
  fi
}
# Wine hands a started program its path quoted whatever the caller gave it,
# so the record cannot tell whether the program quoted it: the scenario with
# C:\Program.exe planted does.
check_tray_started() {
  wait_until 10 tray_started
  check "tray program started once" equal "$(new_lines SablewickTrayAgent '' "$trays_before")" 1
  check "tray program: its path, agent folder as working folder" equal \
    "$(tail -n 1 "$records/SablewickTrayAgent.log" | tr -d '\r')" \
    "\"$agent_dir_win\\SablewickTrayAgent.exe\"|$agent_dir_win"
  check "one tray program running (the old one ended)" equal "$(running SablewickTrayAgent.exe)" 1
}
service_started() { [ "$(new_lines SablewickRemote '^start ' "$starts_before")" -ge 1 ]; }
tray_started() { [ "$(new_lines SablewickTrayAgent '' "$trays_before")" -ge 1 ]; }
check_tray_not_started() {
  # What would have been started has had the time to show itself.
  sleep 1
  check "tray program not started" equal "$(new_lines SablewickTrayAgent '' "$trays_before")" 0
}
check_no_temporary_package() {
  check "no temporary package left" equal "$(temporary_packages)" 0
}
# A run that stopped before anything: both files as they were before it
# (saved in $expected), nothing installed, stopped or started.
check_nothing_done() {
  check "configuration: unchanged" same "$cfg" "$expected/before.cfg"
  check "settings: unchanged" same "$dat" "$expected/before.dat"
  check_installer_not_run
  check_service untouched
  check_tray_not_started
}

company_upper=0A1B2C3D-0000-4000-8000-00000000ABCD
company=0a1b2c3d-0000-4000-8000-00000000abcd
expected=$work/expected
mkdir -p "$expected"

# ------------------------------------------------------------------ a machine with the agent
# The agent as an earlier installation left it: installed, its service
# running, its files in place with another company's identity, the remote
# desktop program running.
quiet wine msiexec /i "$agent_build/SablewickRemote.msi" /qn
quiet wine sc start SablewickRemote
mkdir -p "$data_dir"
{ cat "$template"; printf '%s\r\n' "$installed_tray_port_line"; } >"$cfg"
printf '22 serialization::archive 19 0 2 11111111-2222-4333-8444-555555555555 %s 1 %s\n' \
  9f0e1d2c-3b4a-5968-7786-95a4b3c2d1e0 "$nil_id" >"$dat"
quiet wine start /b "$agent_dir_win\\SablewickRemoteDesktop.exe"
desktop_running() { [ "$(running SablewickRemoteDesktop.exe)" -ge 1 ]; }
wait_until 10 desktop_running

# ------------------------------------------------------------------ scenarios
begin "first installation, silent, upper-case company id"
after_installer_step "$template" >"$expected/installed.cfg"
line=$(tray_port_line "$expected/installed.cfg")
if grep -q tray-port "$template"; then
  with_tray_port_line "$template" "$line" >"$expected/first.cfg"
else
  cp "$template" "$expected/first.cfg"
fi
settings_record "$company" >"$expected/first.dat"
run_setup --silent --company_id="$company_upper"
check "configuration: the template, the installer's tray-port line only in a line of its own" same "$cfg" "$expected/first.cfg"
check "settings: 146 bytes" equal "$(stat -c %s "$dat")" 146
check "settings: lower-case company id, computer id from Wine's values" same "$dat" "$expected/first.dat"
check_installer_ran 2
check_service restarted
check_tray_started
check "remote desktop program ended" equal "$(running SablewickRemoteDesktop.exe)" 0
check_no_temporary_package
cp "$cfg" "$work/wine-first.cfg"
cp "$dat" "$work/wine-first.dat"

begin "update, both files present, configuration edited by hand"
# The user's port differs from the installer's, so the carried line shows.
hand_edited "$cfg" 'tray-port = 30001' >"$work/edited.cfg"
hand_edited "$cfg" "$installed_tray_port_line" >"$expected/update.cfg"
cp "$work/edited.cfg" "$cfg"
cp "$dat" "$expected/kept.dat"
rm -f "$msi_log"
run_setup --silent --update --company_id=22222222-3333-4444-8555-666666666666
check "configuration: the edited file, with the installer's tray-port line" same "$cfg" "$expected/update.cfg"
check "settings: unchanged" same "$dat" "$expected/kept.dat"
check_installer_ran 2
check_service stopped-by-installer
check_tray_started
check_no_temporary_package

begin "update, the user's configuration without a tray-port line"
# The installer appends its line; the write-back takes it out again.
hand_edited "$template" >"$work/edited.cfg"
cp "$work/edited.cfg" "$cfg"
rm -f "$msi_log"
run_setup --silent --update
check "configuration: the user's text, unchanged" same "$cfg" "$work/edited.cfg"
check_installer_ran 2

begin "update, the installer leaves no tray-port line"
hand_edited "$template" 'tray-port = 30001' >"$work/edited.cfg"
cp "$work/edited.cfg" "$cfg"
touch "$no_tray_port_marker"
rm -f "$msi_log"
run_setup --silent --update
rm -f "$no_tray_port_marker"
check "configuration: the user's text with the user's tray-port line" same "$cfg" "$work/edited.cfg"
check_installer_ran 2

begin "update, C:\\Program.exe planted"
# Wine's installer registers the service with its path unquoted, blanks and
# all, as some packages do on Windows. An unquoted command line beginning
# "C:\Program Files\..." starts C:\Program.exe when there is one, so the
# program that starts tells whether the tray program's path was quoted.
check "service registered with an unquoted path with blanks" equal \
  "$(service_image_path)" "$agent_dir_win\\SablewickRemote.exe"
cp "$agent_build/planted_program.exe" "$drive_c/Program.exe"
rm -f "$msi_log"
run_setup --silent --update
check_tray_started
check "C:\\Program.exe not started" equal "$(record_lines Program)" 0
rm -f "$drive_c/Program.exe"

begin "update, both files missing"
rm -f "$cfg" "$dat" "$msi_log"
after_installer_step "$template" >"$expected/missing.cfg"
run_setup --silent --update --company_id="$company_upper"
check "configuration: the template as the installer left it" same "$cfg" "$expected/missing.cfg"
check "settings: written, with both identities" same "$dat" "$expected/first.dat"
check_installer_ran 2
check_service stopped-by-installer
check_tray_started
check_no_temporary_package

begin "bad company id, interactive: nothing lost"
cp "$cfg" "$expected/before.cfg"
cp "$dat" "$expected/before.dat"
rm -f "$msi_log"
# No display: the message box cannot appear (Wine reports it and the call
# returns), so the run is judged by its outcome.
run_setup --company_id=not-a-company-id
check_nothing_done
check_no_temporary_package

begin "silent first installation, settings file read-only and in use"
# Another company's record, so that "unchanged" tells. Windows refuses to
# remove a read-only file and to rename another file over it; Wine refuses
# the first only, so the file is also held open, shared with nobody, by
# another program, which both refuse.
settings_win='C:\ProgramData\Sablewick\Sablewick Remote\SablewickRemote.dat'
printf '22 serialization::archive 19 0 2 11111111-2222-4333-8444-555555555555 %s 1 %s\n' \
  9f0e1d2c-3b4a-5968-7786-95a4b3c2d1e0 "$nil_id" >"$dat"
cp "$dat" "$expected/before.dat"
quiet wine attrib +r "$settings_win"
wine "$agent_build/hold_file.exe" "$settings_win" >"$work/hold.out" 2>>"$work/wine.log" &
holder=$!
file_held() { grep -q held "$work/hold.out"; }
wait_until 10 file_held
rm -f "$msi_log"
run_setup --silent --company_id="$company_upper"
check "settings: unchanged" same "$dat" "$expected/before.dat"
# Wine keeps the read-only attribute as the file's missing write permission.
check "settings: still read-only" equal "$(stat -c %A "$dat" | cut -c3)" -
check "configuration: the template (replaced before the settings file)" same "$cfg" "$template"
check_installer_not_run
check_service untouched
check_tray_not_started
check_no_temporary_package
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
quiet wine attrib -r "$settings_win"

begin "interactive first installation (/qb)"
rm -f "$msi_log"
run_setup --company_id="$company_upper"
check "configuration: the template, the installer's tray-port line only in a line of its own" same "$cfg" "$expected/first.cfg"
check "settings: lower-case company id, computer id from Wine's values" same "$dat" "$expected/first.dat"
check_installer_ran 3
check_service restarted
check_tray_started
check_no_temporary_package

# ------------------------------------------------------------------ launches that wait for nobody
# The boxes a run shows, read from a relay trace of Wine's message box
# calls: the program's own box and the shell's error dialog alike, which
# Wine shows through the same calls. With no display no box appears, but
# each call is made, traced, and returns.
relay_key='HKCU\Software\Wine\Debug'
watched_limit=120
run_setup_watched() {  # arguments...
  local code
  WINEDEBUG=+relay timeout "$watched_limit" wine "$setup_win" "$@" \
    >>"$work/setup-$scenarios.log" 2>"$work/relay-$scenarios.log"
  code=$?
  check "ended by itself within $watched_limit s, exit code 0 (was $code)" equal "$code" 0
}
boxes_shown() {
  grep -c ':Call user32\.MessageBox' "$work/relay-$scenarios.log"
}
message_box_calls='user32.MessageBoxA;user32.MessageBoxW;user32.MessageBoxExA;user32.MessageBoxExW'
message_box_calls+=';user32.MessageBoxIndirectA;user32.MessageBoxIndirectW'
message_box_calls+=';user32.MessageBoxTimeoutA;user32.MessageBoxTimeoutW'
# No program registered to open a package: the shell cannot run the
# installer. Windows would show its own error dialog for that, and wait for
# someone to close it, unless the launch asks for none.
for mode in silent interactive; do
  begin "no program to open the package, $mode: at most the program's own box"
  quiet wine reg add "$relay_key" /v RelayInclude /f /d "$message_box_calls"
  quiet wine reg delete "$msi_open_key" /f
  rm -f "$msi_log"
  if [ "$mode" = silent ]; then
    run_setup_watched --silent --company_id="$company_upper"
    check "no box" equal "$(boxes_shown)" 0
  else
    run_setup_watched --company_id="$company_upper"
    check "one box, the program's own" equal "$(boxes_shown)" 1
  fi
  check_installer_not_run
  check_service untouched
  check_tray_not_started
  check_no_temporary_package
  quiet wine reg add "$msi_open_key" /ve /f /d "$msi_open_command"
  quiet wine reg delete "$relay_key" /v RelayInclude /f
done

# A service registered with a path that is not absolute: the program must
# not look for the tray program from its own current folder (C:\ here),
# where a program planted as C:\Sablewick\SablewickTrayAgent.exe waits.
registered_path() {
  timeout 60 wine "$agent_build/service_path.exe" SablewickRemote 2>>"$work/wine.log" | tr -d '\r'
}
register_path() {  # path text
  quiet wine "$agent_build/service_path.exe" SablewickRemote "$1"
}
service_path=$(registered_path)
mkdir -p "$drive_c/Sablewick"
cp "$agent_build/agent_tray.exe" "$drive_c/Sablewick/SablewickTrayAgent.exe"
for relative in 'Sablewick\SablewickRemote.exe' '.\Sablewick\SablewickRemote.exe' 'C:Sablewick\SablewickRemote.exe'; do
  begin "service registered as $relative: no tray program started"
  register_path "$relative"
  check "service registered as $relative" equal "$(registered_path)" "$relative"
  rm -f "$msi_log"
  cd "$drive_c"
  run_setup --silent --company_id="$company_upper"
  cd "$root"
  check_tray_not_started
  check "service still registered as $relative after the run" equal "$(registered_path)" "$relative"
  register_path "$service_path"
  check "service registration restored" equal "$(registered_path)" "$service_path"
  # What a wrong lookup would have started must not outlive its scenario.
  quiet wine taskkill /F /IM SablewickTrayAgent.exe
  quiet wine sc start SablewickRemote
done
rm -rf "$drive_c/Sablewick"

# ------------------------------------------------------------------ the company id as 8-bit text
# The program stores the company id as 8-bit text through the C runtime's
# "C" locale, which holds the characters up to U+00FF, one byte each. Wine
# hands the program its arguments in the Unix locale's encoding, and drops
# what it cannot read: these runs name UTF-8.
company_latin1=${company_upper}$'\xc3\xa9'   # U+00E9
company_beyond=${company_upper}$'\xc4\x80'   # U+0100

begin "company id with a letter up to U+00FF, first installation: the program's own report"
cp "$cfg" "$expected/before.cfg"
cp "$dat" "$expected/before.dat"
rm -f "$msi_log"
LC_ALL=C.UTF-8 run_setup --company_id="$company_latin1"
check_nothing_done
check_no_temporary_package

# What an update leaves of the given configuration file: the file, with the
# line the installer's step leaves in it.
updated_configuration() {  # file
  after_installer_step "$1" >"$work/installed.cfg"
  with_tray_port_line "$1" "$(tray_port_line "$work/installed.cfg")"
}

begin "company id with a letter up to U+00FF, update with both files: it installs"
updated_configuration "$expected/before.cfg" >"$expected/update.cfg"
LC_ALL=C.UTF-8 run_setup --silent --update --company_id="$company_latin1"
check "configuration: as before, with the installer's tray-port line" same "$cfg" "$expected/update.cfg"
check "settings: unchanged" same "$dat" "$expected/before.dat"
check_installer_ran 2
check_service stopped-by-installer
check_tray_started
check_no_temporary_package

begin "company id with a letter beyond U+00FF, update: the run ends before anything"
cp "$cfg" "$expected/before.cfg"
rm -f "$msi_log"
LC_ALL=C.UTF-8 run_setup --silent --update --company_id="$company_beyond"
check_nothing_done
check_no_temporary_package

# ------------------------------------------------------------------ links planted before the run
# The program runs elevated in folders where a standard user may have been
# before it: the agent's folders under ProgramData and the temporary folder.
# Under Wine a Unix symbolic link stands in for Windows' links: to a file, it
# acts as an object-manager link reached through a junction does (the name
# has the target's attributes, and opening or deleting the name reaches the
# target); to a folder, as a junction. Each link leads to a file or folder of
# another user's, in C:\users\Public or outside drive_c (Z:), whose bytes
# are written to the expected folder before the run.
public_dir=$drive_c/users/Public
outside=$work/outside
mkdir -p "$outside"
# Every entry under the folder with its type, and every file with its size
# and checksum; links are listed, not followed.
tree_listing() {  # folder
  (cd "$1" && find . -mindepth 1 -printf '%y %p\n' | sort &&
    find . -type f -printf '%s %p\n' | sort &&
    find . -type f -exec sha256sum {} + | sort)
}
installer_record_unchanged() {
  equal "$(record_lines SablewickRemote '^installer')" "$installs_before"
}
# The plain files under the folder that hold exactly the given file's bytes.
files_holding() {  # folder file
  find "$1" -type f -exec cmp -s {} "$2" \; -print | wc -l
}

begin "links at the side files' names: a first installation, the links' targets untouched"
printf 'Another user'"'"'s file: the configuration'"'"'s side name led here.\r\n' >"$expected/cfg-side-target"
printf 'Another user'"'"'s file: the settings'"'"' side name led here.\r\n' >"$expected/dat-side-target"
cp "$expected/cfg-side-target" "$public_dir/cfg-side-target.txt"
cp "$expected/dat-side-target" "$outside/dat-side-target.txt"
ln -s "$public_dir/cfg-side-target.txt" "$cfg.new"
ln -s "$outside/dat-side-target.txt" "$dat.new"
rm -f "$msi_log"
run_setup --silent --company_id="$company_upper"
check "configuration: the template, the installer's tray-port line only in a line of its own" same "$cfg" "$expected/first.cfg"
check "settings: lower-case company id, computer id from Wine's values" same "$dat" "$expected/first.dat"
check_installer_ran 2
check_service restarted
check_tray_started
check_no_temporary_package
check "the configuration side link's target: still there, its bytes" same "$public_dir/cfg-side-target.txt" "$expected/cfg-side-target"
check "the settings side link's target: still there, its bytes" same "$outside/dat-side-target.txt" "$expected/dat-side-target"
rm -f "$cfg.new" "$dat.new" "$public_dir/cfg-side-target.txt" "$outside/dat-side-target.txt"

begin "C:\\ProgramData\\Sablewick a link to another folder: the run stops, the other folder untouched"
# The other folder holds files at every name the run writes or the installer
# logs to.
sablewick_dir=$drive_c/ProgramData/Sablewick
other_sablewick=$outside/other-sablewick
mv "$sablewick_dir" "$work/sablewick-aside"
mkdir -p "$other_sablewick/Sablewick Remote/SablewickRemote Msi"
printf 'server-address = other.example.com\r\n' >"$other_sablewick/Sablewick Remote/SablewickRemote.cfg"
printf 'Another user'"'"'s settings.\n' >"$other_sablewick/Sablewick Remote/SablewickRemote.dat"
printf 'Another user'"'"'s log.\r\n' >"$other_sablewick/Sablewick Remote/SablewickRemote Msi/log_v1.0.45.1871.log"
tree_listing "$other_sablewick" >"$expected/other-sablewick"
ln -s "$other_sablewick" "$sablewick_dir"
run_setup --silent --company_id="$company_upper"
tree_listing "$other_sablewick" >"$work/other-sablewick-after"
check "the other folder: the same entries, sizes and checksums" same "$work/other-sablewick-after" "$expected/other-sablewick"
check "installer not run" installer_record_unchanged
check_service untouched
check_tray_not_started
check_no_temporary_package
rm -f "$sablewick_dir"
mv "$work/sablewick-aside" "$sablewick_dir"
rm -rf "${work:?}/outside/other-sablewick"

begin "SablewickRemote Msi a link to another folder: the run stops before any file is touched"
msi_dir="$data_dir/SablewickRemote Msi"
other_msi=$public_dir/other-msi
[ -d "$msi_dir" ] && mv "$msi_dir" "$work/msi-aside"
mkdir -p "$other_msi"
printf 'Another user'"'"'s log.\r\n' >"$expected/other-log"
cp "$expected/other-log" "$other_msi/log_v1.0.45.1871.log"
ln -s "$other_msi" "$msi_dir"
# Files a first installation would replace, so that "unchanged" tells (the
# copies kept apart from before.*, which the host build's cases read).
hand_edited "$template" 'tray-port = 30001' >"$cfg"
printf '22 serialization::archive 19 0 2 11111111-2222-4333-8444-555555555555 %s 1 %s\n' \
  9f0e1d2c-3b4a-5968-7786-95a4b3c2d1e0 "$nil_id" >"$dat"
cp "$cfg" "$expected/msi-link.cfg"
cp "$dat" "$expected/msi-link.dat"
run_setup --silent --company_id="$company_upper"
check "configuration: unchanged" same "$cfg" "$expected/msi-link.cfg"
check "settings: unchanged" same "$dat" "$expected/msi-link.dat"
check "the other folder's log: its bytes" same "$other_msi/log_v1.0.45.1871.log" "$expected/other-log"
check "the other folder: nothing added" equal "$(ls -A "$other_msi")" log_v1.0.45.1871.log
check "installer not run" installer_record_unchanged
check_service untouched
check_tray_not_started
check_no_temporary_package
rm -f "$msi_dir"
[ -d "$work/msi-aside" ] && mv "$work/msi-aside" "$msi_dir"
rm -rf "${work:?}/prefix/drive_c/users/Public/other-msi"

begin "the installer log's name a link to a file elsewhere: the log written at its own name"
# The installer opens its log following links: the program puts a file of
# its own at the name first.
printf 'Another user'"'"'s file: the log'"'"'s name led here.\r\n' >"$expected/log-target"
cp "$expected/log-target" "$outside/log-target.txt"
mkdir -p "$data_dir/SablewickRemote Msi"
rm -f "$msi_log"
ln -s "$outside/log-target.txt" "$msi_log"
run_setup --silent --update
check "the log link's target: its bytes" same "$outside/log-target.txt" "$expected/log-target"
check "a file of its own at the log's name, no link" eval '[ -f "$msi_log" ] && [ ! -L "$msi_log" ]'
check_installer_ran 2
check_no_temporary_package
rm -f "$outside/log-target.txt"

begin "update, the configuration a link to a file elsewhere: its target's text not taken in"
# The target has no tray-port line and the installer's step is told to leave
# such a file alone (it writes through links, as the program must not), so
# the target's bytes are what the program makes of them.
printf 'server-address = elsewhere.example.com\r\nlog-level = debug\r\n' >"$expected/cfg-target"
cp "$expected/cfg-target" "$public_dir/cfg-target.txt"
cp "$cfg" "$work/cfg-aside"
rm -f "$cfg" "$msi_log"
ln -s "$public_dir/cfg-target.txt" "$cfg"
touch "$no_tray_port_marker"
run_setup --silent --update
rm -f "$no_tray_port_marker"
check "the link's target: its bytes" same "$public_dir/cfg-target.txt" "$expected/cfg-target"
check "no file in the agent folder holds the target's bytes" equal \
  "$(files_holding "$drive_c/ProgramData/Sablewick" "$expected/cfg-target")" 0
check_installer_ran 2
check_no_temporary_package
rm -f "$cfg" "$public_dir/cfg-target.txt"
mv "$work/cfg-aside" "$cfg"

# ------------------------------------------------------------------ a program that swaps the package
# swap_package.exe (tests/wine/agent) polls the temporary folder, the one the
# setup program uses (both are started by wine from this shell, so both see
# the same TMP), and from the moment it sees the temporary package tries in
# turn to write its own package over it, to rename its own over it and to
# delete it, until it is told to stop or its own package is in place. Its
# package leaves a marker file when installed. Under Wine every program is an
# administrator and descriptors are not enforced, so the package's descriptor
# cannot keep it out: what holds is the open handle.
begin "another program tries to swap the temporary package: the agent's package or nothing"
swap_record=$records/swap_package.log
swap_stop=$records/swap-package-stop
swapped_marker=$records/swapped-package-ran
cp "$agent_build/SwappedPackage.msi" "$public_dir/SwappedPackage.msi"
rm -f "$swap_record" "$swap_stop" "$msi_log"
wine "$agent_build/swap_package.exe" 'C:\users\Public\SwappedPackage.msi' \
  'C:\ProgramData\SablewickAgentTest\swap-package-stop' >"$work/swap.out" 2>>"$work/wine.log" &
swapper=$!
swapper_watching() { grep -q watching "$work/swap.out"; }
wait_until 20 swapper_watching
run_setup --silent --company_id="$company_upper"
touch "$swap_stop"
swapper_ended() { ! kill -0 "$swapper" 2>/dev/null; }
wait_until 30 swapper_ended || kill "$swapper" 2>/dev/null
wait "$swapper" 2>/dev/null
: >"$work/swap.record"
[ -f "$swap_record" ] && tr -d '\r' <"$swap_record" >"$work/swap.record"
# Attempts per kind that Windows refused (any error but a missing file).
refused() {  # write|rename|delete
  awk -v kind="$1" '$1 == "attempts" && $2 == kind && $3 != 0 && $3 != 2 && $3 != 3 { n += $4 } END { print n + 0 }' "$work/swap.record"
}
# What got through while the installer had not reached its step: an attempt
# recorded with no more installer lines than before the run.
early_successes() {
  awk -v before="$installs_before" '$1 == "success" && $3 <= before' "$work/swap.record" | wc -l
}
installed=$(new_lines SablewickRemote '^installer' "$installs_before")
check "the swapped package never ran" test ! -e "$swapped_marker"
check "the swapping program found the package" grep -q '^found sablewick_remote_' "$work/swap.record"
if [ "$installed" -ge 1 ]; then
  # The agent's package installed: every attempt while the installer read
  # it was refused. Once the run lets go of the package, just before it
  # deletes it, an attempt may go through: that is after the installer's step.
  check_installer_ran 2
  check "nothing went through before the installer's step" equal "$(early_successes)" 0
  for kind in write rename delete; do
    check "the swapping program's attempts to $kind: refused" test "$(refused "$kind")" -ge 1
  done
else
  # Under Wine the swapping program is an administrator and the package's
  # descriptor does not keep it out, so it may get at the package between
  # the rename that gives the package its name and the open that holds it.
  # The run must then stop, starting nothing, for that reason only.
  check "stopped because the swapping program got at the package first" test "$(early_successes)" -ge 1
  check_tray_not_started
  check "service not started" equal "$(new_lines SablewickRemote '^start ' "$starts_before")" 0
fi
check_no_temporary_package
echo "wine e2e: $scenario: $(grep -c '^found ' "$work/swap.record") found;" \
  "refused: write $(refused write), rename $(refused rename), delete $(refused delete);" \
  "went through: $(early_successes) before the installer's step, $(($(grep -c '^success ' "$work/swap.record") - $(early_successes))) after;" \
  "$([ "$installed" -ge 1 ] && echo installed || echo stopped)"
if [ -e "$swapped_marker" ]; then
  quiet wine msiexec /x "$public_dir/SwappedPackage.msi" /qn
  rm -f "$swapped_marker"
fi
rm -f "$swap_stop" "$public_dir/SwappedPackage.msi"

# ------------------------------------------------------------------ the host build on the same machine
begin "host build on Wine's machine values: the same files"
adapters_json=$(awk '$1 == "adapter" {
    n += 1
    printf "%s{\"type\": %d, \"address\": \"%s\", \"index\": %d}", (n > 1 ? "," : ""), $2, $3, n
  }' <<<"$adapters")
jq --argjson adapters "[$adapters_json]" --argjson serial "$serial" --arg guid "$machine_guid" \
  --arg line "$installed_tray_port_line"$'\r\n' '
    .adapters = $adapters
    | .drives = [{"root": "C:\\", "type": "fixed", "serial": $serial, "filesystem": "NTFS"}]
    | .registry.both["SOFTWARE\\Microsoft\\Cryptography"].MachineGuid = $guid
    | .programs.msiexec.effects = [{
        "replace_line": "C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg",
        "holding": "tray-port", "line": $line}]' \
  examples/profiles/default.json >"$work/host-profile.json"
WINSIM_PROFILE=$work/host-profile.json WINSIM_ROOT=$work/host-machine \
  "$host_program" --silent --company_id="$company_upper" >"$work/host.log" 2>&1
host_code=$?
check "host run: exit code 0" equal "$host_code" 0
host_data="$work/host-machine/C/ProgramData/Sablewick/Sablewick Remote"
check "host and Wine: configuration byte for byte" same "$host_data/SablewickRemote.cfg" "$work/wine-first.cfg"
check "host and Wine: settings byte for byte" same "$host_data/SablewickRemote.dat" "$work/wine-first.dat"

# The company id cases on the host build, over the files Wine had: the
# same outcomes, judged by the files and by what the trace shows ran.
jq --rawfile cfg "$expected/before.cfg" --rawfile dat "$expected/before.dat" '
    .files["C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.cfg"] = $cfg
    | .files["C:\\ProgramData\\Sablewick\\Sablewick Remote\\SablewickRemote.dat"] = $dat' \
  "$work/host-profile.json" >"$work/host-profile-agent.json"
host_case() {  # name arguments...
  local name=$1
  shift
  WINSIM_PROFILE=$work/host-profile-agent.json WINSIM_ROOT=$work/host-$name WINSIM_TRACE=$work/host-$name.jsonl \
    "$host_program" "$@" >"$work/host-$name.log" 2>&1
  check "host run $name: exit code 0" equal "$?" 0
  host_data="$work/host-$name/C/ProgramData/Sablewick/Sablewick Remote"
}
installer_runs() {  # trace -> packages the run handed to the shell
  jq -s '[.[] | select(.call == "ShellExecuteExW" and .result != 0
    and (.args.pExecInfo.lpFile | endswith(".msi")))] | length' "$1"
}
host_case latin1-first --company_id="$company_latin1"
check "host, U+00FF, first installation: the program's own report" \
  grep -q "Failed to parse Company ID" "$work/host-latin1-first.log"
check "host, U+00FF, first installation: configuration unchanged" same "$host_data/SablewickRemote.cfg" "$expected/before.cfg"
check "host, U+00FF, first installation: settings unchanged" same "$host_data/SablewickRemote.dat" "$expected/before.dat"
check "host, U+00FF, first installation: installer not run" equal "$(installer_runs "$work/host-latin1-first.jsonl")" 0
host_case latin1-update --silent --update --company_id="$company_latin1"
updated_configuration "$expected/before.cfg" >"$expected/host-update.cfg"
check "host, U+00FF, update: configuration with the installer's tray-port line" same "$host_data/SablewickRemote.cfg" "$expected/host-update.cfg"
check "host, U+00FF, update: settings unchanged" same "$host_data/SablewickRemote.dat" "$expected/before.dat"
check "host, U+00FF, update: installer ran once" equal "$(installer_runs "$work/host-latin1-update.jsonl")" 1
host_case beyond-update --silent --update --company_id="$company_beyond"
check "host, beyond U+00FF, update: configuration unchanged" same "$host_data/SablewickRemote.cfg" "$expected/before.cfg"
check "host, beyond U+00FF, update: settings unchanged" same "$host_data/SablewickRemote.dat" "$expected/before.dat"
check "host, beyond U+00FF, update: installer not run" equal "$(installer_runs "$work/host-beyond-update.jsonl")" 0

end_scenario
echo "wine e2e: $scenarios scenarios, $checks checks, $failures failures ($((SECONDS - start)) s)"
[ "$failures" -eq 0 ]

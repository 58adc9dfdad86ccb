#!/usr/bin/env bash
# KeyVigil end to end under Wine: the win64 KeyVigil.exe in a Wine prefix of
# its own, on a virtual display of its own, its boxes read and answered by
# the robot (tests/wine/Robot.cpp) and once through X input, then the
# registry, the snapshot files and the exit code checked. Last, one run of
# the shipped 32-bit KeyVigil.exe under qemu-i386.
#
#   tests/wine/e2e.sh [--docs]     (--docs also renews the PNGs in docs/)
#   E2E_SCENARIOS="changed win32_under_qemu" tests/wine/e2e.sh   (only these)
#
# Screenshots go to tests/artifacts/. The run ends with "N passed, N failed,
# N skipped" and exits non-zero when a scenario failed.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
source tools/packages.sh
require_packages cmake make g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix googletest \
  wine wine64 xvfb xauth xdotool x11-utils imagemagick locales wine32:i386 qemu-user &&
  require_german_locale || exit 1

update_docs=0
[[ ${1-} == --docs ]] && update_docs=1

readonly WINE=/usr/lib/wine/wine64
readonly RUN='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
readonly SERVICES='HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices'
readonly RUN_LINE='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run'
readonly SERVICES_LINE='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices'
readonly WOW_RUN='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run'
readonly WOW_RUN_LINE='HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run'
readonly PROMPT_CAPTION='WARNUNG - ÄNDERUNG DER REGISTRY'
readonly ERROR_CAPTION='Anwendungsfehler'
artifacts=$PWD/tests/artifacts

build() {
  { cmake --preset win64 && cmake --build --preset win64 -j2 --target keyvigil robot squatter language_file &&
    cmake --preset win32 && cmake --build --preset win32 -j2; } >"$artifacts/build.log" 2>&1 ||
    { cat "$artifacts/build.log"; return 1; }
}

# --- The machine: a display, a Wine prefix and the installed programs ------

start_machine() {
  work=$(mktemp -d /tmp/keyvigil-e2e.XXXXXX)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in {1..50}; do [[ -s $work/display ]] && break; sleep 0.1; done
  [[ -s $work/display ]] || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=:$(<"$work/display") WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8
  "$WINE" wineboot -i >"$work/boot.log" 2>&1 || { cat "$work/boot.log"; return 1; }
  # A server kept up makes each Wine process start in a tenth of a second.
  /usr/lib/wine/wineserver -p
  # Without a window manager a managed box waits before it takes its answer.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  drive_c=$WINEPREFIX/drive_c
  cp build/win64/KeyVigil.exe build/win64/tests/wine/robot.exe build/win64/tests/wine/squatter.exe \
    "$drive_c/"
  cp build/win32/KeyVigil.exe "$drive_c/KeyVigil32.exe"
}

stop_machine() {
  [[ -n ${WINEPREFIX-} ]] && /usr/lib/wine/wineserver -k 2>/dev/null
  [[ -n ${xvfb-} ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  [[ -n ${work-} ]] && { umount "$work/disk" 2>/dev/null; rm -rf "$work"; }
}

# --- Running the program and answering its boxes ---------------------------

fail() {
  echo "  FAIL: $*"
  scenario_failed=1
}

# What was on the display, for a box that did not come or a program that
# did not end.
show_display() {
  local window
  echo "  windows on the display:"
  for window in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    echo "    $(xdotool getwindowname "$window")"
  done
  import -window root "$artifacts/$scenario-display.png" 2>/dev/null
  echo "  program output:" && sed 's/^/    /' "$work/program.log"
}

start_program() {
  : >"$work/program.log"
  "$@" >>"$work/program.log" 2>&1 &
  program=$!
  boxes=0 given_up=0
}

# Ends the program at once when a box was not the expected one: the rest of
# the scenario would only wait out the bound for each box that cannot come.
# A program that cmd started is not the one started here.
give_up() {
  show_display
  kill "$program" 2>/dev/null
  "$WINE" taskkill /f /im KeyVigil.exe >/dev/null 2>&1
  wait "$program" 2>/dev/null
  given_up=1
}

robot() {
  "$WINE" 'C:\robot.exe' "$@" "$box_timeout_ms"
}

# answer_box CAPTION ANSWER EXPECTED: waits for the box, keeps a screenshot,
# checks its caption and its text byte for byte (the fault address of an
# error box masked as "........") and answers yes, no or ok through the
# robot, or x-no through X. Any other box ends the program at once.
answer_box() {
  local caption=$1 answer=$2 expected=$3 found
  ((given_up)) && return 1
  boxes=$((boxes + 1))
  rm -f "$drive_c/box.txt"
  robot "$caption" 'C:\box.txt' none
  found=$?
  if ((found != 0 && found != 7)); then
    fail "box $boxes ($caption) did not appear (robot: $found)"
    give_up
    return 1
  fi
  import -window root "$artifacts/$scenario-$boxes.png"
  LC_ALL=C sed -E '1s/ bei [0-9A-F]{8}\./ bei ......../' "$drive_c/box.txt" >"$work/box.txt"
  printf '%s' "$expected" >"$work/expected.txt"
  if ((found == 7)) || ! cmp -s "$work/expected.txt" "$work/box.txt"; then
    fail "box $boxes is not the expected one (caption $caption; text expected, then shown):"
    od -An -c -N 320 "$work/expected.txt"
    od -An -c -N 320 "$work/box.txt"
    give_up
    return 1
  fi
  if [[ $answer == x-no ]]; then
    # One window only: a key sent while a second match has vanished leaves
    # the key held down, and every later box would read it as "Nein".
    local window
    window=$(xdotool search --onlyvisible --name "^$caption\$")
    window=${window%%$'\n'*}
    xdotool windowfocus --sync "$window" && xdotool key n
    xdotool keyup n
    # Gone before the program's end is awaited, which watches for boxes.
    for _ in {1..100}; do xdotool getwindowname "$window" >/dev/null 2>&1 || break; sleep 0.1; done
  else
    robot "$caption" - "$answer" || fail "box $boxes not answered with $answer"
  fi
}

# True when any box is up (its text then in C:\box.txt): the robot finds
# no box without a caption.
box_on_display() {
  "$WINE" 'C:\robot.exe' '' 'C:\box.txt' none 1
  (($? == 7))
}

# A box while the program should be ending fails at once.
expect_exit() {
  local want=$1 waited=0 code
  ((given_up)) && return
  while kill -0 "$program" 2>/dev/null; do
    if ((waited % 10 == 9)) && box_on_display; then
      fail "a box after the last expected one: $(tr '\r' ' ' <"$drive_c/box.txt")"
      give_up
      return
    fi
    if ((waited++ >= exit_timeout_s * 10)); then
      fail "program still running after its last box"
      show_display
      kill "$program"
    fi
    sleep 0.1
  done
  wait "$program"
  code=$?
  ((code == want)) || fail "exit code $code, expected $want"
}

# --- Expected texts (Windows-1252) ------------------------------------------

ansi() { printf '%s' "$1" | iconv -f UTF-8 -t WINDOWS-1252; }

prompt_head() {
  printf 'Warnung!\r\rIn diesem Registry Key hat eine Ver\344nderung statt gefunden:\r%s\r\r' "$1"
}

added_prompt() { # key line, value name, value data
  prompt_head "$1"
  printf 'Ein Eintrag ist neu hinzu gekommen:\r%s\r\rMit dem Wert:\r%s\r\r\r' "$(ansi "$2")" \
    "$(ansi "$3")"
  printf 'Wollen Sie den Eintrag wieder entfernen?'
}

removed_prompt() { # key line, snapshot line
  prompt_head "$1"
  printf 'Ein Eintrag ist gel\366scht worden!\r\rMit dem Wert:\r%s\r\r\r' "$(ansi "$2")"
  printf 'Wollen Sie den Wert wieder hinzuf\374gen??'
}

error_text() { # class name, message
  printf 'Exception %s in Modul KeyVigil.exe bei ........\n%s' "$1" "$(ansi "$2")"
}

lines() {
  local line
  for line; do printf '%s\r\n' "$(ansi "$line")"; done
}

# --- Setting up and checking the machine ------------------------------------

reset_machine() {
  local view
  for view in 64 32; do
    "$WINE" reg delete "$RUN" /va /f /reg:$view >/dev/null 2>&1
    "$WINE" reg delete "$SERVICES" /va /f /reg:$view >/dev/null 2>&1
  done
  rm -rf "$drive_c"/KeyVigil.dat "$drive_c"/KeyVigil.dat2 "$drive_c"/KeyVigil.DEU
}

set_value() { # key, name, data [type]
  "$WINE" reg add "$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f >/dev/null
}

write_snapshot() { # file under C:, lines
  local file=$drive_c/$1
  shift
  lines "$@" >"$file"
}

# import_values KEY LINE...: sets values ("name"="data") through a Unicode
# .reg file, for text beyond Windows-1252, which "reg add" may convert on
# its way in from the command line. iconv's UTF-16 starts with a BOM.
import_values() {
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n' "$1" && shift &&
    printf '%s\r\n' "$@"; } | iconv -f UTF-8 -t UTF-16 >"$drive_c/import.reg" &&
    "$WINE" reg import 'C:\import.reg' >/dev/null 2>&1
}

expect_lines() { # file under C:, the lines it must hold
  local file=$1
  shift
  lines "$@" >"$work/expected.txt"
  cmp -s "$work/expected.txt" "$drive_c/$file" || fail "$file holds $(od -An -c "$drive_c/$file" 2>&1)"
}

expect_no_file() {
  [[ ! -e $drive_c/$1 ]] || fail "$1 exists"
}

# expect_values KEY LINE...: the key's values as "reg export" writes them
# ("name"="data"), in any order.
expect_values() {
  local key=$1 shown
  shift
  "$WINE" reg export "$key" 'C:\export.reg' /y >/dev/null 2>&1
  shown=$(iconv -f UTF-16 -t UTF-8 "$drive_c/export.reg" | tr -d '\r' | grep '^"' | sort)
  [[ $shown == "$(printf '%s\n' "$@" | grep . | sort)" ]] || fail "$key holds: ${shown:-nothing}"
}

# --- Scenarios ----------------------------------------------------------------

scenario_first_run() {
  local menubuilder='C:\windows\system32\winemenubuilder.exe -a -r'
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$SERVICES_LINE" winemenubuilder "$menubuilder")"
  expect_exit 0
  expect_lines KeyVigil.dat
  expect_lines KeyVigil.dat2 "$menubuilder"
  expect_values "$SERVICES" '"winemenubuilder"="C:\\windows\\system32\\winemenubuilder.exe -a -r"'
}

# The overview's event: an installer added a value; here one with
# non-ASCII bytes, answered No through real X input.
scenario_added_kept() {
  set_value "$RUN" Accepted 'C:\ok.exe'
  set_value "$RUN" Prüfer 'C:\Programme\Prüfer.exe'
  write_snapshot KeyVigil.dat 'C:\OK.EXE'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" x-no "$(added_prompt "$RUN_LINE" Prüfer 'C:\Programme\Prüfer.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\OK.EXE' 'C:\Programme\Prüfer.exe'
  expect_values "$RUN" '"Accepted"="C:\\ok.exe"' '"Prüfer"="C:\\Programme\\Prüfer.exe"'
}

scenario_added_removed() {
  set_value "$RUN" Updater 'C:\u.exe'
  write_snapshot KeyVigil.dat
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat
  expect_values "$RUN"
}

# Two lines vanished: Yes writes the first back under the first free number,
# No drops the second and rewrites the file.
scenario_vanished() {
  set_value "$RUN" 0 'C:\a.exe'
  set_value "$RUN" 2 'C:\c.exe'
  write_snapshot KeyVigil.dat 'C:\a.exe' 'C:\b.exe' 'C:\c.exe' 'C:\d.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(removed_prompt "$RUN_LINE" 'C:\b.exe')"
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\d.exe')"
  expect_exit 0
  expect_values "$RUN" '"0"="C:\\a.exe"' '"1"="C:\\b.exe"' '"2"="C:\\c.exe"'
  expect_lines KeyVigil.dat 'C:\a.exe' 'C:\b.exe' 'C:\c.exe'
}

# A value whose data changed while the count stayed: reported as added and
# as removed; Yes to both deletes the new data and writes the old back.
scenario_changed() {
  set_value "$RUN" Tool 'C:\evil.exe'
  write_snapshot KeyVigil.dat 'C:\tool.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(added_prompt "$RUN_LINE" Tool 'C:\evil.exe')"
  answer_box "$PROMPT_CAPTION" yes "$(removed_prompt "$RUN_LINE" 'C:\tool.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\tool.exe'
  expect_values "$RUN" '"0"="C:\\tool.exe"'
}

# One argument (quoted, with a blank) names the snapshot of pass 1, and
# pass 2 appends "2"; with two arguments the defaults are used.
scenario_arguments() {
  set_value "$RUN" Updater 'C:\u.exe'
  set_value "$SERVICES" Service 'C:\s.exe'
  mkdir -p "$drive_c/My Snapshots"
  start_program "$WINE" 'C:\KeyVigil.exe' 'C:\My Snapshots\watch.txt'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$SERVICES_LINE" Service 'C:\s.exe')"
  expect_exit 0
  expect_lines 'My Snapshots/watch.txt' 'C:\u.exe'
  expect_lines 'My Snapshots/watch.txt2' 'C:\s.exe'
  expect_no_file KeyVigil.dat

  start_program "$WINE" 'C:\KeyVigil.exe' 'C:\one.dat' 'C:\two.dat'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$SERVICES_LINE" Service 'C:\s.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\u.exe'
  expect_no_file one.dat
}

# A folder where the snapshot file should be: it can be neither opened nor
# created.
scenario_snapshot_blocked() {
  mkdir "$drive_c/KeyVigil.dat"
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError 'Dateizugriff verweigert.')"
  expect_exit 1
  expect_no_file KeyVigil.dat2
}

scenario_dword_value() {
  set_value "$RUN" Count 31 REG_DWORD
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$ERROR_CAPTION" ok "$(error_text ERegistryException \
    "$RUN_LINE"$'\r'"Ungültiger Datentyp für 'Count'.")"
  expect_exit 1
  expect_lines KeyVigil.dat
  expect_lines KeyVigil.dat2
  expect_values "$RUN" '"Count"=dword:0000001f'
}

# The error box as the language file words it.
language_error_text() { # class name, message
  printf 'Ausnahme %s in Modul KeyVigil.exe bei ........\n%s' "$1" "$(ansi "$2")"
}

# A language resource file beside the program serves every text of the error
# box (the German thread locale makes start-up look for KeyVigil.DEU): its
# caption, its template and the message. A text the file lacks comes from the
# program's own table; one of the file's that cannot be filled, and the
# file's text for that failure that cannot be filled either, end in the box
# as they are.
scenario_language_file() {
  local caption='Anwendungsfehler (DEU)'
  cp build/win64/tests/wine/KeyVigil.DEU "$drive_c/"
  mkdir "$drive_c/KeyVigil.dat"
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$caption" ok "$(language_error_text EInOutError 'Dateizugriff verweigert (DEU).')"
  expect_exit 1
  rmdir "$drive_c/KeyVigil.dat"

  start_program "$WINE" 'C:\KeyVigil.exe' 'C:\nowhere\KeyVigil.dat'
  answer_box "$caption" ok "$(language_error_text EInOutError 'Ungültiger Dateiname.')"
  expect_exit 1

  set_value "$RUN" Count 31 REG_DWORD
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$caption" ok "$(language_error_text EConvertError \
    "Format '%y' ungültig oder nicht kompatibel mit Argument.")"
  expect_exit 1
}

# Drive T: is a tmpfs of 64 KB that a filler file has filled. The snapshot
# is exactly one page, so that not one more byte fits: an append and a
# rewrite each end in the error box and leave the file as it was; once the
# filler is gone the same runs work.
scenario_full_disk() {
  local disk=$work/disk long refusal
  mkdir -p "$disk"
  if ! refusal=$(mount -t tmpfs -o size=64k tmpfs "$disk" 2>&1); then
    echo "  SKIP: mounting the tmpfs for drive T: needs root: $refusal"
    scenario_skipped=1
    return
  fi
  ln -sfn "$disk" "$WINEPREFIX/dosdevices/t:"
  long="C:\\$(printf '%04081d' 0)"
  lines "$long" 'C:\b.exe' >"$work/page.dat"
  cp "$work/page.dat" "$disk/KeyVigil.dat"
  dd if=/dev/zero of="$disk/filler" bs=4096 2>/dev/null
  set_value "$RUN" 0 "$long"

  set_value "$RUN" Updater 'C:\u.exe'
  start_program "$WINE" 'C:\KeyVigil.exe' 'T:\KeyVigil.dat'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError 'E/A-Fehler 112.')"
  expect_exit 1
  cmp -s "$work/page.dat" "$disk/KeyVigil.dat" || fail "the append changed T:\\KeyVigil.dat"

  "$WINE" reg delete "$RUN" /v Updater /f >/dev/null
  start_program "$WINE" 'C:\KeyVigil.exe' 'T:\KeyVigil.dat'
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\b.exe')"
  answer_box "$ERROR_CAPTION" ok "$(error_text EWriteError 'Stream-Write-Fehler.')"
  expect_exit 1
  cmp -s "$work/page.dat" "$disk/KeyVigil.dat" || fail "the rewrite changed T:\\KeyVigil.dat"
  [[ ! -e $disk/KeyVigil.da\$ ]] || fail "the rewrite left T:\\KeyVigil.da\$"

  rm "$disk/filler"
  set_value "$RUN" Updater 'C:\u.exe'
  start_program "$WINE" 'C:\KeyVigil.exe' 'T:\KeyVigil.dat'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\b.exe')"
  expect_exit 0
  lines "$long" 'C:\u.exe' >"$work/expected.txt"
  cmp -s "$work/expected.txt" "$disk/KeyVigil.dat" || fail "the runs with room did not write"
  rm "$WINEPREFIX/dosdevices/t:"
  umount "$disk"
}

# A second run started while the first one's box is open waits: it shows
# nothing until the first has ended, and then asks nothing, since what the
# first accepted is in the snapshot it reads afresh.
scenario_one_run_at_a_time() {
  local second
  set_value "$RUN" Updater 'C:\u.exe'
  write_snapshot KeyVigil.dat
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  robot "$PROMPT_CAPTION" - none || fail "the first run showed no box"
  "$WINE" 'C:\KeyVigil.exe' >>"$work/program.log" 2>&1 &
  second=$!
  sleep 3
  (($(xdotool search --onlyvisible --name "^$PROMPT_CAPTION\$" | wc -l) == 1)) ||
    fail "a second box while the first run's box is open"
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  expect_exit 0
  program=$second
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\u.exe'
}

# Another program holding the lock's name keeps no run waiting in silence:
# a mutex held longer than the run's minute, and an event of that name, each
# end the run with the box that says so, before anything is asked.
scenario_lock_squatted() {
  local kind squatter
  set_value "$RUN" Updater 'C:\u.exe'
  for kind in event mutex; do
    "$WINE" 'C:\squatter.exe' "$kind" 'Global\KeyVigil' 90 >>"$work/program.log" 2>&1 &
    squatter=$!
    sleep 2
    box_timeout_ms=75000
    start_program "$WINE" 'C:\KeyVigil.exe'
    answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError \
      "Ein anderer KeyVigil-Lauf oder ein anderes Programm hält die Sperre 'Global\KeyVigil'.")"
    expect_exit 1
    kill "$squatter" 2>/dev/null
    wait "$squatter" 2>/dev/null
  done
  expect_no_file KeyVigil.dat
}

# The rewrite's new files never take the names editors give their backups:
# the backups beside both snapshots outlive a rewrite of each.
scenario_rewrite_names() {
  write_snapshot KeyVigil.dat 'C:\gone.exe'
  write_snapshot KeyVigil.dat2 'C:\gone2.exe'
  write_snapshot KeyVigil.dat~ 'backup 1'
  write_snapshot KeyVigil.dat2~ 'backup 2'
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\gone.exe')"
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$SERVICES_LINE" 'C:\gone2.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat
  expect_lines KeyVigil.dat2
  expect_lines KeyVigil.dat~ 'backup 1'
  expect_lines KeyVigil.dat2~ 'backup 2'
  expect_no_file 'KeyVigil.da$'
  expect_no_file 'KeyVigil.dat$'
  rm -f "$drive_c"/KeyVigil.dat~ "$drive_c"/KeyVigil.dat2~
}

# Values the ANSI functions cannot carry exactly: a Cyrillic name (read as "?????"), a full-width look-alike of an
# accepted value's name (read as that name), Cyrillic data (read as "?").
# Only the ordinary new value is asked about; the accepted neighbour keeps
# its value, nothing is deleted or appended for the odd ones, and the box at
# the end names the first of them.
scenario_beyond_the_code_page() {
  set_value "$RUN" Tool 'C:\tool.exe'
  import_values "$RUN_LINE" '"Вирус"="C:\\v.exe"' '"Ｔool"="C:\\lookalike.exe"' \
    '"Daten"="C:\\абвг.exe"' || fail "the values could not be set"
  set_value "$RUN" Neu 'C:\neu.exe'
  write_snapshot KeyVigil.dat 'C:\tool.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Neu 'C:\neu.exe')"
  answer_box "$ERROR_CAPTION" ok "$(error_text ERegistryException \
    "$RUN_LINE${CUT}Wert 'Daten' enthält Zeichen, die KeyVigil nicht darstellen kann.$CUT$RUN_LINE\
${CUT}Wert '\u0412 (5 Zeichen, gekürzt) \u0441' enthält Zeichen, die KeyVigil nicht darstellen kann.\
$CUT$RUN_LINE${CUT}Wert '\uFF34ool' enthält Zeichen, die KeyVigil nicht darstellen kann.")"
  expect_exit 1
  expect_lines KeyVigil.dat 'C:\tool.exe' 'C:\neu.exe'
  expect_values "$RUN" '"Tool"="C:\\tool.exe"' '"Вирус"="C:\\v.exe"' \
    '"Ｔool"="C:\\lookalike.exe"' '"Daten"="C:\\абвг.exe"' '"Neu"="C:\\neu.exe"'
}

# Only letter case is ignored: Wine's comparison alone holds the modifier
# circumflex (0x88) equal to '^', and the value passed for the accepted line.
scenario_case_only() {
  set_value "$RUN" Accepted 'C:\TOOLS\A^B.EXE'
  set_value "$RUN" Tool 'C:\Tools\aˆb.exe'
  write_snapshot KeyVigil.dat 'C:\Tools\a^b.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(added_prompt "$RUN_LINE" Tool 'C:\Tools\aˆb.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\Tools\a^b.exe'
  expect_values "$RUN" '"Accepted"="C:\\TOOLS\\A^B.EXE"'
}

# --- Long and odd names and data ----------------------------------------------

rep() { printf "%${2}s" "" | tr ' ' "$1"; }           # character, count
words() { local i; for ((i = 0; i < $1; i++)); do printf 'abcdefghi '; done; }  # 10-character words
escapes() { rep _ "$2" | sed "s/_/\\\\x$1/g"; }     # code, count: \xNN as shown
readonly CUT=$'\r' # where the box's text breaks a line

# expect_on_screen CAPTION: the box and each of its buttons lie within the
# screen, by their window rectangles (kept with a screenshot of each box).
expect_on_screen() {
  "$WINE" 'C:\robot.exe' "$1" - none "$box_timeout_ms" 'C:\rects.txt' ||
    { fail "no box for its rectangles"; return 1; }
  screens=$((${screens-0} + 1))
  import -window root "$artifacts/$scenario-screen$screens.png"
  tr '\n' ' ' <"$drive_c/rects.txt" >>"$artifacts/$scenario-rectangles.txt"
  echo >>"$artifacts/$scenario-rectangles.txt"
  awk 'NR == 1 { w = $4; h = $5; next }
       $2 < 0 || $3 < 0 || $4 > w || $5 > h { print; bad = 1 } END { exit bad }' \
    "$drive_c/rects.txt" || fail "box $((boxes + 1)) off the screen: $(<"$drive_c/rects.txt")"
}

# one_value NAME DATA SHOWN_NAME SHOWN_DATA ANSWER: a run with that one new
# value, its prompt checked on screen and word for word.
one_value() {
  reset_machine
  set_value "$RUN" "$1" "$2"
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  expect_on_screen "$PROMPT_CAPTION"
  answer_box "$PROMPT_CAPTION" "$5" "$(added_prompt "$RUN_LINE" "$3" "$4")"
  expect_exit 0
}

# Control characters are spelt out, runs of more than 80 characters without
# a blank broken, and a text of more than 280 shown characters shortened:
# every box stays on the 1024x768 screen. No keeps nothing that was shown
# shortened; Yes deletes it.
scenario_long_and_odd_values() {
  local x80 x49 lfs widest
  x80=$(rep x 80) x49=$(rep x 49) lfs=$(rep _ 100 | tr _ '\n' && echo x) lfs=${lfs%x}
  widest=$(rep _ 21 | sed 's/_/ÆÆÆÆÆÆÆÆÆÆÆÆ /g')ÆÆÆÆÆÆÆ
  one_value A "$(rep x 150)" A "$x80$CUT$(rep x 70)" no
  expect_lines KeyVigil.dat "$(rep x 150)"
  one_value A "$(words 15)" A "$(words 15)" no
  one_value A "$(rep x 300)" A \
    "$x80$CUT$x49$CUT(300 Zeichen, gekürzt)$CUT$(rep x 69)$CUT$(rep x 60)" no
  expect_lines KeyVigil.dat
  one_value A "$(words 30)" A "$(words 13)$CUT(300 Zeichen, gekürzt)$CUT$(words 13)" no
  expect_lines KeyVigil.dat
  one_value A "$(rep x 1000)" A \
    "$x80$CUT$x49$CUT(1000 Zeichen, gekürzt)$CUT$(rep x 8)$CUT$x80$CUT$(rep x 40)" yes
  expect_values "$RUN"
  one_value A "$(words 100)" A "$(words 13)$CUT(1000 Zeichen, gekürzt)$CUT$(words 13)" no
  one_value A "$(rep x 281)" A \
    "$x80$CUT$x49$CUT(281 Zeichen, gekürzt)$CUT$(rep x 7)$CUT$x80$CUT$(rep x 41)" no
  one_value A "$(words 28)a" A \
    "$(words 13)$CUT(281 Zeichen, gekürzt)${CUT}bcdefghi $(words 12)a" no
  expect_lines KeyVigil.dat
  one_value LF "C:\\a.exe${lfs}C:\\b.exe" LF "C:\\a.exe$(escapes 0A 18)$CUT$(escapes 0A 12)$CUT\
(116 Zeichen, gekürzt)$CUT$(escapes 0A 8)$CUT$(escapes 0A 20)$CUT\\x0A\\x0AC:\\b.exe" no
  expect_lines KeyVigil.dat
  one_value Tabs "C:\\a.exe$(rep _ 60 | tr _ '\t')C:\\b.exe" Tabs \
    "C:\\a.exe$(escapes 09 18)$CUT$(escapes 09 20)$CUT$(escapes 09 20)$CUT\\x09\\x09C:\\b.exe" no
  expect_lines KeyVigil.dat "C:\\a.exe$(rep _ 60 | tr _ '\t')C:\\b.exe"
  # The tallest box: words of twelve of the widest characters, name and data.
  one_value "$widest" "$widest" "$widest" "$widest" no
  expect_lines KeyVigil.dat "$widest"
  one_value "$(rep N 16383)" "$(words 100)" \
    "$(rep N 80)$CUT$(rep N 49)$CUT(16383 Zeichen, gekürzt)$CUT$(rep N 66)$CUT$(rep N 63)" \
    "$(words 13)$CUT(1000 Zeichen, gekürzt)$CUT$(words 13)" no
  expect_lines KeyVigil.dat
}

# Five values of types KeyVigil cannot watch: the box at the end names them.
scenario_five_passed_over() {
  local name
  for name in One Two Three Four Five; do set_value "$RUN" "$name" 1 REG_DWORD; done
  write_snapshot KeyVigil.dat
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  expect_on_screen "$ERROR_CAPTION"
  answer_box "$ERROR_CAPTION" ok "$(error_text ERegistryException \
    "$RUN_LINE${CUT}Ungültiger Datentyp für 'Five'.$CUT$RUN_LINE${CUT}Ungültiger Datentyp für 'Four'.\
$CUT$RUN_LINE${CUT}Ungültiger Datentyp für 'One'.$CUT$RUN_LINE${CUT}Ungültiger Datentyp für 'Three'.\
$CUT$RUN_LINE${CUT}Ungültiger Datentyp für 'Two'.")"
  expect_exit 1
}

# With no display a box cannot be shown (MessageBoxA fails at once): that is
# no answer, so the run ends with exit 1 and changes nothing.
scenario_no_display() {
  set_value "$RUN" Updater 'C:\u.exe'
  write_snapshot KeyVigil.dat
  write_snapshot KeyVigil.dat2
  start_program env -u DISPLAY "$WINE" 'C:\KeyVigil.exe'
  expect_exit 1
  expect_lines KeyVigil.dat
  expect_values "$RUN" '"Updater"="C:\\u.exe"'
}

# A device as the snapshot, in any folder, in any case, or only in pass 2
# (the argument followed by "2"): the error box at once, where COM1 (a
# terminal here) would wait for ever on the read and NUL would swallow every
# accepted line. COM2 is made the null device for the pass-2 case.
scenario_device_names() {
  local device
  ln -sfn /dev/null "$WINEPREFIX/dosdevices/com2"
  for device in NUL com1 'C:\x\AUX' 'C:\Nul.dat' 'C:\COM'; do
    start_program "$WINE" 'C:\KeyVigil.exe' "$device"
    answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError 'Ungültiger Dateiname.')"
    expect_exit 1
  done
  expect_lines COM
  rm -f "$drive_c/COM" "$WINEPREFIX/dosdevices/com2"
}

# Wine run as root ignores the read-only mark (attrib +r, chmod a-w: both
# measured to open for writing all the same), so the snapshot is made
# immutable, which refuses root too. The append is refused as specified;
# the rewrite is refused as the create would be, not renamed over it.
scenario_snapshot_read_only() {
  set_value "$RUN" Keep 'C:\keep.exe'
  set_value "$RUN" Updater 'C:\u.exe'
  write_snapshot KeyVigil.dat 'C:\keep.exe' 'C:\gone.exe'
  write_snapshot KeyVigil.dat2
  if ! chattr +i "$drive_c/KeyVigil.dat" 2>"$work/chattr.log"; then
    echo "  SKIP: the prefix's file system has no immutable files: $(<"$work/chattr.log")"
    scenario_skipped=1
    return
  fi
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Updater 'C:\u.exe')"
  answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError 'Dateizugriff verweigert.')"
  expect_exit 1
  "$WINE" reg delete "$RUN" /v Updater /f >/dev/null
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\gone.exe')"
  answer_box "$ERROR_CAPTION" ok \
    "$(error_text EFCreateError 'Datei C:\keyvigil.dat kann nicht erstellt werden.')"
  expect_exit 1
  chattr -i "$drive_c/KeyVigil.dat"
  expect_lines KeyVigil.dat 'C:\keep.exe' 'C:\gone.exe'
}

# Another program holds the snapshot open: cmd, through a redirection, for
# as long as the program it starts runs. Held for writing, the load fails
# with 32 and the file is not emptied; held for reading, the rewrite is
# refused as the create would be.
scenario_snapshot_held() {
  set_value "$RUN" Keep 'C:\keep.exe'
  write_snapshot KeyVigil.dat 'C:\keep.exe' 'C:\gone.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" cmd /c 'C:\KeyVigil.exe >> C:\KeyVigil.dat'
  answer_box "$ERROR_CAPTION" ok "$(error_text EInOutError 'E/A-Fehler 32.')"
  expect_exit 1
  expect_lines KeyVigil.dat 'C:\keep.exe' 'C:\gone.exe'
  start_program "$WINE" cmd /c 'C:\KeyVigil.exe < C:\KeyVigil.dat'
  answer_box "$PROMPT_CAPTION" no "$(removed_prompt "$RUN_LINE" 'C:\gone.exe')"
  answer_box "$ERROR_CAPTION" ok \
    "$(error_text EFCreateError 'Datei C:\keyvigil.dat kann nicht erstellt werden.')"
  expect_exit 1
  expect_lines KeyVigil.dat 'C:\keep.exe' 'C:\gone.exe'
}

# Both registry views with one snapshot: each new value is asked about with
# its view's key line and deleted in that view only, a line held in either
# view is no change, and a vanished line goes back into the native view.
scenario_both_views() {
  "$WINE" reg add "$RUN" /v Tool /d 'C:\native.exe' /f /reg:64 >/dev/null
  "$WINE" reg add "$RUN" /v Tool /d 'C:\wow.exe' /f /reg:32 >/dev/null
  "$WINE" reg add "$RUN" /v Old /d 'C:\old.exe' /f /reg:32 >/dev/null
  write_snapshot KeyVigil.dat 'C:\old.exe' 'C:\gone.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(added_prompt "$RUN_LINE" Tool 'C:\native.exe')"
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$WOW_RUN_LINE" Tool 'C:\wow.exe')"
  answer_box "$PROMPT_CAPTION" yes "$(removed_prompt "$RUN_LINE" 'C:\gone.exe')"
  expect_exit 0
  expect_values "$RUN" '"0"="C:\\gone.exe"'
  expect_values "$WOW_RUN" '"Tool"="C:\\wow.exe"' '"Old"="C:\\old.exe"'
  expect_lines KeyVigil.dat 'C:\old.exe' 'C:\gone.exe' 'C:\wow.exe'
}

# Yes to a vanished line of a deleted key makes the key again.
scenario_restore_into_deleted_key() {
  "$WINE" reg delete "$RUN" /f >/dev/null 2>&1
  write_snapshot KeyVigil.dat 'C:\back.exe'
  write_snapshot KeyVigil.dat2
  start_program "$WINE" 'C:\KeyVigil.exe'
  answer_box "$PROMPT_CAPTION" yes "$(removed_prompt "$RUN_LINE" 'C:\back.exe')"
  expect_exit 0
  expect_values "$RUN" '"0"="C:\\back.exe"'
  expect_lines KeyVigil.dat 'C:\back.exe'
}

# The shipped 32-bit program finds both views through IsWow64Process and
# asks about the native view first. Its system folder is filled here: on a
# kernel without 32-bit support the 32-bit half of the prefix's boot cannot
# run, and may leave it empty.
scenario_win32_under_qemu() {
  cp -rn /usr/lib/i386-linux-gnu/wine/i386-windows/. "$drive_c/windows/syswow64/" ||
    fail "the 32-bit system folder could not be filled"
  "$WINE" reg delete "$RUN" /va /f /reg:32 >/dev/null 2>&1
  "$WINE" reg delete "$SERVICES" /va /f /reg:32 >/dev/null 2>&1
  "$WINE" reg add "$RUN" /v Native /d 'C:\n.exe' /f /reg:64 >/dev/null
  "$WINE" reg add "$RUN" /v Updater /d 'C:\u.exe' /f /reg:32 >/dev/null
  # Measured: its box came after 244 s with the machine's two cores loaded
  # twelve deep.
  box_timeout_ms=900000 exit_timeout_s=900
  # Without a reserved guest address space qemu cannot give 32-bit Wine its
  # fixed shared-user-data page at 0x7ffe0000 (c0000018 at start).
  start_program env WINELOADERNOEXEC=1 qemu-i386 -R 0xffff0000 /usr/lib/wine/wine 'C:\KeyVigil32.exe'
  answer_box "$PROMPT_CAPTION" no "$(added_prompt "$RUN_LINE" Native 'C:\n.exe')"
  answer_box "$PROMPT_CAPTION" yes "$(added_prompt "$WOW_RUN_LINE" Updater 'C:\u.exe')"
  expect_exit 0
  expect_lines KeyVigil.dat 'C:\n.exe'
  expect_values "$RUN" '"Native"="C:\\n.exe"'
  expect_values "$WOW_RUN"
}

run_scenario() {
  scenario=$1 scenario_failed=0 scenario_skipped=0 box_timeout_ms=60000 exit_timeout_s=60
  echo "--- $scenario"
  [[ $scenario == first_run ]] || reset_machine
  "scenario_$scenario"
  if ((scenario_failed)); then
    failed=$((failed + 1))
  elif ((scenario_skipped)); then
    skipped=$((skipped + 1))
  else
    passed=$((passed + 1))
  fi
}

copy_docs_pictures() {
  mkdir -p docs
  convert "$artifacts/added_kept-1.png" -trim docs/wine-prompt.png
  convert "$artifacts/snapshot_blocked-1.png" -trim docs/wine-error-box.png
}

main() {
  mkdir -p "$artifacts"
  rm -f "$artifacts"/*.png
  build || { echo "0 passed, 1 failed"; return 1; }
  trap stop_machine EXIT
  start_machine || { echo "0 passed, 1 failed"; return 1; }
  passed=0 failed=0 skipped=0
  local scenario
  for scenario in ${E2E_SCENARIOS:-first_run added_kept added_removed vanished changed arguments \
    snapshot_blocked dword_value language_file full_disk one_run_at_a_time lock_squatted \
    rewrite_names beyond_the_code_page case_only device_names snapshot_read_only snapshot_held \
    long_and_odd_values five_passed_over no_display both_views restore_into_deleted_key \
    win32_under_qemu}; do
    run_scenario "$scenario"
  done
  ((update_docs)) && copy_docs_pictures
  echo "$passed passed, $failed failed, $skipped skipped"
  ((failed == 0))
}

main

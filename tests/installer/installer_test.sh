#!/usr/bin/env bash
# installer_test.sh SETUP WORK PROBE EXAMPLE: installs SETUP silently in a fresh wine prefix
# WORK/wineprefix below a folder every user could write (refused), into and beside folders they
# had prepared, again over an edited settings file and with a stand-in schtasks for the password
# table, then uninstalls it, checking files, permissions, registry and task. PROBE is
# installer_probe.exe, EXAMPLE the Windows settings example as built.
set -uo pipefail
setup=$1 probe=$3 example=$4
wine_home=$2 source "$(dirname "$0")/../../scripts/wine-env.sh"
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
trap end_wine_prefix EXIT
wineserver -p && wineboot --init </dev/null >/dev/null 2>&1
# Wine starts its Task Scheduler service only in a server started after the prefix was made.
wineserver -k; wineserver -w; wineserver -p
dir="$WINEPREFIX/drive_c/Quorvex"
state="$WINEPREFIX/drive_c/ProgramData/Quorvex"
task="$WINEPREFIX/drive_c/windows/system32/tasks/Quorvex Server"
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quorvex'
environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
passes=0 failures=0
check() { if bash -c "$2" >/dev/null 2>&1; then passes=$((passes + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
definition() { iconv -f UTF-16 -t UTF-8 "$dir/QuorvexServer.task.xml" | grep -Fq "$1"; }
# Whether Everyone (S-1-1-0) has any of the rights in mask on a path, read back through
# GetNamedSecurityInfoW. Wine maps Everyone to the Unix "other" bits.
everyone_may() { local r; r=$(wine "$probe" rights S-1-1-0 "$2" | tr -d '\r') && (((r & $1) != 0)); }
export -f definition everyone_may; export dir task source_key environment_key probe
write=0x500D0046 # write or append data, delete, delete a child, change permissions or owner
read=0x90000001  # read data
installed=(QuorvexServer.exe quorvex-check.exe tcping.exe psping.exe quorvex-password.exe
  QuorvexServer.ini.example 'sql/sqlserver/schema.sql' QuorvexServer.task.xml Uninstall.exe
  QuorvexServer.8.txt quorvex-check.8.txt quorvex-password.8.txt tcping.1.txt psping.1.txt)
[ -e "$(dirname "$setup")/QuorvexConsole.exe" ] && installed+=(QuorvexConsole.exe)

# Each row: who may no longer do what to which path once an installation has run.
secured() {
  for row in 'write|program folder|C:\Quorvex' 'read|settings file|C:\Quorvex\QuorvexServer.ini' \
    'read|state folder|C:\ProgramData\Quorvex'; do
    IFS='|' read -r right what path <<<"$row"
    check "$1: Everyone cannot $right the $what" "! everyone_may ${!right} '$path'"
  done
  check "$1: the library planted in the folder is gone" "test ! -e \"\$dir/winhttp.dll\""
}
plant() { mkdir -p "$(dirname "$1")" && echo planted >"$1" && chmod -R a+rwX "$2"; }

# Folders every user may write, prepared before the installation: a parent, the program folder
# with a forged settings file, a library and a .local redirection in it, the state folder with
# an ACCEPTED usage record whose cut-off would mark every count as sent.
plant "$WINEPREFIX/drive_c/Apps/.keep" "$WINEPREFIX/drive_c/Apps"
for f in winhttp.dll QuorvexServer.ini tcping.exe.local/comctl32.dll sub/deeper/planted.cmd; do plant "$dir/$f" "$dir"; done
printf 'ACCEPTED\ncut-off=2099-12-31 23:59:59\nserver=db1\ndatabase=EMPRESAS\n' >"$2/record"
plant "$state/usage-report.record" "$state" && cp "$2/record" "$state/usage-report.record"
check "before the install Everyone may write the folder" "everyone_may $write 'C:\\Quorvex'"
wine "$setup" /S '/D=C:\Apps\Quorvex'; refused=$?
check "a parent Everyone may write refuses the install with 3 (not $refused)" "test $refused = 3"
check "the refused install makes no folder and leaves the state folder" \
  "test ! -e '$WINEPREFIX/drive_c/Apps/Quorvex' && cmp '$2/record' '$state/usage-report.record'"
check "the first install succeeds" "wine '$setup' /S '/D=C:\\Quorvex'"
echo planted >"$2/planted"
for row in "$dir|QuorvexServer.ini|planted" "$dir|tcping.exe.local/comctl32.dll|planted" \
  "$dir|sub/deeper/planted.cmd|planted" "$state|usage-report.record|record"; do
  IFS='|' read -r folder f content <<<"$row"
  check "$f is moved aside with its folder" "cmp '$2/$content' '$folder'.untrusted-*/$f"
  check "the new folder has nothing of $f" "! cmp -s '$2/$content' '$folder/$f'"
done
for f in "${installed[@]}"; do check "installs $f" "test -s \"\$dir/$f\""; done
check "the job is the one built" "cmp '$(dirname "$setup")/QuorvexServer.exe' \"\$dir/QuorvexServer.exe\""
check "makes the settings file from the Windows example" "cmp '$example' \"\$dir/QuorvexServer.ini\""
check "the settings name no database file" "grep -qx \$'SERVERDB=\\r' \"\$dir/QuorvexServer.ini\""
check "makes the state folder" "test -d '$state'"
secured "first install"
check "the event source names the job as its message file" "wine reg query \"\$source_key\" /v EventMessageFile |
  grep -E 'REG_EXPAND_SZ +C:.Quorvex.QuorvexServer\.exe'"
check "the event source takes information, warnings and errors" "wine reg query \"\$source_key\" /v TypesSupported | grep -E 'REG_DWORD +0x7'"
# Wine's Task Scheduler keeps the name, description and settings of a task
# but drops its triggers, principal and actions, and its schtasks has no
# /Query: those are checked in the definition the installer registered.
check "registers the task" "grep -Fq 'Starts Quorvex Server every 15 minutes.' \"\$task\""
check "the installed quorvex-check.exe finds the task" \
  "wine 'C:\\Quorvex\\quorvex-check.exe' >\"\$dir/../check.txt\";
   grep -q '^OK   schedule: the task \"Quorvex Server\" exists' \"\$dir/../check.txt\""
for line in '<Interval>PT15M</Interval>' '<UserId>SYSTEM</UserId>' '<LogonType>ServiceAccount</LogonType>' \
  '<Command>"C:\Quorvex\QuorvexServer.exe"</Command>' \
  '<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'; do
  check "the task has $line" "definition '$line'"
done

# In a folder only the trusted may change, permissions that drifted open, at any depth, are
# closed again by the next installation, which keeps the settings.
printf '[CONEXION]\r\nSERVERDB=sqlite:quorvex.sqlite3\r\n' >"$dir/QuorvexServer.ini"
cp "$dir/QuorvexServer.ini" "$2/edited.ini" && echo data >"$dir/quorvex.sqlite3"
chmod 0666 "$dir/QuorvexServer.ini" && echo planted >"$dir/winhttp.dll"
plant "$dir/sql/sqlserver/added.cmd" "$dir/sql"
check "a second install with another account succeeds" "wine '$setup' /S '/ACCOUNT=QUORVEX\\svc-quorvex\$' '/METRICS=C:\\metrics' '/D=C:\\Quorvex'"
check "/METRICS names the metrics folder to every run" "wine reg query \"\$environment_key\" /v QUORVEX_METRICS_DIR | grep -E 'REG_SZ +C:.metrics'"
check "a second install keeps the edited settings file" "cmp '$2/edited.ini' \"\$dir/QuorvexServer.ini\""
secured "second install"
for path in 'C:\Quorvex\sql\sqlserver' 'C:\Quorvex\sql\sqlserver\added.cmd'; do
  check "Everyone cannot write $path" "! everyone_may $write '$path'"
done
check "the task runs under the account named" "definition '<UserId>QUORVEX\\svc-quorvex\$</UserId>' &&
  definition '<LogonType>Password</LogonType>'"
# A link among the .local redirections fails the install; what it points to stays.
plant "$2/elsewhere/keep.dll" "$2/elsewhere" && ln -s "$2/elsewhere" "$dir/psping.exe.local"
check "a .local link fails the install" "! wine '$setup' /S '/D=C:\\Quorvex'"
check "what the link points to stays" "test -s '$2/elsewhere/keep.dll'"
rm "$dir/psping.exe.local"

# Wine's schtasks takes no /RP: a stand-in records the arguments it gets, as Windows splits
# them. Each row: the option as typed on the installer's command line, the password schtasks
# must receive. The value of an option runs to the next "/" outside double quotes.
schtasks="$WINEPREFIX/drive_c/windows/system32/schtasks.exe"
cp "$schtasks" "$2/schtasks.exe" && cp "$probe" "$schtasks"
export QUORVEX_SCHTASKS_LOG=$2/schtasks.log
for row in '/PASSWORD=pa"ss|pa"ss' '/PASSWORD=ends\|ends\' '/PASSWORD=a\"b\\|a\"b\\' \
  '/PASSWORD="sp ace/\"|sp ace/\' '/PASSWORD=%PATH%$0|%PATH%$0'; do
  rm -f "$QUORVEX_SCHTASKS_LOG" && printf '%s\n' "${row#*|}" >"$2/password"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;schtasks.exe=n" wine "$probe" run \
    "\"$(winepath -w "$setup")\" /S /ACCOUNT=svc ${row%%|*} /D=C:\\Quorvex" >/dev/null 2>&1
  check "schtasks gets the password of ${row%%|*}" \
    "grep -A1 -x -- /RP '$QUORVEX_SCHTASKS_LOG' | tail -1 | cmp - '$2/password'"
done
cp "$2/schtasks.exe" "$schtasks"

# The uninstaller runs from a copy of itself in the temporary folder; it is
# done once it has removed its own file, the last one.
wine "$dir/Uninstall.exe" /S
for _ in $(seq 150); do [ -e "$dir/Uninstall.exe" ] || break; sleep 0.2; done
for f in "${installed[@]}"; do check "uninstall removes $f" "test ! -e \"\$dir/$f\""; done
check "uninstall removes the task" "test ! -e \"\$task\""
check "uninstall removes the event source" "! wine reg query \"\$source_key\""
check "uninstall removes the metrics folder's variable" "! wine reg query \"\$environment_key\" /v QUORVEX_METRICS_DIR"
check "uninstall keeps the settings file" "cmp '$2/edited.ini' \"\$dir/QuorvexServer.ini\""
check "uninstall keeps the database" "test -s \"\$dir/quorvex.sqlite3\""
check "uninstall keeps the state folder" "test -d '$state'"
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

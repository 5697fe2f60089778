#!/usr/bin/env bash
# installer_test.sh SETUP WORK: installs SETUP silently in a fresh wine prefix WORK/wineprefix,
# again over an edited settings file, then uninstalls it, checking files, registry and task.
set -uo pipefail
setup=$1
wine_home=$2 source "$(dirname "$0")/../../scripts/wine-env.sh"
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null' EXIT
wineserver -p && wineboot --init </dev/null >/dev/null 2>&1
# Wine starts its Task Scheduler service only in a server started after the prefix was made.
wineserver -k; wineserver -w; wineserver -p
dir="$WINEPREFIX/drive_c/Program Files/Quorvex"
task="$WINEPREFIX/drive_c/windows/system32/tasks/Quorvex Server"
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quorvex'
passes=0 failures=0
check() { if bash -c "$2" >/dev/null 2>&1; then passes=$((passes + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
definition() { iconv -f UTF-16 -t UTF-8 "$dir/QuorvexServer.task.xml" | grep -Fq "$1"; }
export -f definition; export dir task source_key
installed=(QuorvexServer.exe tcping.exe psping.exe quorvex-password.exe QuorvexServer.ini.example
  'sql/sqlserver/schema.sql' QuorvexServer.task.xml Uninstall.exe)
[ -e "$(dirname "$setup")/QuorvexConsole.exe" ] && installed+=(QuorvexConsole.exe)

check "the first install succeeds" "wine '$setup' /S"
for f in "${installed[@]}"; do check "installs $f" "test -s \"\$dir/$f\""; done
check "the job is the one built" "cmp '$(dirname "$setup")/QuorvexServer.exe' \"\$dir/QuorvexServer.exe\""
check "installs no settings file" "test ! -e \"\$dir/QuorvexServer.ini\""
check "the event source names the job as its message file" "wine reg query \"\$source_key\" /v EventMessageFile |
  grep -E 'REG_EXPAND_SZ +C:.Program Files.Quorvex.QuorvexServer\.exe'"
check "the event source takes information, warnings and errors" \
  "wine reg query \"\$source_key\" /v TypesSupported | grep -E 'REG_DWORD +0x7'"
# Wine's Task Scheduler keeps the name, description and settings of a task
# but drops its triggers, principal and actions, and its schtasks has no
# /Query: those are checked in the definition the installer registered.
check "registers the task" "grep -Fq 'Starts Quorvex Server every 15 minutes.' \"\$task\""
for line in '<Interval>PT15M</Interval>' '<UserId>SYSTEM</UserId>' '<LogonType>ServiceAccount</LogonType>' \
  '<Command>"C:\Program Files\Quorvex\QuorvexServer.exe"</Command>' \
  '<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'; do
  check "the task has $line" "definition '$line'"
done

printf '[CONEXION]\r\nSERVERDB=sqlite:quorvex.sqlite3\r\n' >"$dir/QuorvexServer.ini"
cp "$dir/QuorvexServer.ini" "$2/edited.ini" && echo data >"$dir/quorvex.sqlite3"
check "a second install with another account succeeds" "wine '$setup' /S '/ACCOUNT=QUORVEX\\svc-quorvex\$'"
check "a second install keeps the edited settings file" "cmp '$2/edited.ini' \"\$dir/QuorvexServer.ini\""
check "the task runs under the account named" "definition '<UserId>QUORVEX\\svc-quorvex\$</UserId>' &&
  definition '<LogonType>Password</LogonType>'"

# The uninstaller runs from a copy of itself in the temporary folder; it is
# done once it has removed its own file, the last one.
wine "$dir/Uninstall.exe" /S
for _ in $(seq 150); do [ -e "$dir/Uninstall.exe" ] || break; sleep 0.2; done
for f in "${installed[@]}"; do check "uninstall removes $f" "test ! -e \"\$dir/$f\""; done
check "uninstall removes the task" "test ! -e \"\$task\""
check "uninstall removes the event source" "! wine reg query \"\$source_key\""
check "uninstall keeps the settings file" "cmp '$2/edited.ini' \"\$dir/QuorvexServer.ini\""
check "uninstall keeps the database" "test -s \"\$dir/quorvex.sqlite3\""
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

; The Windows installer of Quorvex Server, made by makensis on the build
; machine (packaging/windows/windows.cmake), which defines:
;   VERSION     the product version
;   OUTFILE     the setup program to write
;   PROGRAMS    a script with the macros InstallPrograms and RemovePrograms:
;               the File and Delete lines of every program the build made
;   SOURCE_DIR  the source tree (schema script)
;   SETTINGS_EXAMPLE  the Windows settings example, with CRLF line ends
;   ACCESS_TOOL the program that sets permissions (installer_access.cc)
;
; It installs one program folder, registers the event source Quorvex with
; the job's own message table, and registers a scheduled task that starts
; the job every 15 minutes. Options besides NSIS's own /S and /D=:
;   /ACCOUNT=name    the account the task runs under (default SYSTEM)
;   /PASSWORD=text   that account's password; needed for an ordinary user,
;                    not for SYSTEM, LOCAL SERVICE, NETWORK SERVICE or a
;                    group managed service account (DOMAIN\name$). It runs
;                    to the next "/" outside double quotes, so a password
;                    holding "/" is written between double quotes.
;   /METRICS=folder  the folder where every run writes quorvex.prom for
;                    windows_exporter's textfile collector (the system
;                    environment variable QUORVEX_METRICS_DIR)
;
; Every installation secures, before it writes anything, the program
; folder, the settings file QuorvexServer.ini and the job's state folder
; %ProgramData%\Quorvex (see installer_access.cc for who gets what): a
; folder that others could change is renamed aside and made anew, and a
; program folder below a parent that others could change is refused. The
; settings file is made from QuorvexServer.ini.example when it is missing
; and is never overwritten; the uninstaller keeps it and the state folder.
; Exit status: 0 installed, 3 the program folder refused for a folder
; above it (nothing was changed), 2 any other failure.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include "${PROGRAMS}"

!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Quorvex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex Server"
!define TASK_NAME "Quorvex Server"
!define TASK_XML "QuorvexServer.task.xml"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "Quorvex Server ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvex"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Account
Var Password
Var StateFolder
Var Metrics

Function .onInit
  SetRegView 64
  ${GetParameters} $0
  ${GetOptions} $0 "/ACCOUNT=" $Account
  ${If} $Account == ""
    StrCpy $Account "SYSTEM"
  ${EndIf}
  ${GetOptions} $0 "/PASSWORD=" $Password
  ${GetOptions} $0 "/METRICS=" $Metrics
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Quotes $0 as one argument of a command line, the way Windows programs
; split theirs (CommandLineToArgvW): between double quotes, each double
; quote in it preceded by a backslash, and each run of backslashes that
; ends before a double quote, or before the closing one, doubled. So a
; password holding '"' or ending in '\' reaches schtasks as it is.
Function QuoteArgument
  Push $1 ; the result so far
  Push $2 ; the position in $0
  Push $3 ; the character there
  Push $4 ; backslashes not yet written
  StrCpy $1 '"'
  StrCpy $2 0
  StrCpy $4 ""
  ${Do}
    StrCpy $3 $0 1 $2
    ${If} $3 == ""
      ${ExitDo}
    ${ElseIf} $3 == "\"
      StrCpy $4 "$4\"
    ${ElseIf} $3 == '"'
      StrCpy $1 '$1$4$4\"'
      StrCpy $4 ""
    ${Else}
      StrCpy $1 "$1$4$3"
      StrCpy $4 ""
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  StrCpy $0 '$1$4$4"'
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Runs the permission program with the task's account and the arguments
; in $0 (already quoted); a failure ends the installation before anything
; more is written. What it renamed aside, and where to, is in the details
; list.
Function SecureAccess
  Push $1
  StrCpy $1 $0
  StrCpy $0 $Account
  Call QuoteArgument
  nsExec::ExecToLog '"$PLUGINSDIR\quorvex-access.exe" $0 $1'
  Pop $0
  ${If} $0 == 3
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR is not installed into: a folder above it may be changed by other users, who could put a folder of their own in its place (the details list names it). Choose a folder below one that only administrators may change, such as $PROGRAMFILES64." /SD IDOK
    SetErrorLevel 3
    Quit
  ${ElseIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "The permissions of the installation could not be set (quorvex-access ended with $0); nothing more was installed. The details list says why." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $1
FunctionEnd

; The arguments naming $INSTDIR, its settings file and the state folder,
; each quoted, in $0.
Function AccessTargets
  Push $1
  StrCpy $0 $INSTDIR
  Call QuoteArgument
  StrCpy $1 "program $0"
  StrCpy $0 "$INSTDIR\QuorvexServer.ini"
  Call QuoteArgument
  StrCpy $1 "$1 settings $0"
  StrCpy $0 $StateFolder
  Call QuoteArgument
  StrCpy $0 "$1 state $0"
  Pop $1
FunctionEnd

; Writes the task's definition into the program folder (where it stays, so
; that the task can be registered again by hand) in UTF-16, as schtasks
; reads it. A password cannot be part of the definition: schtasks takes it.
Function WriteTaskDefinition
  ; The built-in service accounts log on without a password; a user or a
  ; group managed service account (name ending in $) logs on with one,
  ; given here or kept by the domain.
  StrCpy $1 "ServiceAccount"
  StrCpy $2 $Account 1 -1
  ${If} $Password != ""
  ${OrIf} $2 == "$$"
    StrCpy $1 "Password"
  ${EndIf}
  FileOpen $0 "$INSTDIR\${TASK_XML}" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Starts Quorvex Server every 15 minutes.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <TimeTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <Repetition><Interval>PT15M</Interval></Repetition>$\r$\n'
  FileWriteUTF16LE $0 '      <StartBoundary>2024-01-01T00:00:00</StartBoundary>$\r$\n'
  FileWriteUTF16LE $0 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '    </TimeTrigger>$\r$\n'
  FileWriteUTF16LE $0 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals>$\r$\n'
  FileWriteUTF16LE $0 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $0 '      <UserId>$Account</UserId>$\r$\n'
  FileWriteUTF16LE $0 '      <LogonType>$1</LogonType>$\r$\n'
  FileWriteUTF16LE $0 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $0 '    </Principal>$\r$\n'
  FileWriteUTF16LE $0 '  </Principals>$\r$\n'
  ; A start while a run is still going is skipped (the job's own guard
  ; would refuse it anyway); a missed start is made up at once; a run that
  ; hangs is stopped after 10 minutes so that the next start can go ahead.
  FileWriteUTF16LE $0 '  <Settings>$\r$\n'
  FileWriteUTF16LE $0 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StartWhenAvailable>true</StartWhenAvailable>$\r$\n'
  FileWriteUTF16LE $0 '    <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '    <ExecutionTimeLimit>PT10M</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $0 '  </Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $0 '    <Exec>$\r$\n'
  FileWriteUTF16LE $0 '      <Command>"$INSTDIR\QuorvexServer.exe"</Command>$\r$\n'
  FileWriteUTF16LE $0 '      <WorkingDirectory>$INSTDIR</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $0 '    </Exec>$\r$\n'
  FileWriteUTF16LE $0 '  </Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
FunctionEnd

Section "Quorvex Server"
  ; The permissions first: the folder may exist already, made or opened
  ; by another user (a drive's root lets them all create folders), and is
  ; then renamed aside before the programs go into a new one. The program
  ; that sets them runs from the installer's own temporary folder.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\quorvex-access.exe" "${ACCESS_TOOL}"
  SetShellVarContext all
  StrCpy $StateFolder "$APPDATA\Quorvex"
  Call AccessTargets
  Call SecureAccess
  ; It has also deleted, without following links, the libraries and .local
  ; redirections in the program folder, which the statically linked
  ; programs never need and the job would load in place of the system's.

  SetOutPath "$INSTDIR"
  !insertmacro InstallPrograms
  File "/oname=QuorvexServer.ini.example" "${SETTINGS_EXAMPLE}"
  ; The settings: made from the example when missing, never overwritten,
  ; and their permissions set again on every installation.
  ${IfNot} ${FileExists} "$INSTDIR\QuorvexServer.ini"
    CopyFiles /SILENT "$INSTDIR\QuorvexServer.ini.example" "$INSTDIR\QuorvexServer.ini"
  ${EndIf}
  StrCpy $0 "$INSTDIR\QuorvexServer.ini"
  Call QuoteArgument
  StrCpy $0 "settings $0"
  Call SecureAccess
  SetOutPath "$INSTDIR\sql\sqlserver"
  File "${SOURCE_DIR}/sql/sqlserver/schema.sql"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Event Viewer reads the text of the job's entries from the job's own
  ; message table: information, warning and error entries.
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\QuorvexServer.exe"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorvex Server"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; A task has no environment of its own: the metrics folder is the
  ; system's, which every run started afterwards reads.
  ${If} $Metrics != ""
    WriteRegStr HKLM "${ENVIRONMENT_KEY}" "QUORVEX_METRICS_DIR" $Metrics
  ${EndIf}

  ; The task replaces one left by an earlier installation. The password
  ; is on schtasks' command line for as long as it runs (docs/install-windows.md).
  Call WriteTaskDefinition
  ${If} $Password == ""
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /XML "$INSTDIR\${TASK_XML}"'
  ${Else}
    StrCpy $0 $Account
    Call QuoteArgument
    StrCpy $1 $0
    StrCpy $0 $Password
    Call QuoteArgument
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /XML "$INSTDIR\${TASK_XML}" /RU $1 /RP $0'
  ${EndIf}
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "The scheduled task $\"${TASK_NAME}$\" could not be registered (schtasks ended with $0). Register it with:$\r$\nschtasks /Create /TN $\"${TASK_NAME}$\" /XML $\"$INSTDIR\${TASK_XML}$\"" /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd

; Removes what the installation made and nothing else: the settings file,
; databases and whatever else the folder holds stay, and so does the folder
; then; so does the state folder, whose content the next installation's
; runs may need.
Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegValue HKLM "${ENVIRONMENT_KEY}" "QUORVEX_METRICS_DIR"
  !insertmacro RemovePrograms
  Delete "$INSTDIR\QuorvexServer.ini.example"
  Delete "$INSTDIR\${TASK_XML}"
  Delete "$INSTDIR\sql\sqlserver\schema.sql"
  RMDir "$INSTDIR\sql\sqlserver"
  RMDir "$INSTDIR\sql"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
